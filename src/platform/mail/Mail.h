#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"

namespace platform::mail {

inline constexpr const char* kErrorDomain = "platform.mail";
enum ErrorCode : long { kAttachmentUnreadable = 1, kOutboxUnwritable = 2 };

// A file handed over with a mail, by path: it is read only when the mail leaves the process.
struct Attachment {
    std::filesystem::path path{};
    std::string mimeType = "application/octet-stream";
    // The name the receiver sees; the path's own name when empty.
    std::string fileName{};

    [[nodiscard]] std::string shownName() const {
        return fileName.empty() ? path.filename().string() : fileName;
    }
};

// A mail the user is offered to send. Recipients that are not plain addresses (empty ones
// included) are left out wherever the mail goes, so none can pass as an option or a header.
struct Mail {
    std::vector<std::string> recipients{};
    std::string subject{};
    std::string body{};  // plain text, UTF-8
    std::vector<Attachment> attachments{};
};

// Where a mail went: to the user's mail program, or as a message file into the outbox.
struct Delivery {
    enum class Kind { mailProgram, outbox };
    Kind kind = Kind::mailProgram;
    std::filesystem::path outboxFile{};  // for Kind::outbox
};

// Hands a mail to the user. The answer comes once, later, on the composer's run loop.
class MailComposer {
public:
    using Completion = std::function<void(const Result<Delivery>&)>;

    virtual ~MailComposer() = default;
    // Whether a mail handed over now would go anywhere: to a mail program or into the outbox.
    [[nodiscard]] virtual bool canSendMail() const = 0;
    virtual void compose(Mail mail, Completion completion) = 0;
};

// An address that may be handed on: no white space or control characters, one "@" with text
// on both sides, and not beginning with "-".
[[nodiscard]] bool isPlainAddress(std::string_view address);

}  // namespace platform::mail
