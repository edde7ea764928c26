#include "platform/mail/EmlMessage.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <system_error>
#include <utility>

#include "platform/foundation/Base64.h"
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/LogSink.h"
#include "platform/foundation/Utf8.h"

namespace platform::mail {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::size_t kBase64Line = 76;
// Bytes of text per encoded word: 60 Base64 characters, well inside a 75-character word.
constexpr std::size_t kWordBytes = 45;
constexpr std::size_t kPlainSubjectLimit = 900;

bool isPrintableAscii(std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

std::string base64Lines(std::string_view data) {
    const std::string flat =
        base64::encode(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
    std::string lines;
    lines.reserve(flat.size() + (flat.size() / kBase64Line + 1) * 2);
    for (std::size_t at = 0; at < flat.size(); at += kBase64Line) {
        lines.append(flat, at, kBase64Line);
        lines += kCrLf;
    }
    return lines;
}

// Cut only between UTF-8 sequences, so every word decodes alone.
std::string encodedWords(std::string_view text) {
    std::string words;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = std::min(text.size(), at + kWordBytes);
        while (end < text.size() && end > at + 1 &&
               (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
        if (!words.empty()) {
            words += "\r\n ";
        }
        const std::string_view piece = text.substr(at, end - at);
        words += "=?UTF-8?B?";
        words += base64::encode(
            std::span(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
        words += "?=";
        at = end;
    }
    return words;
}

std::string subjectField(std::string_view subject) {
    if (isPrintableAscii(subject) && subject.size() <= kPlainSubjectLimit &&
        subject.find("=?") == std::string_view::npos) {
        return std::string(subject);
    }
    return encodedWords(isValidUtf8(subject) ? subject : std::string_view("?"));
}

// A quoted file name when it is printable ASCII without quotes; otherwise the RFC 2231 form.
std::string fileNameParameter(std::string_view parameter, std::string_view name) {
    if (isPrintableAscii(name) && name.find_first_of("\"\\") == std::string_view::npos) {
        return std::string(parameter) + "=\"" + std::string(name) + "\"";
    }
    std::string coded = std::string(parameter) + "*=UTF-8''";
    constexpr const char* kHex = "0123456789ABCDEF";
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (plain) {
            coded += ch;
        } else {
            coded += '%';
            coded += kHex[c >> 4];
            coded += kHex[c & 0x0F];
        }
    }
    return coded;
}

// MIME types are tokens; anything else is sent as plain bytes.
std::string mimeTypeOf(std::string_view type) {
    const auto slash = type.find('/');
    if (type.empty() || slash == std::string_view::npos || slash == 0 || slash + 1 == type.size()) {
        return "application/octet-stream";
    }
    for (const char ch : type) {
        const auto c = static_cast<unsigned char>(ch);
        const bool token = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') ||
                           std::string_view("!#$&-^_.+/").find(ch) != std::string_view::npos;
        if (!token) {
            return "application/octet-stream";
        }
    }
    return std::string(type);
}

std::string dateField(std::int64_t unixTime) {
    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                         "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const CivilTime civil = civilFromSeconds(unixTime);
    std::int64_t days = unixTime / 86400;
    if (unixTime % 86400 < 0) {
        --days;
    }
    const auto weekday = static_cast<std::size_t>(((days % 7) + 7 + 4) % 7);  // 1970-01-01: Thu
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04lld %02u:%02u:%02u +0000", kDays[weekday],
                  civil.day, kMonths[civil.month - 1], static_cast<long long>(civil.year),
                  civil.hour, civil.minute, civil.second);
    return text;
}

}  // namespace

bool isPlainAddress(std::string_view address) {
    const auto at = address.find('@');
    if (address.empty() || address.front() == '-' || at == std::string_view::npos || at == 0 ||
        at + 1 == address.size() || address.find('@', at + 1) != std::string_view::npos) {
        return false;
    }
    for (const char ch : address) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F || c == ',' || c == '<' || c == '>' || c == '"') {
            return false;
        }
    }
    return isValidUtf8(address);
}

Result<std::string> emlMessage(const Mail& mail, const EmlEnvelope& envelope,
                               std::size_t maxAttachmentBytes) {
    std::string message;
    message += "Date: " + dateField(envelope.unixTime) + kCrLf;
    if (isPlainAddress(envelope.from)) {
        message += "From: " + envelope.from + kCrLf;
    }
    std::string to;
    for (const std::string& recipient : mail.recipients) {
        if (isPlainAddress(recipient)) {
            to += (to.empty() ? "" : ",\r\n ") + recipient;
        }
    }
    if (!to.empty()) {
        message += "To: " + to + kCrLf;
    }
    message += "Subject: " + subjectField(mail.subject) + kCrLf;
    message += "MIME-Version: 1.0\r\nX-Unsent: 1\r\n";

    const std::string textHeaders =
        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    if (mail.attachments.empty()) {
        message += textHeaders + base64Lines(mail.body);
        return message;
    }
    const std::string delimiter = "--" + envelope.boundary;
    message += "Content-Type: multipart/mixed; boundary=\"" + envelope.boundary + "\"\r\n\r\n";
    message += delimiter + kCrLf + textHeaders + base64Lines(mail.body);
    for (const Attachment& attachment : mail.attachments) {
        auto content = fs::readFile(attachment.path, maxAttachmentBytes);
        if (!content.ok()) {
            return Error{
                kErrorDomain, kAttachmentUnreadable,
                "cannot attach " + attachment.path.string() + ": " + content.error().message};
        }
        const std::string name = attachment.shownName();
        message += delimiter + kCrLf;
        message += "Content-Type: " + mimeTypeOf(attachment.mimeType) + "; " +
                   fileNameParameter("name", name) + kCrLf;
        message +=
            "Content-Disposition: attachment; " + fileNameParameter("filename", name) + kCrLf;
        message += "Content-Transfer-Encoding: base64\r\n\r\n";
        message += base64Lines(*content);
    }
    message += delimiter + "--" + kCrLf;
    return message;
}

std::string localSender() {
    std::string user;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr) {
        user = entry->pw_name;
    }
    if (user.empty()) {
        user = "user";
    }
    std::array<char, 256> host{};
    if (gethostname(host.data(), host.size() - 1) != 0 || host[0] == '\0') {
        return user + "@localhost";
    }
    return user + "@" + host.data();
}

