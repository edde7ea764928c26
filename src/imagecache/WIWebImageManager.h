#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "imagecache/WIImageCache.h"
#include "imagecache/WIWebImageDownloader.h"
#include "imagecache/WIWebImageOperation.h"

// What a caller asks of one load, bit by bit.
enum ImageLoadOptions : std::uint32_t {
    ImageLoadRetryFailed = 1 << 0,
    ImageLoadLowPriority = 1 << 1,
    ImageLoadCacheMemoryOnly = 1 << 2,
    ImageLoadProgressive = 1 << 3,
    ImageLoadRefreshCached = 1 << 4,
    ImageLoadContinueInBackground = 1 << 5,
    ImageLoadHandleCookies = 1 << 6,
    ImageLoadAllowInvalidCertificates = 1 << 7,
    ImageLoadHighPriority = 1 << 8,
    ImageLoadDelayPlaceholder = 1 << 9,
    ImageLoadTransformAnimated = 1 << 10,
    ImageLoadAvoidAutoSetImage = 1 << 11,
};

// The image or why there is none, where it came from, whether it is whole (false only for a
// partial image) and the URL as the manager used it (empty when it was none).
using ImageLoadCompletion = std::function<void(
    std::optional<platform::image::Image> image, std::optional<platform::Error> error,
    ImageCacheType cacheType, bool finished, const std::string& url)>;

class WIWebImageManager;

// Both optional; the manager's delegate is not owned.
class WIWebImageManagerDelegate {
public:
    virtual ~WIWebImageManagerDelegate() = default;
    // Asked when the cache has no image or a refresh is asked for; false: no download.
    virtual bool imageManagerShouldDownloadImageForURL(WIWebImageManager& /*manager*/,
                                                       const std::string& /*url*/) {
        return true;
    }
    // Whether transformDownloadedImage is to be called.
    [[nodiscard]] virtual bool transformsDownloadedImages() const { return false; }
    // On a global queue: the image to store and deliver in place of the downloaded one.
    virtual std::optional<platform::image::Image> imageManagerTransformDownloadedImage(
        WIWebImageManager& /*manager*/, const platform::image::Image& image,
        const std::string& /*url*/) {
        return image;
    }
};

// One load: what its caller keeps to cancel it. After cancel no completion reaches the caller.
class WIWebImageCombinedOperation final : public WIWebImageOperation {
public:
    void cancel() override;
    [[nodiscard]] bool isCancelled() const;
    // Called at once when the load is cancelled already.
    void setCancelBlock(std::function<void()> block);
    void setCacheOperation(std::shared_ptr<WIImageCacheQuery> query);

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    std::function<void()> cancelBlock_;
    std::shared_ptr<WIImageCacheQuery> cacheOperation_;
};

// Loads an image by URL: from the cache when it is there, else through the downloader, stores
// what came and delivers every result on the main thread. URLs whose download failed for good
// are refused afterwards unless a retry is asked for. Callers may use it from any thread.
class WIWebImageManager : public std::enable_shared_from_this<WIWebImageManager> {
public:
    // The shared cache and downloader when none is given.
    static std::shared_ptr<WIWebImageManager> create(
        std::shared_ptr<WIImageCache> cache = nullptr,
        std::shared_ptr<WIWebImageDownloader> downloader = nullptr);
    static std::shared_ptr<WIWebImageManager> sharedManager();
    static void setSharedManager(std::shared_ptr<WIWebImageManager> manager);

    // A URL that does not parse, an empty one, or a failed one without ImageLoadRetryFailed
    // is answered before this returns with NSURLErrorDomain -1100, finished; so is a memory
    // hit (with its image). Everything else answers later on the main thread.
    std::shared_ptr<WIWebImageCombinedOperation> downloadImageWithURL(
        std::string_view url, std::uint32_t options, ImageDownloadProgress progress,
        ImageLoadCompletion completed);
    // The older entry, whose completion has no URL.
    std::shared_ptr<WIWebImageCombinedOperation> downloadWithURL(
        std::string_view url, std::uint32_t options, ImageDownloadProgress progress,
        std::function<void(std::optional<platform::image::Image>, std::optional<platform::Error>,
                           ImageCacheType, bool)>
            completed);

    [[nodiscard]] std::string cacheKeyForURL(const std::string& url) const;
    void saveImageToCache(const std::optional<platform::image::Image>& image,
                          const std::string& url);
    void cancelAll();
    [[nodiscard]] bool isRunning() const;
    [[nodiscard]] std::size_t runningCount() const;
    [[nodiscard]] bool cachedImageExistsForURL(const std::string& url);
    [[nodiscard]] bool diskImageExistsForURL(const std::string& url);
    // Answers on the main queue.
    void cachedImageExistsForURL(const std::string& url, std::function<void(bool)> completion);
    void diskImageExistsForURL(const std::string& url, std::function<void(bool)> completion);

    [[nodiscard]] bool isFailedURL(const std::string& url) const;

    void setDelegate(WIWebImageManagerDelegate* delegate);
    // The key of a URL; the downloader names partial images' scale by it too.
    void setCacheKeyFilter(std::function<std::string(const std::string& url)> filter);
    [[nodiscard]] const std::shared_ptr<WIImageCache>& imageCache() const { return imageCache_; }
    [[nodiscard]] const std::shared_ptr<WIWebImageDownloader>& imageDownloader() const {
        return imageDownloader_;
    }

private:
    WIWebImageManager(std::shared_ptr<WIImageCache> cache,
                      std::shared_ptr<WIWebImageDownloader> downloader);

    void queried(const std::shared_ptr<WIWebImageCombinedOperation>& operation,
                 const std::string& url, const std::string& key, std::uint32_t options,
                 ImageDownloadProgress progress, const ImageLoadCompletion& completed,
                 std::optional<platform::image::Image> cached, ImageCacheType cacheType);
    void downloaded(const std::shared_ptr<WIWebImageCombinedOperation>& operation,
                    const std::string& url, const std::string& key, std::uint32_t options,
                    bool hadCachedImage, const ImageLoadCompletion& completed,
                    std::optional<platform::image::Image> image,
                    std::optional<platform::Bytes> data, std::optional<platform::Error> error,
                    bool finished);
    void removeRunning(const std::shared_ptr<WIWebImageCombinedOperation>& operation);
    WIWebImageManagerDelegate* delegate() const;

    const std::shared_ptr<WIImageCache> imageCache_;
    const std::shared_ptr<WIWebImageDownloader> imageDownloader_;
    mutable std::mutex mutex_;
    WIWebImageManagerDelegate* delegate_ = nullptr;
    std::function<std::string(const std::string&)> cacheKeyFilter_;
    std::set<std::string> failedURLs_;
    std::vector<std::shared_ptr<WIWebImageCombinedOperation>> runningOperations_;
};
