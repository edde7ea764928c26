#include "imagecache/WIWebImageDownloader.h"

#include <algorithm>

#include "imagecache/WISharedInstance.h"

using platform::Bytes;
using platform::DispatchQueue;
using platform::image::Image;

// One caller's registration for a URL.
class WIWebImageDownloader::Token final : public WIWebImageOperation {
public:
    Token(std::weak_ptr<WIWebImageDownloader> downloader, std::string url, std::uint64_t id)
        : downloader_(std::move(downloader)), url_(std::move(url)), id_(id) {}

    void cancel() override {
        if (auto downloader = downloader_.lock()) {
            downloader->cancelCaller(url_, id_);
        }
    }

private:
    std::weak_ptr<WIWebImageDownloader> downloader_;
    const std::string url_;
    const std::uint64_t id_;
};

std::shared_ptr<WIWebImageDownloader> WIWebImageDownloader::sharedDownloader() {
    return WISharedInstance<WIWebImageDownloader>::get([] { return create(); });
}

void WIWebImageDownloader::setSharedDownloader(std::shared_ptr<WIWebImageDownloader> downloader) {
    WISharedInstance<WIWebImageDownloader>::set(std::move(downloader));
}

std::shared_ptr<WIWebImageDownloader> WIWebImageDownloader::create(
    platform::net::URLLoader* loader) {
    return std::shared_ptr<WIWebImageDownloader>(new WIWebImageDownloader(loader));
}

WIWebImageDownloader::WIWebImageDownloader(platform::net::URLLoader* loader) : loader_(loader) {
    httpHeaders_.set("Accept", "image/*;q=0.8");
}

WIWebImageDownloader::~WIWebImageDownloader() {
    cancelAll();
}

std::shared_ptr<WIWebImageOperation> WIWebImageDownloader::downloadImageWithURL(
    const std::string& url, std::uint32_t options, ImageDownloadProgress progress,
    ImageDownloadCompletion completed) {
    if (url.empty()) {
        if (completed) {
            completed(std::nullopt, std::nullopt, std::nullopt, false);
        }
        return nullptr;
    }
    std::shared_ptr<WIWebImageDownloaderOperation> created;
    std::uint64_t id = 0;
    {
        std::lock_guard lock(callbacksMutex_);
        id = nextCallerId_++;
        auto [entry, first] = urlCallbacks_.try_emplace(url);
        entry->second.callers.push_back({id, std::move(progress), std::move(completed)});
        // Made under the lock, so two first callers at once make one download.
        if (first) {
            created = makeOperation(url, options);
            entry->second.operation = created;
        }
    }
    if (created) {
        const int priority = (options & ImageDownloadHighPriority) != 0  ? 4
                             : (options & ImageDownloadLowPriority) != 0 ? -4
                                                                         : 0;
        enqueue(std::move(created), priority);
    }
    return std::make_shared<Token>(weak_from_this(), url, id);
}

std::shared_ptr<WIWebImageDownloaderOperation> WIWebImageDownloader::makeOperation(
    const std::string& url, std::uint32_t options) {
    platform::net::URLRequest request;
    OperationFactory factory;
    std::function<std::string(const std::string&)> keyFilter;
    bool decompress = true;
    {
        std::lock_guard lock(settingsMutex_);
        request.url = url;
        request.timeoutInterval = downloadTimeout_ > 0 ? downloadTimeout_ : kDefaultTimeout;
        request.limits = platform::net::TransferLimits::call();
        request.headers = headersFilter_ ? headersFilter_(url, httpHeaders_) : httpHeaders_;
        factory = operationFactory_;
        keyFilter = cacheKeyFilter_;
        decompress = shouldDecompressImages_;
    }
    // The operation lives on after the downloader only to end; its callbacks then do nothing.
    const std::weak_ptr<WIWebImageDownloader> weak = weak_from_this();
    auto operationHandle = std::make_shared<const WIWebImageDownloaderOperation*>(nullptr);
    ImageDownloadProgress progress = [weak, url, operationHandle](std::int64_t received,
                                                                  std::int64_t expected) {
        if (auto self = weak.lock()) {
            self->fanOutProgress(*operationHandle, url, received, expected);
        }
    };
    ImageDownloadCompletion completed = [weak, url, operationHandle](
                                            std::optional<Image> image, std::optional<Bytes> data,
                                            std::optional<platform::Error> error, bool finished) {
        if (auto self = weak.lock()) {
            self->fanOutCompletion(*operationHandle, url, image, data, error, finished);
        }
    };
    WIWebImageDownloaderOperation::CancelBlock cancelled = [weak, url, operationHandle] {
        if (auto self = weak.lock()) {
            self->dropURL(*operationHandle, url);
        }
    };
    auto operation = factory ? factory(std::move(request), options, std::move(progress),
                                       std::move(completed), std::move(cancelled))
                             : std::make_shared<WIWebImageDownloaderOperation>(
                                   std::move(request), options, std::move(progress),
                                   std::move(completed), std::move(cancelled));
    *operationHandle = operation.get();
    operation->shouldDecompressImages = decompress;
    operation->setLoader(loader_);
    operation->setKeyForURL(keyFilter);
    operation->setOnFinished([weak] {
        if (auto self = weak.lock()) {
            self->operationFinished();
        }
    });
    return operation;
}

