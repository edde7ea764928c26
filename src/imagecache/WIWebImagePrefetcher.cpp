#include "imagecache/WIWebImagePrefetcher.h"

#include <chrono>

#include "imagecache/WISharedInstance.h"

using platform::image::Image;

std::shared_ptr<WIWebImagePrefetcher> WIWebImagePrefetcher::sharedImagePrefetcher() {
    return WISharedInstance<WIWebImagePrefetcher>::get([] { return create(); });
}

std::shared_ptr<WIWebImagePrefetcher> WIWebImagePrefetcher::create(
    std::shared_ptr<WIWebImageManager> manager) {
    return std::shared_ptr<WIWebImagePrefetcher>(
        new WIWebImagePrefetcher(manager ? std::move(manager) : WIWebImageManager::create()));
}

WIWebImagePrefetcher::WIWebImagePrefetcher(std::shared_ptr<WIWebImageManager> manager)
    : manager_(std::move(manager)) {
    setMaxConcurrentDownloads(3);
}

void WIWebImagePrefetcher::setMaxConcurrentDownloads(int count) {
    manager_->imageDownloader()->setMaxConcurrentDownloads(count);
}

int WIWebImagePrefetcher::maxConcurrentDownloads() const {
    return manager_->imageDownloader()->maxConcurrentDownloads();
}

void WIWebImagePrefetcher::prefetchURLs(std::vector<std::string> urls, Progress progress,
                                        Completion completed) {
    cancelPrefetching();
    startedTime_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    prefetchURLs_ = std::move(urls);
    progressBlock_ = std::move(progress);
    completionBlock_ = std::move(completed);
    if (prefetchURLs_.empty()) {
        if (auto completion = std::move(completionBlock_)) {
            completionBlock_ = nullptr;
            completion(0, 0);
        }
        return;
    }
    const auto limit = static_cast<std::size_t>(std::max(maxConcurrentDownloads(), 0));
    for (std::size_t started = 0; started < limit && requestedCount_ < prefetchURLs_.size();
         ++started) {
        startPrefetchingAtIndex(requestedCount_, generation_);
    }
}

void WIWebImagePrefetcher::cancelPrefetching() {
    ++generation_;
    prefetchURLs_.clear();
    requestedCount_ = 0;
    skippedCount_ = 0;
    finishedCount_ = 0;
    manager_->cancelAll();
}

void WIWebImagePrefetcher::startPrefetchingAtIndex(std::size_t index, std::uint64_t generation) {
    if (generation != generation_ || index >= prefetchURLs_.size()) {
        return;
    }
    ++requestedCount_;
    const std::string url = prefetchURLs_[index];
    manager_->downloadImageWithURL(
        url, options, nullptr,
        [weak = weak_from_this(), url, generation](std::optional<Image> image,
                                                   std::optional<platform::Error>, ImageCacheType,
                                                   bool finished, const std::string&) {
            auto self = weak.lock();
            if (!self || !finished || generation != self->generation_) {
                return;
            }
            ++self->finishedCount_;
            const std::size_t total = self->prefetchURLs_.size();
            if (self->progressBlock_) {
                self->progressBlock_(self->finishedCount_, total);
            }
            if (!image) {
                ++self->skippedCount_;
            }
            if (self->delegate != nullptr) {
                self->delegate->imagePrefetcherDidPrefetchURL(*self, url, self->finishedCount_,
                                                              total);
            }
            if (total > self->requestedCount_) {
                platform::DispatchQueue& queue = self->prefetcherQueue != nullptr
                                                     ? *self->prefetcherQueue
                                                     : platform::DispatchQueue::main();
                // The entry is chosen when the start runs: answers that come together would
                // otherwise all start the same entry and leave the ones after it unloaded.
                queue.async([weak, generation] {
                    if (auto prefetcher = weak.lock()) {
                        prefetcher->startPrefetchingAtIndex(prefetcher->requestedCount_,
                                                            generation);
                    }
                });
            } else if (self->finishedCount_ == self->requestedCount_) {
                self->reportStatus();
                if (auto completion = std::move(self->completionBlock_)) {
                    self->completionBlock_ = nullptr;
                    completion(self->finishedCount_, self->skippedCount_);
                }
                self->progressBlock_ = nullptr;
            }
        });
}

void WIWebImagePrefetcher::reportStatus() {
    if (delegate != nullptr) {
        delegate->imagePrefetcherDidFinish(*this, prefetchURLs_.size() - skippedCount_,
                                           skippedCount_);
    }
}
