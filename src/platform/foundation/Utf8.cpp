#include "platform/foundation/Utf8.h"

#include <cstdint>

namespace platform {

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<std::uint8_t>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) {
                low = 0xA0;  // overlong
            } else if (c == 0xED) {
                high = 0x9F;  // surrogates
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) {
                low = 0x90;  // overlong
            } else if (c == 0xF4) {
                high = 0x8F;  // past U+10FFFF
            }
        } else {
            return false;
        }
        if (n - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            const std::uint8_t lo = k == 1 ? low : std::uint8_t{0x80};
            const std::uint8_t hi = k == 1 ? high : std::uint8_t{0xBF};
            if (next < lo || next > hi) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace platform