void WIWebImageDownloader::cancelCaller(const std::string& url, std::uint64_t id) {
    std::shared_ptr<WIWebImageDownloaderOperation> orphan;
    {
        std::lock_guard lock(callbacksMutex_);
        const auto found = urlCallbacks_.find(url);
        if (found == urlCallbacks_.end()) {
            return;
        }
        auto& callers = found->second.callers;
        std::erase_if(callers, [id](const Callbacks& c) { return c.id == id; });
        if (!callers.empty()) {
            return;
        }
        orphan = std::move(found->second.operation);
        urlCallbacks_.erase(found);
    }
    if (orphan) {
        orphan->cancel();
    }
}

void WIWebImageDownloader::fanOutProgress(const WIWebImageDownloaderOperation* operation,
                                          const std::string& url, std::int64_t received,
                                          std::int64_t expected) {
    std::vector<ImageDownloadProgress> progress;
    {
        std::lock_guard lock(callbacksMutex_);
        const auto found = urlCallbacks_.find(url);
        if (found == urlCallbacks_.end() || found->second.operation.get() != operation) {
            return;
        }
        for (const Callbacks& caller : found->second.callers) {
            if (caller.progress) {
                progress.push_back(caller.progress);
            }
        }
    }
    for (auto& block : progress) {
        DispatchQueue::main().async(
            [block = std::move(block), received, expected] { block(received, expected); });
    }
}

void WIWebImageDownloader::fanOutCompletion(const WIWebImageDownloaderOperation* operation,
                                            const std::string& url,
                                            const std::optional<Image>& image,
                                            const std::optional<Bytes>& data,
                                            const std::optional<platform::Error>& error,
                                            bool finished) {
    std::vector<ImageDownloadCompletion> completions;
    {
        std::lock_guard lock(callbacksMutex_);
        const auto found = urlCallbacks_.find(url);
        if (found == urlCallbacks_.end() || found->second.operation.get() != operation) {
            return;
        }
        for (const Callbacks& caller : found->second.callers) {
            if (caller.completed) {
                completions.push_back(caller.completed);
            }
        }
        if (finished) {
            urlCallbacks_.erase(found);
        }
    }
    for (const auto& completed : completions) {
        completed(image, data, error, finished);
    }
}

void WIWebImageDownloader::dropURL(const WIWebImageDownloaderOperation* operation,
                                   const std::string& url) {
    std::lock_guard lock(callbacksMutex_);
    const auto found = urlCallbacks_.find(url);
    // A later download of the URL keeps its callers.
    if (found != urlCallbacks_.end() && found->second.operation.get() == operation) {
        urlCallbacks_.erase(found);
    }
}

void WIWebImageDownloader::enqueue(std::shared_ptr<WIWebImageDownloaderOperation> operation,
                                   int priority) {
    {
        std::lock_guard lock(queueMutex_);
        waiting_.push_back({std::move(operation), priority, nextSequence_++});
    }
    startWaiting();
}

void WIWebImageDownloader::operationFinished() {
    {
        std::lock_guard lock(queueMutex_);
        --running_;
    }
    startWaiting();
}

