#pragma once

#include <string_view>

namespace platform {

// Whether text is well-formed UTF-8: shortest forms only, no surrogates, nothing past U+10FFFF.
[[nodiscard]] bool isValidUtf8(std::string_view text);

}  // namespace platform
