#include "imagecache/WIWebImageManager.h"

#include <algorithm>

#include "imagecache/WISharedInstance.h"
#include "platform/net/URL.h"
#include "platform/net/URLError.h"

using platform::Bytes;
using platform::image::Image;
namespace urlerror = platform::net::urlerror;

namespace {

// Failures that may go away by themselves: the URL is tried again next time.
bool isPassingFailure(long code) {
    switch (code) {
        case -1009:  // not connected to the internet
        case urlerror::cancelled:
        case urlerror::timedOut:
        case -1018:  // international roaming off
        case -1020:  // data not allowed
        case urlerror::cannotFindHost:
        case urlerror::cannotConnectToHost:
            return true;
        default:
            return false;
    }
}

std::uint32_t downloaderOptions(std::uint32_t options) {
    std::uint32_t out = 0;
    const std::pair<std::uint32_t, std::uint32_t> table[] = {
        {ImageLoadLowPriority, ImageDownloadLowPriority},
        {ImageLoadProgressive, ImageDownloadProgressive},
        {ImageLoadRefreshCached, ImageDownloadUseURLCache},
        {ImageLoadContinueInBackground, ImageDownloadContinueInBackground},
        {ImageLoadHandleCookies, ImageDownloadHandleCookies},
        {ImageLoadAllowInvalidCertificates, ImageDownloadAllowInvalidCertificates},
        {ImageLoadHighPriority, ImageDownloadHighPriority},
    };
    for (const auto& [load, download] : table) {
        if ((options & load) != 0) {
            out |= download;
        }
    }
    return out;
}

bool sameImage(const Image& a, const Image& b) {
    return a.bitmap().sharesPixelsWith(b.bitmap()) && a.scale() == b.scale() &&
           a.orientation() == b.orientation() && a.frames().size() == b.frames().size();
}

}  // namespace

// ---- the combined operation ----

void WIWebImageCombinedOperation::cancel() {
    std::shared_ptr<WIImageCacheQuery> query;
    std::function<void()> block;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        query = std::move(cacheOperation_);
        block = std::move(cancelBlock_);
        cacheOperation_ = nullptr;
        cancelBlock_ = nullptr;
    }
    if (query) {
        query->cancel();
    }
    if (block) {
        block();
    }
}

bool WIWebImageCombinedOperation::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void WIWebImageCombinedOperation::setCancelBlock(std::function<void()> block) {
    {
        std::lock_guard lock(mutex_);
        if (!cancelled_) {
            cancelBlock_ = std::move(block);
            return;
        }
    }
    if (block) {
        block();
    }
}

void WIWebImageCombinedOperation::setCacheOperation(std::shared_ptr<WIImageCacheQuery> query) {
    {
        std::lock_guard lock(mutex_);
        if (!cancelled_) {
            cacheOperation_ = std::move(query);
            return;
        }
    }
    if (query) {
        query->cancel();
    }
}

// ---- the manager ----

std::shared_ptr<WIWebImageManager> WIWebImageManager::create(
    std::shared_ptr<WIImageCache> cache, std::shared_ptr<WIWebImageDownloader> downloader) {
    return std::shared_ptr<WIWebImageManager>(new WIWebImageManager(
        cache ? std::move(cache) : WIImageCache::sharedImageCache(),
        downloader ? std::move(downloader) : WIWebImageDownloader::sharedDownloader()));
}

WIWebImageManager::WIWebImageManager(std::shared_ptr<WIImageCache> cache,
                                     std::shared_ptr<WIWebImageDownloader> downloader)
    : imageCache_(std::move(cache)), imageDownloader_(std::move(downloader)) {}

std::shared_ptr<WIWebImageManager> WIWebImageManager::sharedManager() {
    return WISharedInstance<WIWebImageManager>::get([] { return create(); });
}

void WIWebImageManager::setSharedManager(std::shared_ptr<WIWebImageManager> manager) {
    WISharedInstance<WIWebImageManager>::set(std::move(manager));
}

std::string WIWebImageManager::cacheKeyForURL(const std::string& url) const {
    std::function<std::string(const std::string&)> filter;
    {
        std::lock_guard lock(mutex_);
        filter = cacheKeyFilter_;
    }
    return filter ? filter(url) : url;
}

void WIWebImageManager::setCacheKeyFilter(std::function<std::string(const std::string&)> filter) {
    {
        std::lock_guard lock(mutex_);
        cacheKeyFilter_ = filter;
    }
    imageDownloader_->setCacheKeyFilter(std::move(filter));
}

