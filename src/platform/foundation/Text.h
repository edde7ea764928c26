#pragma once

#include <string>
#include <string_view>

namespace platform {

// text without ASCII spaces, tabs and line ends at either end: for the plain-text formats of
// system files, property lists and scripts (Unicode white space is TQUtils' business).
[[nodiscard]] constexpr std::string_view trimmedAsciiSpace(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// The value of one hexadecimal digit, either case; -1 for any other character.
[[nodiscard]] constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// text with its ASCII letters in lower or upper case; other bytes stay as they are, so the
// user's locale has no say (schemes, host names, country codes).
[[nodiscard]] inline std::string asciiLowercased(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}
[[nodiscard]] inline std::string asciiUppercased(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

}  // namespace platform
