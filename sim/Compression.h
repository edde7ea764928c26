#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/foundation/Value.h"

namespace kavowatch {

using platform::Bytes;

// Far above any real message, yet a small hostile payload cannot make the watch reserve more.
inline constexpr std::size_t kMaxMessageSize = 16 << 20;

// Every message travels compressed. The watch writes a zlib stream; the phone reads zlib and
// gzip alike.
[[nodiscard]] Bytes compressMessage(std::span<const std::uint8_t> message);

struct Inflated {
    enum class Status {
        inflated,
        // The bytes do not begin like a zlib or gzip stream: they are the message itself.
        notCompressed,
        // A stream that is damaged, ends early or grows past the bound: nothing to deliver.
        damaged,
    };
    Status status = Status::damaged;
    Bytes data;
};

// Reads a zlib or gzip stream.
[[nodiscard]] Inflated inflateMessage(std::span<const std::uint8_t> payload,
                                      std::size_t maxOutput = kMaxMessageSize);

}  // namespace kavowatch
