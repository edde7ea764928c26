#include "platform/image/PixelMemory.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/HugePages.h"

namespace platform::image {

struct PixelBlock::Store {
    struct Kept {
        void* data;
        std::size_t capacity;
    };

    std::size_t maxBytes;
    std::size_t maxBlocks;
    mutable std::mutex mutex;
    // Oldest first.
    std::vector<Kept> kept;

    ~Store() {
        for (const Kept& block : kept) {
            std::free(block.data);
        }
    }

    std::size_t keptBytesLocked() const {
        std::size_t total = 0;
        for (const Kept& block : kept) {
            total += block.capacity;
        }
        return total;
    }

    void keep(void* data, std::size_t capacity) {
        std::vector<void*> dropped;
        {
            std::lock_guard lock(mutex);
            if (capacity > maxBytes || maxBlocks == 0) {
                dropped.push_back(data);
            } else {
                kept.push_back({data, capacity});
                while (kept.size() > maxBlocks || keptBytesLocked() > maxBytes) {
                    dropped.push_back(kept.front().data);
                    kept.erase(kept.begin());
                }
            }
        }
        std::for_each(dropped.begin(), dropped.end(), std::free);
    }

    // The smallest kept block that holds size bytes without wasting more than as much again.
    std::optional<Kept> take(std::size_t size) {
        std::lock_guard lock(mutex);
        auto best = kept.end();
        for (auto block = kept.begin(); block != kept.end(); ++block) {
            if (block->capacity >= size && block->capacity / 2 <= size &&
                (best == kept.end() || block->capacity < best->capacity)) {
                best = block;
            }
        }
        if (best == kept.end()) {
            return std::nullopt;
        }
        const Kept found = *best;
        kept.erase(best);
        return found;
    }
};

PixelBlock::~PixelBlock() {
    if (const auto store = store_.lock()) {
        store->keep(data_, capacity_);
    } else {
        std::free(data_);
    }
}

PixelMemory::PixelMemory(std::size_t maxKeptBytes, std::size_t maxKeptBlocks)
    : store_(std::make_shared<PixelBlock::Store>()) {
    store_->maxBytes = maxKeptBytes;
    store_->maxBlocks = maxKeptBlocks;
}

PixelMemory::~PixelMemory() = default;

PixelMemory& PixelMemory::shared() {
    return installedOr([]() -> PixelMemory& {
        static PixelMemory made;
        return made;
    });
}

std::unique_ptr<PixelBlock> PixelMemory::lend(std::size_t size) {
    if (const auto kept = store_->take(size)) {
        return std::unique_ptr<PixelBlock>(new PixelBlock(store_, kept->data, kept->capacity));
    }
    void* data = allocateOnHugePages(size);
    if (data == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<PixelBlock>(new PixelBlock(store_, data, size));
}

void PixelMemory::purge() {
    std::vector<PixelBlock::Store::Kept> dropped;
    {
        std::lock_guard lock(store_->mutex);
        dropped.swap(store_->kept);
    }
    for (const auto& block : dropped) {
        std::free(block.data);
    }
}

std::size_t PixelMemory::keptBytes() const {
    std::lock_guard lock(store_->mutex);
    return store_->keptBytesLocked();
}

}  // namespace platform::image
