#include "imagecache/WIImageCache.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "imagecache/WIImageDecoding.h"
#include "imagecache/WISharedInstance.h"
#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/host/AppHost.h"
#include "platform/image/Canvas.h"
#include "platform/image/PixelMemory.h"
#include "platform/security/Crypto.h"

namespace fs = std::filesystem;
using platform::Bytes;
using platform::DispatchQueue;
using platform::image::Image;

namespace {

constexpr const char* kNamespacePrefix = "com.corvantis.WIWebImageCache.";
constexpr const char* kIoQueueLabel = "com.corvantis.WIWebImageCache";
constexpr std::uint8_t kPNGSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

double systemNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

fs::file_time_type fileTimeAt(double secondsSince1970) {
    const auto since = std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::duration<double>(secondsSince1970));
    return std::chrono::file_clock::from_sys(std::chrono::system_clock::time_point(since));
}

// The path extension of the key read as a file path, when it is 1 to 8 letters or digits:
// longer or stranger ones (a URL's query string) would make names the file system refuses.
std::string_view usableExtension(std::string_view key) {
    while (!key.empty() && key.back() == '/') {
        key.remove_suffix(1);
    }
    const std::size_t slash = key.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? key : key.substr(slash + 1);
    const std::size_t dot = last.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    const std::string_view extension = last.substr(dot + 1);
    const bool plain = std::all_of(extension.begin(), extension.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0;
    });
    if (extension.empty() || extension.size() > 8 || !plain) {
        return {};
    }
    return extension;
}

std::optional<Bytes> encodeForDisk(const Image& image, const std::optional<Bytes>& data) {
    bool png = image.hasAlpha();
    if (data && data->size() >= 8) {
        png = DataHasPNGSignature(*data);
    }
    auto encoded = png ? platform::image::encodePNG(image.bitmap())
                       : platform::image::encodeJPEG(image.bitmap(), 100);
    if (!encoded) {
        LG_WARN("[Image cache]: cannot encode an image: %@", encoded.error().message);
        return std::nullopt;
    }
    return std::move(encoded).value();
}

struct CachedFile {
    fs::path path;
    fs::file_time_type modified;
    std::uint64_t size = 0;
};

// The regular files below the folder, hidden ones (and those in hidden folders) left out.
std::vector<CachedFile> filesBelow(const fs::path& folder) {
    std::vector<CachedFile> files;
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::directory_entry& entry = *walk;
        if (entry.path().filename().string().starts_with('.')) {
            if (entry.is_directory(error)) {
                walk.disable_recursion_pending();
            }
            continue;
        }
        if (entry.is_directory(error)) {
            continue;
        }
        std::error_code statError;
        const auto modified = entry.last_write_time(statError);
        const auto size = entry.file_size(statError);
        if (statError) {
            continue;
        }
        files.push_back({entry.path(), modified, static_cast<std::uint64_t>(size)});
    }
    return files;
}

}  // namespace

bool DataHasPNGSignature(std::span<const std::uint8_t> data) {
    return data.size() >= 8 && std::equal(data.begin(), data.begin() + 8, kPNGSignature);
}

std::shared_ptr<WIImageCache> WIImageCache::sharedImageCache() {
    return WISharedInstance<WIImageCache>::get([] { return std::make_shared<WIImageCache>(); });
}

void WIImageCache::setSharedImageCache(std::shared_ptr<WIImageCache> cache) {
    WISharedInstance<WIImageCache>::set(std::move(cache));
}

WIImageCache::WIImageCache(std::string_view nameSpace, std::optional<fs::path> directory,
                           WallClock clock)
    : fullNamespace_(kNamespacePrefix + std::string(nameSpace)),
      diskCachePath_(directory ? *directory / fullNamespace_
                               : makeDiskCachePath(nameSpace) / fullNamespace_),
      clock_(clock ? std::move(clock) : WallClock(systemNow)),
      center_(platform::NotificationCenter::defaultCenter()),
      memCache_(fullNamespace_, center_),
      ioQueue_(std::make_unique<platform::SerialQueue>(kIoQueueLabel)) {
    observers_.push_back(
        center_.addObserver(kApplicationDidReceiveMemoryWarningNotification, [this](const auto&) {
            clearMemory();
            platform::image::PixelMemory::shared().purge();
        }));
    observers_.push_back(center_.addObserver(platform::kApplicationWillTerminateNotification,
                                             [this](const auto&) { cleanDisk(); }));
    observers_.push_back(center_.addObserver(platform::kApplicationDidEnterBackgroundNotification,
                                             [this](const auto&) { backgroundCleanDisk(); }));
}

WIImageCache::~WIImageCache() {
    for (const auto token : observers_) {
        center_.removeObserver(token);
    }
    ioQueue_.reset();
}

fs::path WIImageCache::makeDiskCachePath(std::string_view nameSpace) {
    return platform::Container::current().caches() / std::string(nameSpace);
}

