#include "utils/allocation/LargestAllocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace allocation_probe {

namespace {

std::atomic<bool> watching{false};
std::atomic<std::size_t> largest{0};

void note(std::size_t size) {
    if (!watching.load(std::memory_order_relaxed)) {
        return;
    }
    std::size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}

void* allocate(std::size_t size) noexcept {
    note(size);
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

LargestAllocation::LargestAllocation() {
    largest = 0;
    watching = true;
}

LargestAllocation::~LargestAllocation() {
    watching = false;
}

std::size_t LargestAllocation::bytes() const {
    return largest.load();
}

}  // namespace allocation_probe

// Every non-aligned form is replaced, so that each block is freed by the allocator that made it.
void* operator new(std::size_t size) {
    if (void* block = allocation_probe::allocate(size)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocation_probe::allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocation_probe::allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
