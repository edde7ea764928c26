#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "imagecache/WIWebImageOperation.h"
#include "platform/foundation/Dispatch.h"
#include "platform/host/AppHost.h"
#include "platform/image/Image.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/URLLoader.h"

// Posted on the main queue with the operation as sender.
inline constexpr const char* WIWebImageDownloadStartNotification =
    "WIWebImageDownloadStartNotification";
inline constexpr const char* WIWebImageDownloadReceiveResponseNotification =
    "WIWebImageDownloadReceiveResponseNotification";
inline constexpr const char* WIWebImageDownloadStopNotification =
    "WIWebImageDownloadStopNotification";
inline constexpr const char* WIWebImageDownloadFinishNotification =
    "WIWebImageDownloadFinishNotification";

// Downloads one image URL through the URL-loading engine and turns the bytes into an image:
// progress, partial images when asked, then one final result. The engine's events are handed
// to a serial queue of the operation's own (its thread), where progress and completion
// callbacks run; partial images are delivered on the main thread. cancel may come from any
// thread. After it finished the operation calls nothing any more.
class WIWebImageDownloaderOperation
    : public WIWebImageOperation,
      public std::enable_shared_from_this<WIWebImageDownloaderOperation> {
public:
    using CancelBlock = std::function<void()>;
    // The cache key of a URL, which names an image's scale ("@2x.").
    using KeyForURL = std::function<std::string(const std::string& url)>;
    // The most bytes an image may have: a larger announced length, or more bytes than this,
    // fail the load rather than what the server says being taken as memory to reserve.
    static constexpr std::int64_t kMaxImageBytes = std::int64_t{32} << 20;

    WIWebImageDownloaderOperation(platform::net::URLRequest request, std::uint32_t options,
                                  ImageDownloadProgress progress, ImageDownloadCompletion completed,
                                  CancelBlock cancelled);
    ~WIWebImageDownloaderOperation() override;

    // Runs the download (the queue calls it once). An operation cancelled before finishes at
    // once without a request and without calling back.
    void start();
    void cancel() override;

    [[nodiscard]] bool isExecuting() const { return executing_.load(); }
    [[nodiscard]] bool isFinished() const { return finished_.load(); }
    [[nodiscard]] bool isCancelled() const { return cancelled_.load(); }
    [[nodiscard]] bool shouldContinueWhenAppEntersBackground() const;
    [[nodiscard]] const platform::net::URLRequest& request() const { return request_; }
    [[nodiscard]] std::uint32_t options() const { return options_; }
    [[nodiscard]] std::int64_t expectedSize() const { return expectedSize_.load(); }

    // The EXIF orientation table (1 to 8; anything else is up).
    static platform::image::Orientation orientationFromPropertyValue(long value);

    // Set before start.
    std::atomic<bool> shouldDecompressImages{true};
    void setKeyForURL(KeyForURL keyForURL) { keyForURL_ = std::move(keyForURL); }
    void setLoader(platform::net::URLLoader* loader) { loader_ = loader; }
    // The queue hears the end once, on the operation's thread.
    void setOnFinished(std::function<void()> onFinished) { onFinished_ = std::move(onFinished); }

private:
    class Client;

    [[nodiscard]] platform::net::URLLoader& loader() const;
    void startHere();
    void receivedResponse(const platform::net::URLResponse& response);
    void receivedData(std::span<const std::uint8_t> bytes);
    void completed(const std::optional<platform::net::URLError>& error);
    void cancelHere();
    void deliverPartialImage();
    void fail(platform::Error error);
    void failTooLarge();
    void done();
    void reset();
    void post(const char* notification);
    void beginBackgroundTask();
    void endBackgroundTask();

    const platform::net::URLRequest request_;
    const std::uint32_t options_;
    KeyForURL keyForURL_;
    platform::net::URLLoader* loader_ = nullptr;
    std::function<void()> onFinished_;

    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<std::int64_t> expectedSize_{0};
    // Asked of the host on the main thread; ended once, by the end or the host's expiry.
    std::atomic<platform::BackgroundTaskIdentifier> backgroundTask_{
        platform::kBackgroundTaskInvalid};

    // The rest lives on the operation's thread.
    ImageDownloadProgress progress_;
    ImageDownloadCompletion completed_;
    CancelBlock cancelBlock_;
    bool started_ = false;
    bool responseFromCached_ = true;
    platform::net::URLLoader::TransferId transfer_ = 0;
    std::optional<platform::net::URLResponse> response_;
    platform::Bytes imageData_;
    int width_ = 0;
    int height_ = 0;
    platform::image::Orientation orientation_ = platform::image::Orientation::up;
    // The operation's thread; handed to the pool when the operation goes, so that it can end
    // while a task of its own still runs.
    std::shared_ptr<platform::SerialQueue> thread_;
};
