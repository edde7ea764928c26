#include "platform/foundation/HugePages.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace platform {

void adviseHugePages(void* data, std::size_t size) {
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    if (data == nullptr || size < kHugePageSize || start > UINTPTR_MAX - size) {
        return;
    }
    const std::uintptr_t first = (start + kHugePageSize - 1) & ~(kHugePageSize - 1);
    const std::uintptr_t end = (start + size) & ~(kHugePageSize - 1);
    if (first < end) {
        // Refused advice (no transparent large pages here) leaves ordinary pages: nothing to do.
        (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
}

void* allocateOnHugePages(std::size_t size) {
    if (size == 0 || size > SIZE_MAX - kHugePageSize) {
        return nullptr;
    }
    // aligned_alloc wants a multiple of the alignment; only the part asked for is advised, so
    // the rounding is never backed by a page of its own.
    const std::size_t rounded = (size + kHugePageSize - 1) & ~(kHugePageSize - 1);
    void* block = std::aligned_alloc(kHugePageSize, rounded);
    adviseHugePages(block, size);
    return block;
}

}  // namespace platform
