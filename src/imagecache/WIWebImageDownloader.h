#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "imagecache/WIWebImageDownloaderOperation.h"
#include "imagecache/WIWebImageOperation.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/URLLoader.h"

enum class ImageDownloadOrder { FIFO = 0, LIFO = 1 };

// One download operation per URL however many callers ask for it at once: each caller's
// callbacks are kept under the URL and every progress report and the result go to all of
// them. Runs at most six downloads at once (maxConcurrentDownloads), higher queue priority
// first, then in the order asked (FIFO) or newest first (LIFO). Thread-safe.
class WIWebImageDownloader : public std::enable_shared_from_this<WIWebImageDownloader> {
public:
    using HeadersFilter = std::function<platform::net::HTTPHeaders(
        const std::string& url, const platform::net::HTTPHeaders& headers)>;
    using OperationFactory = std::function<std::shared_ptr<WIWebImageDownloaderOperation>(
        platform::net::URLRequest request, std::uint32_t options, ImageDownloadProgress progress,
        ImageDownloadCompletion completed, WIWebImageDownloaderOperation::CancelBlock cancelled)>;

    static constexpr double kDefaultTimeout = 15.0;
    static constexpr int kDefaultMaxConcurrentDownloads = 6;

    static std::shared_ptr<WIWebImageDownloader> sharedDownloader();
    static void setSharedDownloader(std::shared_ptr<WIWebImageDownloader> downloader);

    // Downloads through the loader (the process's when none), which must outlive them.
    static std::shared_ptr<WIWebImageDownloader> create(platform::net::URLLoader* loader = nullptr);
    ~WIWebImageDownloader();
    WIWebImageDownloader(const WIWebImageDownloader&) = delete;
    WIWebImageDownloader& operator=(const WIWebImageDownloader&) = delete;

    // The caller's own handle: cancelling it drops only this caller's callbacks, and the
    // download itself once no caller is left. An empty URL is answered at once with no image,
    // no error and finished false, and gives no handle.
    std::shared_ptr<WIWebImageOperation> downloadImageWithURL(const std::string& url,
                                                              std::uint32_t options,
                                                              ImageDownloadProgress progress,
                                                              ImageDownloadCompletion completed);

    void setValueForHTTPHeaderField(std::optional<std::string> value, const std::string& field);
    [[nodiscard]] std::optional<std::string> valueForHTTPHeaderField(
        const std::string& field) const;
    void setMaxConcurrentDownloads(int count);
    [[nodiscard]] int maxConcurrentDownloads() const;
    // Waiting and running downloads.
    [[nodiscard]] std::size_t currentDownloadCount() const;
    void setSuspended(bool suspended);
    // Null restores the default operation.
    void setOperationFactory(OperationFactory factory);
    // The cache key of a URL, which names an image's scale; the image manager sets its own.
    void setCacheKeyFilter(std::function<std::string(const std::string&)> filter);
    void cancelAll();

    void setDownloadTimeout(double seconds);
    [[nodiscard]] double downloadTimeout() const;
    void setExecutionOrder(ImageDownloadOrder order);
    [[nodiscard]] ImageDownloadOrder executionOrder() const;
    void setHeadersFilter(HeadersFilter filter);
    void setShouldDecompressImages(bool value);
    [[nodiscard]] bool shouldDecompressImages() const;
    // Kept for callers; the engine answers no authentication challenges, so they are not sent.
    void setUsername(std::optional<std::string> username);
    void setPassword(std::optional<std::string> password);
    [[nodiscard]] std::optional<std::string> username() const;
    [[nodiscard]] std::optional<std::string> password() const;

private:
    struct Callbacks {
        std::uint64_t id = 0;
        ImageDownloadProgress progress;
        ImageDownloadCompletion completed;
    };
    struct InFlight {
        std::shared_ptr<WIWebImageDownloaderOperation> operation;
        std::vector<Callbacks> callers;
    };
    struct Waiting {
        std::shared_ptr<WIWebImageDownloaderOperation> operation;
        int priority = 0;
        std::uint64_t sequence = 0;
    };
    class Token;

    explicit WIWebImageDownloader(platform::net::URLLoader* loader);
    std::shared_ptr<WIWebImageDownloaderOperation> makeOperation(const std::string& url,
                                                                 std::uint32_t options);
    void cancelCaller(const std::string& url, std::uint64_t id);
    void fanOutProgress(const WIWebImageDownloaderOperation* operation, const std::string& url,
                        std::int64_t received, std::int64_t expected);
    void fanOutCompletion(const WIWebImageDownloaderOperation* operation, const std::string& url,
                          const std::optional<platform::image::Image>& image,
                          const std::optional<platform::Bytes>& data,
                          const std::optional<platform::Error>& error, bool finished);
    void dropURL(const WIWebImageDownloaderOperation* operation, const std::string& url);
    void enqueue(std::shared_ptr<WIWebImageDownloaderOperation> operation, int priority);
    void operationFinished();
    void startWaiting();

    platform::net::URLLoader* const loader_;

    mutable std::mutex settingsMutex_;
    double downloadTimeout_ = kDefaultTimeout;
    ImageDownloadOrder executionOrder_ = ImageDownloadOrder::FIFO;
    HeadersFilter headersFilter_;
    OperationFactory operationFactory_;
    std::function<std::string(const std::string&)> cacheKeyFilter_;
    platform::net::HTTPHeaders httpHeaders_;
    bool shouldDecompressImages_ = true;
    std::optional<std::string> username_;
    std::optional<std::string> password_;

    // The callers of every URL in flight.
    mutable std::mutex callbacksMutex_;
    std::map<std::string, InFlight> urlCallbacks_;
    std::uint64_t nextCallerId_ = 1;

    // The download queue.
    mutable std::mutex queueMutex_;
    std::vector<Waiting> waiting_;
    std::size_t running_ = 0;
    int maxConcurrent_ = kDefaultMaxConcurrentDownloads;
    bool suspended_ = false;
    std::uint64_t nextSequence_ = 0;
};