void WIWebImageDownloader::startWaiting() {
    std::vector<std::shared_ptr<WIWebImageDownloaderOperation>> starting;
    {
        std::lock_guard lock(queueMutex_);
        const bool lifo = executionOrder() == ImageDownloadOrder::LIFO;
        while (!suspended_ && !waiting_.empty() &&
               (maxConcurrent_ < 0 || running_ < static_cast<std::size_t>(maxConcurrent_))) {
            const auto next = std::min_element(
                waiting_.begin(), waiting_.end(), [lifo](const Waiting& a, const Waiting& b) {
                    if (a.priority != b.priority) {
                        return a.priority > b.priority;
                    }
                    return lifo ? a.sequence > b.sequence : a.sequence < b.sequence;
                });
            starting.push_back(std::move(next->operation));
            waiting_.erase(next);
            ++running_;
        }
    }
    for (const auto& operation : starting) {
        operation->start();
    }
}

void WIWebImageDownloader::setValueForHTTPHeaderField(std::optional<std::string> value,
                                                      const std::string& field) {
    std::lock_guard lock(settingsMutex_);
    if (value) {
        httpHeaders_.set(field, *value);
    } else {
        httpHeaders_.remove(field);
    }
}

std::optional<std::string> WIWebImageDownloader::valueForHTTPHeaderField(
    const std::string& field) const {
    std::lock_guard lock(settingsMutex_);
    return httpHeaders_.get(field);
}

void WIWebImageDownloader::setMaxConcurrentDownloads(int count) {
    {
        std::lock_guard lock(queueMutex_);
        maxConcurrent_ = count;
    }
    startWaiting();
}

int WIWebImageDownloader::maxConcurrentDownloads() const {
    std::lock_guard lock(queueMutex_);
    return maxConcurrent_;
}

std::size_t WIWebImageDownloader::currentDownloadCount() const {
    std::lock_guard lock(queueMutex_);
    return waiting_.size() + running_;
}

void WIWebImageDownloader::setSuspended(bool suspended) {
    {
        std::lock_guard lock(queueMutex_);
        suspended_ = suspended;
    }
    startWaiting();
}

void WIWebImageDownloader::setOperationFactory(OperationFactory factory) {
    std::lock_guard lock(settingsMutex_);
    operationFactory_ = std::move(factory);
}

void WIWebImageDownloader::setCacheKeyFilter(
    std::function<std::string(const std::string&)> filter) {
    std::lock_guard lock(settingsMutex_);
    cacheKeyFilter_ = std::move(filter);
}

void WIWebImageDownloader::cancelAll() {
    std::vector<std::shared_ptr<WIWebImageDownloaderOperation>> operations;
    {
        std::lock_guard lock(queueMutex_);
        for (const Waiting& waiting : waiting_) {
            operations.push_back(waiting.operation);
        }
    }
    {
        std::lock_guard lock(callbacksMutex_);
        for (const auto& [url, inFlight] : urlCallbacks_) {
            if (inFlight.operation) {
                operations.push_back(inFlight.operation);
            }
        }
    }
    for (const auto& operation : operations) {
        operation->cancel();
    }
}

void WIWebImageDownloader::setDownloadTimeout(double seconds) {
    std::lock_guard lock(settingsMutex_);
    downloadTimeout_ = seconds;
}

double WIWebImageDownloader::downloadTimeout() const {
    std::lock_guard lock(settingsMutex_);
    return downloadTimeout_;
}

void WIWebImageDownloader::setExecutionOrder(ImageDownloadOrder order) {
    std::lock_guard lock(settingsMutex_);
    executionOrder_ = order;
}

ImageDownloadOrder WIWebImageDownloader::executionOrder() const {
    std::lock_guard lock(settingsMutex_);
    return executionOrder_;
}

void WIWebImageDownloader::setHeadersFilter(HeadersFilter filter) {
    std::lock_guard lock(settingsMutex_);
    headersFilter_ = std::move(filter);
}

void WIWebImageDownloader::setShouldDecompressImages(bool value) {
    std::lock_guard lock(settingsMutex_);
    shouldDecompressImages_ = value;
}

bool WIWebImageDownloader::shouldDecompressImages() const {
    std::lock_guard lock(settingsMutex_);
    return shouldDecompressImages_;
}

void WIWebImageDownloader::setUsername(std::optional<std::string> username) {
    std::lock_guard lock(settingsMutex_);
    username_ = std::move(username);
}

void WIWebImageDownloader::setPassword(std::optional<std::string> password) {
    std::lock_guard lock(settingsMutex_);
    password_ = std::move(password);
}

std::optional<std::string> WIWebImageDownloader::username() const {
    std::lock_guard lock(settingsMutex_);
    return username_;
}

std::optional<std::string> WIWebImageDownloader::password() const {
    std::lock_guard lock(settingsMutex_);
    return password_;
}
