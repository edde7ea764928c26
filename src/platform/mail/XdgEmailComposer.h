#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/mail/EmlMessage.h"
#include "platform/mail/Mail.h"

namespace platform::mail {

// Hands mails to the desktop's mail program through xdg-email, started with an argument
// vector (never a shell) and the attachments by path. When the program is missing or ends
// with a failure, the mail goes into the outbox as a message file instead. The program is
// waited for on a thread of its own, which also writes the outbox file; the completion comes
// on the loop, and not at all once the composer is gone.
class XdgEmailComposer final : public MailComposer {
public:
    // Runs the program (arguments[0]) to its end: its exit status, or nothing when it could
    // not start or did not exit by itself.
    using Run = std::function<std::optional<int>(std::span<const std::string> arguments)>;

    XdgEmailComposer(RunLoop& loop, EmlOutbox outbox, std::string program = "xdg-email",
                     Run run = runToEnd);
    ~XdgEmailComposer() override;
    XdgEmailComposer(const XdgEmailComposer&) = delete;
    XdgEmailComposer& operator=(const XdgEmailComposer&) = delete;

    // True when the program is found (on PATH unless its name holds a slash) or the outbox
    // can be written.
    [[nodiscard]] bool canSendMail() const override;
    void compose(Mail mail, Completion completion) override;

    // program, "--utf8", "--subject" and "--body" with their texts, "--attach" and an absolute
    // path per attachment, then the plain addresses among the recipients.
    [[nodiscard]] static std::vector<std::string> arguments(const std::string& program,
                                                            const Mail& mail);
    // posix_spawnp with the process's environment, then waitpid.
    static std::optional<int> runToEnd(std::span<const std::string> arguments);

private:
    struct Shared;

    std::string program_;
    Run run_;
    EmlOutbox outbox_;
    std::shared_ptr<Shared> shared_;
};

// The test double: keeps every mail and answers each with `answer`, later on the loop.
class RecordingMailComposer final : public MailComposer {
public:
    explicit RecordingMailComposer(RunLoop& loop) : loop_(loop) {}

    [[nodiscard]] bool canSendMail() const override { return canSend; }
    void compose(Mail mail, Completion completion) override;

    std::vector<Mail> mails;
    bool canSend = true;
    Result<Delivery> answer = Delivery{};

private:
    RunLoop& loop_;
};

}  // namespace platform::mail
