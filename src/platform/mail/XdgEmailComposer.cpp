#include "platform/mail/XdgEmailComposer.h"

#include <mutex>
#include <thread>
#include <utility>

#include "platform/foundation/LogSink.h"
#include "platform/foundation/Process.h"

namespace platform::mail {

// What the composer's waiting threads share with it: the loop to answer on, while the
// composer lives.
struct XdgEmailComposer::Shared {
    std::mutex mutex;
    RunLoop* loop = nullptr;

    void answer(Completion completion, Result<Delivery> result) {
        std::lock_guard lock(mutex);
        if (loop != nullptr) {
            loop->post([completion = std::move(completion), result = std::move(result)] {
                completion(result);
            });
        }
    }
};

XdgEmailComposer::XdgEmailComposer(RunLoop& loop, EmlOutbox outbox, std::string program, Run run)
    : program_(std::move(program)),
      run_(std::move(run)),
      outbox_(std::move(outbox)),
      shared_(std::make_shared<Shared>()) {
    shared_->loop = &loop;
}

XdgEmailComposer::~XdgEmailComposer() {
    std::lock_guard lock(shared_->mutex);
    shared_->loop = nullptr;
}

bool XdgEmailComposer::canSendMail() const {
    return findProgram(program_).has_value() || outbox_.isWritable();
}

std::vector<std::string> XdgEmailComposer::arguments(const std::string& program, const Mail& mail) {
    std::vector<std::string> words{program,      "--utf8", "--subject",
                                   mail.subject, "--body", mail.body};
    for (const Attachment& attachment : mail.attachments) {
        std::error_code error;
        const auto absolute = std::filesystem::absolute(attachment.path, error);
        words.emplace_back("--attach");
        words.push_back(error ? attachment.path.string() : absolute.string());
    }
    for (const std::string& recipient : mail.recipients) {
        if (isPlainAddress(recipient)) {
            words.push_back(recipient);
        }
    }
    return words;
}

std::optional<int> XdgEmailComposer::runToEnd(std::span<const std::string> arguments) {
    const std::optional<int> child = startProgram(arguments);
    return child ? waitForExit(*child) : std::nullopt;
}

void XdgEmailComposer::compose(Mail mail, Completion completion) {
    // Waited for apart: a mail program may stay until the user closes it, and nobody should
    // wait for that, not even the composer's end.
    std::vector<std::string> words = arguments(program_, mail);
    std::thread([words = std::move(words), mail = std::move(mail), run = run_, outbox = outbox_,
                 shared = shared_, completion = std::move(completion)]() mutable {
        const std::optional<int> status = run(words);
        if (status == 0) {
            shared->answer(std::move(completion), Delivery{});
            return;
        }
        if (status) {
            PLATFORM_LOG_WARN("mail: ", words.front(), " ended with status ", *status,
                              "; the mail goes to the outbox");
        } else {
            PLATFORM_LOG_INFO("mail: ", words.front(),
                              " cannot be run here; the mail goes to the outbox");
        }
        auto stored = outbox.store(mail);
        if (!stored.ok()) {
            PLATFORM_LOG_ERROR("mail: ", stored.error().message);
            shared->answer(std::move(completion), stored.error());
            return;
        }
        shared->answer(std::move(completion),
                       Delivery{.kind = Delivery::Kind::outbox, .outboxFile = *stored});
    }).detach();
}

void RecordingMailComposer::compose(Mail mail, Completion completion) {
    mails.push_back(std::move(mail));
    loop_.post([completion = std::move(completion), answer = answer] { completion(answer); });
}

}  // namespace platform::mail
