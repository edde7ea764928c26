#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imagecache/WIWebImageManager.h"
#include "platform/foundation/Dispatch.h"

class WIWebImagePrefetcher;

// Both optional; not owned by the prefetcher.
class WIWebImagePrefetcherDelegate {
public:
    virtual ~WIWebImagePrefetcherDelegate() = default;
    virtual void imagePrefetcherDidPrefetchURL(WIWebImagePrefetcher& /*prefetcher*/,
                                               const std::string& /*url*/,
                                               std::size_t /*finishedCount*/,
                                               std::size_t /*totalCount*/) {}
    virtual void imagePrefetcherDidFinish(WIWebImagePrefetcher& /*prefetcher*/,
                                          std::size_t /*totalCount*/,
                                          std::size_t /*skippedCount*/) {}
};

// Loads a list of image URLs into the cache ahead of need, a few at a time (its manager's
// downloader runs at most maxConcurrentDownloads, 3 from the start: the shared downloader is
// limited for the whole process by making a prefetcher), and reports progress and the end.
// Its counters live on the main thread, where the manager's answers come.
class WIWebImagePrefetcher : public std::enable_shared_from_this<WIWebImagePrefetcher> {
public:
    using Progress = std::function<void(std::size_t finishedCount, std::size_t totalCount)>;
    using Completion = std::function<void(std::size_t finishedCount, std::size_t skippedCount)>;

    static std::shared_ptr<WIWebImagePrefetcher> sharedImagePrefetcher();
    // A new manager over the shared cache and downloader when none is given.
    static std::shared_ptr<WIWebImagePrefetcher> create(
        std::shared_ptr<WIWebImageManager> manager = nullptr);

    void prefetchURLs(std::vector<std::string> urls, Progress progress = {},
                      Completion completed = {});
    // Forgets the list and its counts and cancels every running load of the manager.
    void cancelPrefetching();

    [[nodiscard]] const std::shared_ptr<WIWebImageManager>& manager() const { return manager_; }
    void setMaxConcurrentDownloads(int count);
    [[nodiscard]] int maxConcurrentDownloads() const;
    std::uint32_t options = ImageLoadLowPriority;
    // Where the next URL starts; the main queue when null. It must outlive the prefetcher.
    platform::DispatchQueue* prefetcherQueue = nullptr;
    WIWebImagePrefetcherDelegate* delegate = nullptr;

    [[nodiscard]] std::size_t requestedCount() const { return requestedCount_; }
    [[nodiscard]] std::size_t finishedCount() const { return finishedCount_; }
    [[nodiscard]] std::size_t skippedCount() const { return skippedCount_; }

private:
    explicit WIWebImagePrefetcher(std::shared_ptr<WIWebImageManager> manager);
    void startPrefetchingAtIndex(std::size_t index, std::uint64_t generation);
    void reportStatus();

    const std::shared_ptr<WIWebImageManager> manager_;
    std::vector<std::string> prefetchURLs_;
    std::size_t requestedCount_ = 0;
    std::size_t skippedCount_ = 0;
    std::size_t finishedCount_ = 0;
    double startedTime_ = 0;
    Progress progressBlock_;
    Completion completionBlock_;
    // Answers of an earlier list that come in late count for nothing.
    std::uint64_t generation_ = 0;
};
