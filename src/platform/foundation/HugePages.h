#pragma once

#include <cstddef>

namespace platform {

// The large page the kernel can back anonymous memory with.
inline constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

// Asks the kernel to back the whole large pages inside [data, data + size) with large pages.
// Filling a fresh buffer of many megabytes (a decoded picture, a body gathered whole) then
// takes one fault per 2 MiB instead of one per 4 KiB, and on a virtual machine those faults
// were most of the time spent. Advice only: the contents stay as they are, and nothing happens
// where the kernel offers no large pages.
void adviseHugePages(void* data, std::size_t size);

// A block of at least size bytes aligned to a large page and advised as above, to be freed
// with std::free; nullptr when there is no memory. Uninitialised, as malloc's.
[[nodiscard]] void* allocateOnHugePages(std::size_t size);

}  // namespace platform
