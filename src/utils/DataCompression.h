#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "platform/foundation/Value.h"

namespace compression {

using platform::Bytes;

// The largest message the watch link inflates: far above any real one, yet a small hostile
// payload cannot make the phone reserve more.
inline constexpr std::size_t kMaxLinkMessage = 16 << 20;

// Gzip-wrapped deflate of a whole link message. An empty input comes back as it is.
[[nodiscard]] std::optional<Bytes> dataDeflate(std::span<const std::uint8_t> data);

// Inflates a zlib- or gzip-wrapped link message. An empty input comes back as it is; nothing
// on a damaged stream, one that ends before its end marker, or one larger than maxOutput.
[[nodiscard]] std::optional<Bytes> dataInflate(std::span<const std::uint8_t> data,
                                               std::size_t maxOutput = kMaxLinkMessage);

// Why an inflate failed: the stream was damaged or is no stream at all, it ended before its
// end marker, or it would have grown past the bound.
enum class InflateFailure { damaged, truncated, tooLarge };

// dataInflate, telling why it failed.
[[nodiscard]] std::variant<Bytes, InflateFailure> inflateLinkMessage(
    std::span<const std::uint8_t> data, std::size_t maxOutput = kMaxLinkMessage);

}  // namespace compression
