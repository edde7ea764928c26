#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imagecache/WIMemoryCache.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/image/Image.h"

// Where an image came from.
enum class ImageCacheType { none = 0, disk = 1, memory = 2 };

using ImageCacheQueryDone =
    std::function<void(std::optional<platform::image::Image> image, ImageCacheType cacheType)>;

// Stands for a pending disk lookup; cancelling it before the lookup runs means no answer.
class WIImageCacheQuery {
public:
    void cancel() { cancelled_.store(true); }
    [[nodiscard]] bool isCancelled() const { return cancelled_.load(); }

private:
    std::atomic<bool> cancelled_{false};
};

// True for data of at least 8 bytes that begins with the PNG signature.
[[nodiscard]] bool DataHasPNGSignature(std::span<const std::uint8_t> data);

// Decoded images in two levels: memory (emptied whenever memory is short) and a folder of
// files named by the MD5 of their key, which outlives the process. File work runs on one
// serial queue ("com.corvantis.WIWebImageCache") in submission order; answers of lookups,
// checks, removals and clean-ups come on the main queue. A file that cannot be written or
// read is logged and is a miss, never an image. The folder is cleaned by age and, with a
// limit, by size when the application terminates or goes to the background.
class WIImageCache {
public:
    // Seconds since 1970; files are stamped with it when written and aged by it when cleaned.
    using WallClock = std::function<double()>;
    using Done = std::function<void()>;

    static constexpr std::int64_t kDefaultMaxCacheAge = 604800;  // a week

    // The namespace "default" under the container's caches folder.
    static std::shared_ptr<WIImageCache> sharedImageCache();
    // What sharedImageCache gives from now on (the composition root's, a test's); null makes
    // a fresh one on the next call.
    static void setSharedImageCache(std::shared_ptr<WIImageCache> cache);

    // The folder is `directory`/<full namespace>, or without one the container's caches
    // folder/<namespace>/<full namespace>.
    explicit WIImageCache(std::string_view nameSpace = "default",
                          std::optional<std::filesystem::path> directory = std::nullopt,
                          WallClock clock = {});
    ~WIImageCache();
    WIImageCache(const WIImageCache&) = delete;
    WIImageCache& operator=(const WIImageCache&) = delete;

    // The container's caches folder followed by the namespace.
    [[nodiscard]] static std::filesystem::path makeDiskCachePath(std::string_view nameSpace);
    // 32 lower-case hex digits of the key's MD5, then "." and the key's path extension when it
    // has one of 1 to 8 letters or digits (anything else, a query string say, is left out).
    [[nodiscard]] static std::string cachedFileNameForKey(std::string_view key);
    [[nodiscard]] std::filesystem::path cachePathForKey(std::string_view key,
                                                        const std::filesystem::path& folder) const;
    [[nodiscard]] std::filesystem::path defaultCachePathForKey(std::string_view key) const;
    [[nodiscard]] const std::filesystem::path& diskCachePath() const { return diskCachePath_; }
    void addReadOnlyCachePath(const std::filesystem::path& folder);

    // Nothing for an empty key. Memory at once, then the file on the queue: `data` as given
    // unless re-encoding is asked or there is none (PNG for PNG data or an image with alpha,
    // else JPEG at full quality).
    void storeImage(const platform::image::Image& image, bool recalculateFromImage,
                    std::optional<platform::Bytes> data, std::string_view key, bool toDisk);
    void storeImage(const platform::image::Image& image, std::string_view key, bool toDisk = true);

    // A memory hit answers at once on this thread and gives no query; otherwise the lookup is
    // queued and answers on the main queue with ImageCacheType::disk, hit or miss, unless the
    // query is cancelled first. No key: (nothing, none) at once.
    std::shared_ptr<WIImageCacheQuery> queryDiskCacheForKey(std::string_view key,
                                                            ImageCacheQueryDone done);
    [[nodiscard]] std::optional<platform::image::Image> imageFromMemoryCacheForKey(
        std::string_view key);
    // Memory, else the files read on this thread (and kept in memory).
    [[nodiscard]] std::optional<platform::image::Image> imageFromDiskCacheForKey(
        std::string_view key);
    // The key's bytes from the own folder, else from each read-only folder in order.
    [[nodiscard]] std::optional<platform::Bytes> diskImageDataBySearchingAllPathsForKey(
        std::string_view key) const;
    [[nodiscard]] std::optional<platform::image::Image> diskImageForKey(std::string_view key) const;
    // The own folder only, on this thread.
    [[nodiscard]] bool diskImageExistsWithKey(std::string_view key) const;
    // The same on the queue; the answer on the main queue.
    void diskImageExistsWithKey(std::string_view key, std::function<void(bool)> completion);

    void removeImageForKey(std::string_view key, bool fromDisk = true, Done completion = {});
    void clearMemory();
    void clearDisk(Done completion = {});
    // Removes files not younger than maxCacheAge, then, when maxCacheSize is set and exceeded,
    // the oldest files until less than half of it is left.
    void cleanDisk(Done completion = {});
    // The clean-up inside a background task of the host.
    void backgroundCleanDisk();

    // Waits for the queue.
    [[nodiscard]] std::uint64_t getSize();
    [[nodiscard]] std::size_t getDiskCount();
    void calculateSize(std::function<void(std::size_t fileCount, std::uint64_t totalSize)> done);

    std::atomic<bool> shouldDecompressImages{true};
    // Kept for callers: the container's caches folder is never backed up on Linux, so there is
    // nothing to mark on a file.
    bool shouldDisableiCloud = true;
    std::atomic<bool> shouldCacheImagesInMemory{true};
    std::atomic<std::int64_t> maxCacheAge{kDefaultMaxCacheAge};
    // Bytes; 0: no limit.
    std::atomic<std::uint64_t> maxCacheSize{0};
    void setMaxMemoryCost(std::uint64_t cost) { memCache_.setTotalCostLimit(cost); }
    [[nodiscard]] std::uint64_t maxMemoryCost() const { return memCache_.totalCostLimit(); }
    void setMaxMemoryCountLimit(std::size_t count) { memCache_.setCountLimit(count); }
    [[nodiscard]] std::size_t maxMemoryCountLimit() const { return memCache_.countLimit(); }
    [[nodiscard]] AutoPurgeCache& memoryCache() { return memCache_; }
    [[nodiscard]] platform::DispatchQueue& ioQueue() { return *ioQueue_; }

    // Pixels: what an image is charged in memory.
    [[nodiscard]] static std::uint64_t cacheCost(const platform::image::Image& image);

private:
    void writeToDisk(const platform::image::Image& image, bool recalculate,
                     std::optional<platform::Bytes> data, const std::string& key);
    void cleanDiskNow();

    const std::string fullNamespace_;
    const std::filesystem::path diskCachePath_;
    WallClock clock_;
    platform::NotificationCenter& center_;
    AutoPurgeCache memCache_;
    mutable std::mutex pathsMutex_;
    std::vector<std::filesystem::path> customPaths_;
    std::vector<platform::NotificationCenter::Token> observers_;
    // Last, so that it drains (its tasks use everything above) before the rest goes.
    std::unique_ptr<platform::SerialQueue> ioQueue_;
};