void WIWebImageManager::setDelegate(WIWebImageManagerDelegate* delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

WIWebImageManagerDelegate* WIWebImageManager::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

bool WIWebImageManager::isFailedURL(const std::string& url) const {
    std::lock_guard lock(mutex_);
    return failedURLs_.contains(url);
}

std::shared_ptr<WIWebImageCombinedOperation> WIWebImageManager::downloadImageWithURL(
    std::string_view text, std::uint32_t options, ImageDownloadProgress progress,
    ImageLoadCompletion completed) {
    const auto parsed = platform::net::URL::parse(text);
    const std::string url = parsed ? parsed->absoluteString() : std::string();
    auto operation = std::make_shared<WIWebImageCombinedOperation>();
    if (url.empty() || (isFailedURL(url) && (options & ImageLoadRetryFailed) == 0)) {
        WIDeliverOnMain([&] {
            if (completed) {
                completed(std::nullopt,
                          platform::Error{platform::net::kURLErrorDomain,
                                          urlerror::fileDoesNotExist, "The URL is refused"},
                          ImageCacheType::none, true, url);
            }
        });
        return operation;
    }
    {
        std::lock_guard lock(mutex_);
        runningOperations_.push_back(operation);
    }
    // Cancelled while the disk lookup waits, the load gets no answer from the cache: it leaves
    // the running list here instead.
    operation->setCancelBlock([weak = weak_from_this(), weakOperation = std::weak_ptr(operation)] {
        auto self = weak.lock();
        if (auto op = weakOperation.lock(); self && op) {
            self->removeRunning(op);
        }
    });
    const std::string key = cacheKeyForURL(url);
    auto query = imageCache_->queryDiskCacheForKey(
        key, [self = shared_from_this(), operation, url, key, options,
              progress = std::move(progress), completed = std::move(completed)](
                 std::optional<Image> image, ImageCacheType cacheType) mutable {
            self->queried(operation, url, key, options, std::move(progress), completed,
                          std::move(image), cacheType);
        });
    operation->setCacheOperation(std::move(query));
    return operation;
}

std::shared_ptr<WIWebImageCombinedOperation> WIWebImageManager::downloadWithURL(
    std::string_view url, std::uint32_t options, ImageDownloadProgress progress,
    std::function<void(std::optional<Image>, std::optional<platform::Error>, ImageCacheType, bool)>
        completed) {
    return downloadImageWithURL(
        url, options, std::move(progress),
        [completed = std::move(completed)](std::optional<Image> image,
                                           std::optional<platform::Error> error,
                                           ImageCacheType type, bool finished, const std::string&) {
            if (completed) {
                completed(std::move(image), std::move(error), type, finished);
            }
        });
}

void WIWebImageManager::queried(const std::shared_ptr<WIWebImageCombinedOperation>& operation,
                                const std::string& url, const std::string& key,
                                std::uint32_t options, ImageDownloadProgress progress,
                                const ImageLoadCompletion& completed, std::optional<Image> cached,
                                ImageCacheType cacheType) {
    if (operation->isCancelled()) {
        removeRunning(operation);
        return;
    }
    const auto deliver = [&](std::optional<Image> image, ImageCacheType type) {
        WIDeliverOnMain([&] {
            if (!operation->isCancelled() && completed) {
                completed(std::move(image), std::nullopt, type, true, url);
            }
        });
    };
    const bool refresh = (options & ImageLoadRefreshCached) != 0;
    if (cached && !refresh) {
        deliver(std::move(cached), cacheType);
        removeRunning(operation);
        return;
    }
    if (WIWebImageManagerDelegate* d = delegate();
        d != nullptr && !d->imageManagerShouldDownloadImageForURL(*this, url)) {
        if (cached) {
            deliver(std::move(cached), cacheType);
        } else {
            deliver(std::nullopt, ImageCacheType::none);
        }
        removeRunning(operation);
        return;
    }
    const bool hadCachedImage = cached.has_value();
    std::uint32_t download = downloaderOptions(options);
    if (hadCachedImage) {
        deliver(std::move(cached), cacheType);
        download &= ~static_cast<std::uint32_t>(ImageDownloadProgressive);
        download |= ImageDownloadIgnoreCachedResponse;
    }
    auto token = imageDownloader_->downloadImageWithURL(
        url, download, std::move(progress),
        [self = shared_from_this(), operation, url, key, options, hadCachedImage, completed](
            std::optional<Image> image, std::optional<Bytes> data,
            std::optional<platform::Error> error, bool finished) {
            self->downloaded(operation, url, key, options, hadCachedImage, completed,
                             std::move(image), std::move(data), std::move(error), finished);
        });
    operation->setCancelBlock(
        [token, weak = weak_from_this(), weakOperation = std::weak_ptr(operation)] {
            if (token) {
                token->cancel();
            }
            auto self = weak.lock();
            if (auto op = weakOperation.lock(); self && op) {
                self->removeRunning(op);
            }
        });
}

void WIWebImageManager::downloaded(const std::shared_ptr<WIWebImageCombinedOperation>& operation,
                                   const std::string& url, const std::string& key,
                                   std::uint32_t options, bool hadCachedImage,
                                   const ImageLoadCompletion& completed, std::optional<Image> image,
                                   std::optional<Bytes> data, std::optional<platform::Error> error,
                                   bool finished) {
    const auto deliver = [&](std::optional<Image> delivered, std::optional<platform::Error> why) {
        WIDeliverOnMain([&] {
            if (!operation->isCancelled() && completed) {
                completed(std::move(delivered), std::move(why), ImageCacheType::none, finished,
                          url);
            }
        });
    };
    if (operation->isCancelled()) {
        // Nothing for the caller.
    } else if (error) {
        // Marked before the answer, so a caller that reacts to it finds the URL failed.
        if (!isPassingFailure(error->code)) {
            std::lock_guard lock(mutex_);
            failedURLs_.insert(url);
        }
        deliver(std::nullopt, std::move(error));
    } else {
        if ((options & ImageLoadRetryFailed) != 0) {
            std::lock_guard lock(mutex_);
            failedURLs_.erase(url);
        }
        const bool toDisk = (options & ImageLoadCacheMemoryOnly) == 0;
        WIWebImageManagerDelegate* d = delegate();
        if ((options & ImageLoadRefreshCached) != 0 && hadCachedImage && !image) {
            // The cached image stands; the caller has it already.
        } else if (image && (!image->isAnimated() || (options & ImageLoadTransformAnimated) != 0) &&
                   d != nullptr && d->transformsDownloadedImages()) {
            platform::DispatchQueue::global(platform::DispatchQueue::Priority::high)
                .async([self = shared_from_this(), d, operation, url, key, toDisk, completed,
                        image = std::move(*image), data = std::move(data), finished]() mutable {
                    auto transformed = d->imageManagerTransformDownloadedImage(*self, image, url);
                    if (transformed && finished) {
                        const bool same = sameImage(*transformed, image);
                        self->imageCache_->storeImage(*transformed, !same,
                                                      same ? std::move(data) : std::nullopt, key,
                                                      toDisk);
                    }
                    WIDeliverOnMain([&] {
                        if (!operation->isCancelled() && completed) {
                            completed(std::move(transformed), std::nullopt, ImageCacheType::none,
                                      finished, url);
                        }
                    });
                });
        } else {
            if (image && finished) {
                imageCache_->storeImage(*image, false, std::move(data), key, toDisk);
            }
            deliver(std::move(image), std::nullopt);
        }
    }
    if (finished) {
        removeRunning(operation);
    }
}

void WIWebImageManager::removeRunning(
    const std::shared_ptr<WIWebImageCombinedOperation>& operation) {
    std::lock_guard lock(mutex_);
    std::erase(runningOperations_, operation);
}

void WIWebImageManager::saveImageToCache(const std::optional<Image>& image,
                                         const std::string& url) {
    if (image && !url.empty()) {
        imageCache_->storeImage(*image, cacheKeyForURL(url), true);
    }
}

void WIWebImageManager::cancelAll() {
    std::vector<std::shared_ptr<WIWebImageCombinedOperation>> copied;
    {
        std::lock_guard lock(mutex_);
        copied = runningOperations_;
    }
    for (const auto& operation : copied) {
        operation->cancel();
    }
    std::lock_guard lock(mutex_);
    std::erase_if(runningOperations_, [&](const auto& operation) {
        return std::find(copied.begin(), copied.end(), operation) != copied.end();
    });
}

bool WIWebImageManager::isRunning() const {
    std::lock_guard lock(mutex_);
    return !runningOperations_.empty();
}

std::size_t WIWebImageManager::runningCount() const {
    std::lock_guard lock(mutex_);
    return runningOperations_.size();
}

bool WIWebImageManager::cachedImageExistsForURL(const std::string& url) {
    const std::string key = cacheKeyForURL(url);
    return imageCache_->imageFromMemoryCacheForKey(key).has_value() ||
           imageCache_->diskImageExistsWithKey(key);
}

bool WIWebImageManager::diskImageExistsForURL(const std::string& url) {
    return imageCache_->diskImageExistsWithKey(cacheKeyForURL(url));
}

void WIWebImageManager::cachedImageExistsForURL(const std::string& url,
                                                std::function<void(bool)> completion) {
    const std::string key = cacheKeyForURL(url);
    if (imageCache_->imageFromMemoryCacheForKey(key)) {
        if (completion) {
            platform::DispatchQueue::main().async(
                [completion = std::move(completion)] { completion(true); });
        }
        return;
    }
    imageCache_->diskImageExistsWithKey(key, std::move(completion));
}

void WIWebImageManager::diskImageExistsForURL(const std::string& url,
                                              std::function<void(bool)> completion) {
    imageCache_->diskImageExistsWithKey(cacheKeyForURL(url), std::move(completion));
}
