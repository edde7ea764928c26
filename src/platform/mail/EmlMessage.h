#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/foundation/Result.h"
#include "platform/mail/Mail.h"

namespace platform::mail {

// What a message needs beside the mail itself.
struct EmlEnvelope {
    std::string from{};         // an address; "user@host" of this machine by default
    std::int64_t unixTime = 0;  // the Date field, in UTC
    // Separates the parts. It never occurs in the Base64 the parts are coded in, since it
    // holds "=_", which Base64 cannot produce.
    std::string boundary = "=_kavo_mail_boundary";
};

// The mail as an RFC 5322 message: CR LF lines, Date, From, To (plain addresses only),
// Subject (RFC 2047 encoded words unless it is short printable ASCII), MIME-Version and
// "X-Unsent: 1", so that a mail program opens it as a draft. The body is text/plain in UTF-8,
// coded in Base64 like every attachment, so no line can grow past the limit; with attachments
// it is multipart/mixed. Each attachment is read whole, refused past maxAttachmentBytes.
[[nodiscard]] Result<std::string> emlMessage(const Mail& mail, const EmlEnvelope& envelope,
                                             std::size_t maxAttachmentBytes = std::size_t{64}
                                                                              << 20);

// "user@host" of the process's user on this machine; "user@localhost" without a host name.
[[nodiscard]] std::string localSender();

// Writes mails as message files into one folder (made when missing): "<UTC stamp>.eml", with
// "-2", "-3", ... for another in the same second. Each file is written whole or not at all.
class EmlOutbox {
public:
    using Clock = std::function<std::int64_t()>;  // seconds since 1970

    EmlOutbox(std::filesystem::path folder, Clock now, std::string from = localSender());

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }
    // Whether a file can be written there: the folder, or the nearest folder above it that
    // exists when it is still to be made, lets this process write.
    [[nodiscard]] bool isWritable() const;
    // The file written.
    Result<std::filesystem::path> store(const Mail& mail) const;

private:
    std::filesystem::path folder_;
    Clock now_;
    std::string from_;
};

}  // namespace platform::mail
