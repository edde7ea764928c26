#pragma once

#include <cstddef>
#include <memory>

#include "platform/foundation/Replaceable.h"

namespace platform::image {

class PixelMemory;

// The memory of one large bitmap, lent by a PixelMemory. Deleting it hands the block back, or
// frees it once its memory is gone.
class PixelBlock {
public:
    ~PixelBlock();
    PixelBlock(const PixelBlock&) = delete;
    PixelBlock& operator=(const PixelBlock&) = delete;

    [[nodiscard]] void* data() const { return data_; }

private:
    friend class PixelMemory;
    struct Store;
    PixelBlock(std::weak_ptr<Store> store, void* data, std::size_t capacity)
        : store_(std::move(store)), data_(data), capacity_(capacity) {}

    std::weak_ptr<Store> store_;
    void* data_;
    std::size_t capacity_;
};

// Where large bitmaps (a decoded photo, its forced decode) take their memory: blocks on huge
// pages, and a few that bitmaps gave back kept for the next. A fresh block costs a fault per
// page as the pixels first land in it, which on a virtual machine took longer than the decode
// itself; a kept one is already there. What is kept is bounded, and purge gives it all back.
class PixelMemory : public Replaceable<PixelMemory> {
public:
    // Smaller bitmaps are left to Qt's own allocation: their pages are few.
    static constexpr std::size_t kLargeBitmapBytes = std::size_t{4} << 20;

    explicit PixelMemory(std::size_t maxKeptBytes = std::size_t{64} << 20,
                         std::size_t maxKeptBlocks = 2);
    ~PixelMemory();
    PixelMemory(const PixelMemory&) = delete;
    PixelMemory& operator=(const PixelMemory&) = delete;

    // The installed memory, else one made on first use.
    static PixelMemory& shared();

    // A block of at least size bytes: a kept one that fits (not more than twice as large), else
    // a new one; nullptr when there is no memory.
    [[nodiscard]] std::unique_ptr<PixelBlock> lend(std::size_t size);
    // Frees the blocks kept for later.
    void purge();
    [[nodiscard]] std::size_t keptBytes() const;

private:
    std::shared_ptr<PixelBlock::Store> store_;
};

}  // namespace platform::image