std::string WIImageCache::cachedFileNameForKey(std::string_view key) {
    const auto digest = platform::crypto::md5(
        std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()));
    std::string name;
    name.reserve(2 * digest.size() + 10);
    static constexpr char kHex[] = "0123456789abcdef";
    for (const std::uint8_t byte : digest) {
        name.push_back(kHex[byte >> 4]);
        name.push_back(kHex[byte & 0x0F]);
    }
    if (const std::string_view extension = usableExtension(key); !extension.empty()) {
        name.push_back('.');
        name.append(extension);
    }
    return name;
}

fs::path WIImageCache::cachePathForKey(std::string_view key, const fs::path& folder) const {
    return folder / cachedFileNameForKey(key);
}

fs::path WIImageCache::defaultCachePathForKey(std::string_view key) const {
    return cachePathForKey(key, diskCachePath_);
}

void WIImageCache::addReadOnlyCachePath(const fs::path& folder) {
    std::lock_guard lock(pathsMutex_);
    if (std::find(customPaths_.begin(), customPaths_.end(), folder) == customPaths_.end()) {
        customPaths_.push_back(folder);
    }
}

std::uint64_t WIImageCache::cacheCost(const Image& image) {
    const auto size = image.size();
    return static_cast<std::uint64_t>(size.height * size.width * image.scale() * image.scale());
}

void WIImageCache::storeImage(const Image& image, std::string_view key, bool toDisk) {
    storeImage(image, true, std::nullopt, key, toDisk);
}

void WIImageCache::storeImage(const Image& image, bool recalculateFromImage,
                              std::optional<Bytes> data, std::string_view key, bool toDisk) {
    if (image.isNull() || key.empty()) {
        return;
    }
    if (shouldCacheImagesInMemory) {
        memCache_.setObject(key, image, cacheCost(image));
    }
    if (!toDisk) {
        return;
    }
    ioQueue_->async([this, image, recalculateFromImage, data = std::move(data),
                     key = std::string(key)]() mutable {
        writeToDisk(image, recalculateFromImage, std::move(data), key);
    });
}

void WIImageCache::writeToDisk(const Image& image, bool recalculate, std::optional<Bytes> data,
                               const std::string& key) {
    if (recalculate || !data) {
        data = encodeForDisk(image, data);
    }
    if (!data) {
        return;
    }
    const fs::path path = defaultCachePathForKey(key);
    // Through a temporary file, so a failed or interrupted write never leaves half an image.
    auto written = platform::fs::writeFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
    std::error_code error;
    if (written) {
        fs::last_write_time(path, fileTimeAt(clock_()), error);
        return;
    }
    LG_WARN("[Image cache]: cannot write %@: %@", path.string(), written.error().message);
    // What stood there is an older image for the key: a miss is better than a wrong one.
    fs::remove(path, error);
}

std::shared_ptr<WIImageCacheQuery> WIImageCache::queryDiskCacheForKey(std::string_view key,
                                                                      ImageCacheQueryDone done) {
    if (!done) {
        return nullptr;
    }
    if (key.empty()) {
        done(std::nullopt, ImageCacheType::none);
        return nullptr;
    }
    if (auto image = imageFromMemoryCacheForKey(key)) {
        done(std::move(image), ImageCacheType::memory);
        return nullptr;
    }
    auto query = std::make_shared<WIImageCacheQuery>();
    ioQueue_->async([this, query, key = std::string(key), done = std::move(done)]() mutable {
        if (query->isCancelled()) {
            return;
        }
        auto image = diskImageForKey(key);
        if (image && shouldCacheImagesInMemory) {
            memCache_.setObject(key, *image, cacheCost(*image));
        }
        // Checked again where the answer is told: a cancel on the main thread may come while
        // the disk is read.
        DispatchQueue::main().async(
            [query, done = std::move(done), image = std::move(image)]() mutable {
                if (!query->isCancelled()) {
                    done(std::move(image), ImageCacheType::disk);
                }
            });
    });
    return query;
}

std::optional<Image> WIImageCache::imageFromMemoryCacheForKey(std::string_view key) {
    return memCache_.objectForKey(key);
}

std::optional<Image> WIImageCache::imageFromDiskCacheForKey(std::string_view key) {
    if (auto image = imageFromMemoryCacheForKey(key)) {
        return image;
    }
    auto image = diskImageForKey(key);
    if (image && shouldCacheImagesInMemory) {
        memCache_.setObject(key, *image, cacheCost(*image));
    }
    return image;
}

std::optional<Bytes> WIImageCache::diskImageDataBySearchingAllPathsForKey(
    std::string_view key) const {
    std::vector<fs::path> folders{diskCachePath_};
    {
        std::lock_guard lock(pathsMutex_);
        folders.insert(folders.end(), customPaths_.begin(), customPaths_.end());
    }
    const std::string name = cachedFileNameForKey(key);
    for (const fs::path& folder : folders) {
        const fs::path path = folder / name;
        std::error_code error;
        if (!fs::exists(path, error)) {
            continue;
        }
        auto read = platform::fs::readFile(path);
        if (!read) {
            LG_WARN("[Image cache]: cannot read %@: %@", path.string(), read.error().message);
            continue;
        }
        return Bytes(read->begin(), read->end());
    }
    return std::nullopt;
}

