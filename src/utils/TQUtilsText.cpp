#include <utility>

#include "platform/foundation/Text.h"
#include "platform/foundation/Utf8.h"
#include "utils/TQUtils.h"

namespace {

// Decodes the UTF-8 sequence at the start of text when it is one of at most three bytes in
// its shortest form (every white space character is); length 0 otherwise.
std::pair<char32_t, std::size_t> leadingCodePoint(std::string_view text) {
    if (text.empty()) {
        return {0, 0};
    }
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](std::size_t i) {
        return i < text.size() && (byte(i) & 0xC0) == 0x80;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    if ((lead & 0xE0) == 0xC0 && continuation(1)) {
        const char32_t c = (char32_t{lead} & 0x1F) << 6 | (byte(1) & 0x3F);
        return c >= 0x80 ? std::pair{c, std::size_t{2}} : std::pair{char32_t{0}, std::size_t{0}};
    }
    if ((lead & 0xF0) == 0xE0 && continuation(1) && continuation(2)) {
        const char32_t c =
            (char32_t{lead} & 0x0F) << 12 | (char32_t{byte(1)} & 0x3F) << 6 | (byte(2) & 0x3F);
        return c >= 0x800 ? std::pair{c, std::size_t{3}} : std::pair{char32_t{0}, std::size_t{0}};
    }
    return {0, 0};
}

bool isWhiteSpaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

std::string TQUtils::convertNumberToLocalize(std::int64_t number) {
    // The locales this runs in write Western digits without a style's grouping.
    return std::to_string(number);
}

std::string TQUtils::escapeString(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool kept = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                          (u >= '0' && u <= '9') || u == '-' || u == '.' || u == '_' || u == '~';
        if (kept) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> TQUtils::unescapeString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 3) {
            return std::nullopt;
        }
        const int high = platform::hexDigitValue(text[i + 1]);
        const int low = platform::hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    if (!platform::isValidUtf8(out)) {
        return std::nullopt;
    }
    return out;
}

std::string_view TQUtils::trimmedWhiteSpaceAndNewlines(std::string_view text) {
    while (!text.empty()) {
        const auto [c, length] = leadingCodePoint(text);
        if (length == 0 || !isWhiteSpaceOrNewline(c)) {
            break;
        }
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        std::size_t trailing = 0;
        for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
            const auto [c, decoded] = leadingCodePoint(text.substr(text.size() - length));
            if (decoded == length) {
                trailing = isWhiteSpaceOrNewline(c) ? length : 0;
                break;
            }
        }
        if (trailing == 0) {
            break;
        }
        text.remove_suffix(trailing);
    }
    return text;
}
