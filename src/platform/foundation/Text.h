#pragma once

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

}  // namespace platform
