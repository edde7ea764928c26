#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <limits>

#include "platform/foundation/Value.h"

// Output-buffer helpers shared by the gzip and link coders.
namespace zlib_buffer {

// zlib counts input and output in 32-bit units.
inline bool fits(std::size_t size) {
    return size <= std::numeric_limits<uInt>::max();
}

// Room from produced up to limit, in zlib's unit.
inline uInt roomBefore(std::size_t limit, std::size_t produced) {
    return static_cast<uInt>(
        std::min<std::size_t>(limit - produced, std::numeric_limits<uInt>::max()));
}

inline uInt roomAfter(const platform::Bytes& out, std::size_t produced) {
    return roomBefore(out.size(), produced);
}

// Grows by step without passing limit. Capacity doubles where the limit allows, so many small
// steps stay cheap, yet no single allocation goes beyond the limit.
inline void grow(platform::Bytes& out, std::size_t step, std::size_t limit) {
    const std::size_t target = out.size() + std::min(step, limit - out.size());
    if (target > out.capacity()) {
        out.reserve(std::min(std::max(target, out.capacity() * 2), limit));
    }
    out.resize(target);
}

}  // namespace zlib_buffer