EmlOutbox::EmlOutbox(std::filesystem::path folder, Clock now, std::string from)
    : folder_(std::move(folder)), now_(std::move(now)), from_(std::move(from)) {}

bool EmlOutbox::isWritable() const {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(folder_, error);
    if (error) {
        return false;
    }
    // The first that exists decides; a file where a folder should be makes it unwritable.
    while (!std::filesystem::exists(folder, error)) {
        if (error || !folder.has_relative_path()) {
            return false;
        }
        folder = folder.parent_path();
    }
    return std::filesystem::is_directory(folder, error) &&
           access(folder.c_str(), W_OK | X_OK) == 0;
}

Result<std::filesystem::path> EmlOutbox::store(const Mail& mail) const {
    const std::int64_t now = now_();
    auto message = emlMessage(mail, EmlEnvelope{.from = from_, .unixTime = now});
    if (!message.ok()) {
        return message.error();
    }
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    const CivilTime civil = civilFromSeconds(now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04lld%02u%02u-%02u%02u%02u",
                  static_cast<long long>(civil.year), civil.month, civil.day, civil.hour,
                  civil.minute, civil.second);
    std::filesystem::path file = folder_ / (std::string(stamp) + ".eml");
    for (int n = 2; std::filesystem::exists(file, error); ++n) {
        file = folder_ / (std::string(stamp) + "-" + std::to_string(n) + ".eml");
    }
    if (auto written = fs::writeFileAtomically(file, *message); !written.ok()) {
        return Error{kErrorDomain, kOutboxUnwritable,
                     "cannot write " + file.string() + ": " + written.error().message};
    }
    PLATFORM_LOG_INFO("mail: the mail \"", mail.subject, "\" waits in the outbox as ",
                      file.string());
    return file;
}

}  // namespace platform::mail