std::optional<Image> WIImageCache::diskImageForKey(std::string_view key) const {
    const auto data = diskImageDataBySearchingAllPathsForKey(key);
    if (!data) {
        return std::nullopt;
    }
    auto image = wi::ScaledImageForKey(key, wi::imageWithData(*data));
    if (!image) {
        LG_WARN("[Image cache]: the file of %@ holds no image", std::string(key));
        return std::nullopt;
    }
    if (shouldDecompressImages) {
        return wi::decodedImageWithImage(*image);
    }
    return image;
}

bool WIImageCache::diskImageExistsWithKey(std::string_view key) const {
    std::error_code error;
    return fs::exists(defaultCachePathForKey(key), error);
}

void WIImageCache::diskImageExistsWithKey(std::string_view key,
                                          std::function<void(bool)> completion) {
    ioQueue_->async([this, key = std::string(key), completion = std::move(completion)]() mutable {
        const bool exists = diskImageExistsWithKey(key);
        if (completion) {
            DispatchQueue::main().async(
                [completion = std::move(completion), exists] { completion(exists); });
        }
    });
}

void WIImageCache::removeImageForKey(std::string_view key, bool fromDisk, Done completion) {
    if (key.empty()) {
        return;
    }
    if (shouldCacheImagesInMemory) {
        memCache_.removeObjectForKey(key);
    }
    if (!fromDisk) {
        if (completion) {
            completion();
        }
        return;
    }
    ioQueue_->async([this, key = std::string(key), completion = std::move(completion)]() mutable {
        std::error_code error;
        fs::remove(defaultCachePathForKey(key), error);
        if (completion) {
            DispatchQueue::main().async(std::move(completion));
        }
    });
}

void WIImageCache::clearMemory() {
    memCache_.removeAllObjects();
}

void WIImageCache::clearDisk(Done completion) {
    ioQueue_->async([this, completion = std::move(completion)]() mutable {
        std::error_code error;
        fs::remove_all(diskCachePath_, error);
        fs::create_directories(diskCachePath_, error);
        if (completion) {
            DispatchQueue::main().async(std::move(completion));
        }
    });
}

void WIImageCache::cleanDisk(Done completion) {
    ioQueue_->async([this, completion = std::move(completion)]() mutable {
        cleanDiskNow();
        if (completion) {
            DispatchQueue::main().async(std::move(completion));
        }
    });
}

void WIImageCache::cleanDiskNow() {
    const auto expiration = fileTimeAt(clock_()) - std::chrono::seconds(maxCacheAge.load());
    std::vector<CachedFile> kept;
    std::uint64_t currentSize = 0;
    for (CachedFile& file : filesBelow(diskCachePath_)) {
        if (file.modified <= expiration) {
            std::error_code error;
            fs::remove(file.path, error);
            continue;
        }
        currentSize += file.size;
        kept.push_back(std::move(file));
    }
    const std::uint64_t limit = maxCacheSize.load();
    if (limit == 0 || currentSize <= limit) {
        return;
    }
    const std::uint64_t target = limit / 2;
    std::sort(kept.begin(), kept.end(),
              [](const CachedFile& a, const CachedFile& b) { return a.modified < b.modified; });
    for (const CachedFile& file : kept) {
        std::error_code error;
        if (fs::remove(file.path, error)) {
            currentSize -= file.size;
            if (currentSize < target) {
                break;
            }
        }
    }
}

void WIImageCache::backgroundCleanDisk() {
    platform::AppHost& host = platform::AppHost::current();
    // The task ends once, from whichever comes first: the clean-up or the host's expiry.
    auto task = std::make_shared<std::atomic<platform::BackgroundTaskIdentifier>>(
        platform::kBackgroundTaskInvalid);
    const auto end = [&host, task] {
        const auto identifier = task->exchange(platform::kBackgroundTaskInvalid);
        if (identifier != platform::kBackgroundTaskInvalid) {
            host.endBackgroundTask(identifier);
        }
    };
    task->store(host.beginBackgroundTask("WIImageCache clean-up", end));
    cleanDisk(end);
}

std::uint64_t WIImageCache::getSize() {
    std::uint64_t size = 0;
    ioQueue_->sync([&] {
        for (const CachedFile& file : filesBelow(diskCachePath_)) {
            size += file.size;
        }
    });
    return size;
}

std::size_t WIImageCache::getDiskCount() {
    std::size_t count = 0;
    ioQueue_->sync([&] { count = filesBelow(diskCachePath_).size(); });
    return count;
}

void WIImageCache::calculateSize(
    std::function<void(std::size_t fileCount, std::uint64_t totalSize)> done) {
    ioQueue_->async([this, done = std::move(done)]() mutable {
        const auto files = filesBelow(diskCachePath_);
        std::uint64_t size = 0;
        for (const CachedFile& file : files) {
            size += file.size;
        }
        if (done) {
            DispatchQueue::main().async(
                [done = std::move(done), count = files.size(), size] { done(count, size); });
        }
    });
}
