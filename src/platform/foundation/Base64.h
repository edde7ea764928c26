#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform::base64 {

[[nodiscard]] std::string encode(std::span<const std::uint8_t> data);
// Decodes standard base64 with or without padding, ignoring white space; nothing when the
// text holds any other character or ends in the middle of a byte.
[[nodiscard]] std::optional<Bytes> decode(std::string_view text);

}  // namespace platform::base64
