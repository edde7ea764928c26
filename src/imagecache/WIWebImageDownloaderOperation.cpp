#include "imagecache/WIWebImageDownloaderOperation.h"

#include "imagecache/WIImageDecoding.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/Canvas.h"
#include "platform/net/URL.h"

using platform::Bytes;
using platform::DispatchQueue;
using platform::image::Image;
using platform::image::Orientation;
using platform::net::URLError;
using platform::net::URLResponse;

namespace {

platform::Error imageError(const char* description) {
    return platform::Error{WIWebImageErrorDomain, 0, description};
}

}  // namespace

void WIDeliverOnMain(const std::function<void()>& task) {
    // The loop's own thread runs it at once, also between two drives of the loop.
    if (platform::RunLoop::main().isLoopThread()) {
        task();
        return;
    }
    DispatchQueue::main().sync(task);
}

// Hands the engine's events, from the network thread, to the operation's own thread; it keeps
// the operation alive until the transfer ended.
class WIWebImageDownloaderOperation::Client final : public platform::net::TransferClient {
public:
    explicit Client(std::shared_ptr<WIWebImageDownloaderOperation> operation)
        : operation_(std::move(operation)) {}

    bool judgeServerTrust(platform::net::ServerTrust& trust, const std::string& host) override {
        if ((operation_->options_ & ImageDownloadAllowInvalidCertificates) != 0) {
            return true;
        }
        return TransferClient::judgeServerTrust(trust, host);
    }
    void didReceiveResponse(const URLResponse& response) override {
        operation_->thread_->async(
            [operation = operation_, response] { operation->receivedResponse(response); });
    }
    void didReceiveData(std::span<const std::uint8_t> bytes) override {
        operation_->thread_->async(
            [operation = operation_, bytes = Bytes(bytes.begin(), bytes.end())] {
                operation->receivedData(bytes);
            });
    }
    void didComplete(const std::optional<URLError>& error,
                     const std::optional<std::filesystem::path>& /*file*/) override {
        operation_->thread_->async(
            [operation = operation_, error] { operation->completed(error); });
    }

private:
    std::shared_ptr<WIWebImageDownloaderOperation> operation_;
};

WIWebImageDownloaderOperation::WIWebImageDownloaderOperation(platform::net::URLRequest request,
                                                             std::uint32_t options,
                                                             ImageDownloadProgress progress,
                                                             ImageDownloadCompletion completed,
                                                             CancelBlock cancelled)
    : request_(std::move(request)),
      options_(options),
      progress_(std::move(progress)),
      completed_(std::move(completed)),
      cancelBlock_(std::move(cancelled)),
      thread_(
          std::make_shared<platform::SerialQueue>("com.corvantis.WIWebImageDownloaderOperation")) {}

WIWebImageDownloaderOperation::~WIWebImageDownloaderOperation() {
    // The last owner may be a task of the operation's own thread, which cannot wait for
    // itself: the pool lets the queue go once that task is over.
    DispatchQueue::global().async([thread = std::move(thread_)] {});
}

bool WIWebImageDownloaderOperation::shouldContinueWhenAppEntersBackground() const {
    return (options_ & ImageDownloadContinueInBackground) != 0;
}

Orientation WIWebImageDownloaderOperation::orientationFromPropertyValue(long value) {
    return wi::exifOrientationToOrientation(value);
}

platform::net::URLLoader& WIWebImageDownloaderOperation::loader() const {
    return loader_ ? *loader_ : platform::net::URLLoader::shared();
}

void WIWebImageDownloaderOperation::start() {
    thread_->async([self = shared_from_this()] { self->startHere(); });
}

void WIWebImageDownloaderOperation::cancel() {
    if (finished_.load()) {
        return;
    }
    cancelled_.store(true);
    thread_->async([self = shared_from_this()] { self->cancelHere(); });
}

void WIWebImageDownloaderOperation::startHere() {
    if (started_ || finished_) {
        return;
    }
    started_ = true;
    if (cancelled_) {
        done();
        return;
    }
    executing_ = true;
    if (shouldContinueWhenAppEntersBackground()) {
        beginBackgroundTask();
    }
    if (!platform::net::URL::parse(request_.url)) {
        if (completed_) {
            completed_(std::nullopt, std::nullopt,
                       platform::Error{platform::net::kURLErrorDomain, 0,
                                       "Connection can't be initialized"},
                       true);
        }
        done();
        return;
    }
    transfer_ = loader().start(request_, {}, std::make_shared<Client>(shared_from_this()));
    if (progress_) {
        progress_(0, -1);
    }
    post(WIWebImageDownloadStartNotification);
}

void WIWebImageDownloaderOperation::receivedResponse(const URLResponse& response) {
    if (finished_) {
        return;
    }
    const int status = response.statusCode;
    if (status >= 400 || status == 304) {
        loader().cancel(transfer_);
        post(WIWebImageDownloadStopNotification);
        if (completed_) {
            // Not modified: the caller's copy stands. Every caller hears the end once, with
            // no image and no error, so that nothing waits for an answer that never comes.
            if (status == 304) {
                completed_(std::nullopt, std::nullopt, std::nullopt, true);
            } else {
                completed_(std::nullopt, std::nullopt,
                           platform::Error{platform::net::kURLErrorDomain, status, {}}, true);
            }
        }
        done();
        return;
    }
    const std::int64_t expected = std::max<std::int64_t>(response.expectedContentLength, 0);
    if (expected > kMaxImageBytes) {
        failTooLarge();
        return;
    }
    expectedSize_ = expected;
    if (progress_) {
        progress_(0, expected);
    }
    imageData_.reserve(static_cast<std::size_t>(expected));
    response_ = response;
    post(WIWebImageDownloadReceiveResponseNotification);
}

void WIWebImageDownloaderOperation::receivedData(std::span<const std::uint8_t> bytes) {
    if (finished_) {
        return;
    }
    // A body without a length, or longer than announced, is bounded as it arrives.
    if (bytes.size() > static_cast<std::size_t>(kMaxImageBytes) - imageData_.size()) {
        failTooLarge();
        return;
    }
    imageData_.insert(imageData_.end(), bytes.begin(), bytes.end());
    const std::int64_t expected = expectedSize_.load();
    if ((options_ & ImageDownloadProgressive) != 0 && expected > 0 && completed_) {
        deliverPartialImage();
    }
    if (progress_) {
        progress_(static_cast<std::int64_t>(imageData_.size()), expected);
    }
}

void WIWebImageDownloaderOperation::deliverPartialImage() {
    auto source =
        platform::image::ImageSource::create(imageData_, platform::image::Completeness::prefix);
    if (!source || source->count() == 0) {
        return;
    }
    if (width_ == 0 && height_ == 0) {
        const auto& properties = source->properties(0);
        width_ = properties.size.width;
        height_ = properties.size.height;
        orientation_ = orientationFromPropertyValue(
            properties.exifOrientation == 0 ? 1 : properties.exifOrientation);
    }
    if (width_ + height_ <= 0 ||
        static_cast<std::int64_t>(imageData_.size()) >= expectedSize_.load()) {
        return;
    }
    const platform::image::Bitmap& frame = source->frame(0);
    auto canvas = platform::image::Canvas::create(
        {static_cast<double>(width_), static_cast<double>(height_)}, 1.0, false);
    if (!canvas) {
        return;
    }
    // The decoder turned the pixels already, so the partial image is drawn as it stands.
    canvas->draw(Image(frame),
                 {0, 0, static_cast<double>(width_), static_cast<double>(frame.height())});
    const std::string key = keyForURL_ ? keyForURL_(request_.url) : request_.url;
    auto image = wi::ScaledImageForKey(key, canvas->image());
    if (image && shouldDecompressImages) {
        image = wi::decodedImageWithImage(*image);
    }
    if (!image) {
        return;
    }
    WIDeliverOnMain([this, &image] {
        if (completed_ && !finished_) {
            completed_(image, std::nullopt, std::nullopt, false);
        }
    });
}

void WIWebImageDownloaderOperation::completed(const std::optional<URLError>& error) {
    if (finished_) {
        return;
    }
    if (error) {
        post(WIWebImageDownloadStopNotification);
        fail(platform::Error{error->domain, error->code, error->message});
        return;
    }
    const auto completion = completed_;
    DispatchQueue::main().async([sender = static_cast<const void*>(this)] {
        auto& center = platform::NotificationCenter::defaultCenter();
        center.post(WIWebImageDownloadStopNotification, sender);
        center.post(WIWebImageDownloadFinishNotification, sender);
    });
    // The engine keeps no URL cache, so no response comes from one.
    responseFromCached_ = false;
    if (completion) {
        if ((options_ & ImageDownloadIgnoreCachedResponse) != 0 && responseFromCached_) {
            completion(std::nullopt, std::nullopt, std::nullopt, true);
        } else if (imageData_.empty()) {
            completion(std::nullopt, std::nullopt, imageError("Image data is nil"), true);
        } else {
            const std::string key = keyForURL_ ? keyForURL_(request_.url) : request_.url;
            auto image = wi::ScaledImageForKey(key, wi::imageWithData(imageData_));
            if (image && !image->isAnimated() && shouldDecompressImages) {
                image = wi::decodedImageWithImage(*image);
            }
            if (!image || image->isNull() || image->size() == platform::image::Size{0, 0}) {
                completion(std::nullopt, std::nullopt, imageError("Downloaded image has 0 pixels"),
                           true);
            } else {
                completion(std::move(image), std::move(imageData_), std::nullopt, true);
            }
        }
    }
    done();
}

void WIWebImageDownloaderOperation::fail(platform::Error error) {
    if (completed_) {
        completed_(std::nullopt, std::nullopt, std::move(error), true);
    }
    done();
}

void WIWebImageDownloaderOperation::failTooLarge() {
    loader().cancel(transfer_);
    post(WIWebImageDownloadStopNotification);
    fail(platform::Error{platform::net::kURLErrorDomain,
                         platform::net::urlerror::dataLengthExceedsMaximum,
                         "the image is larger than " + std::to_string(kMaxImageBytes) + " bytes"});
}

void WIWebImageDownloaderOperation::cancelHere() {
    if (finished_) {
        return;
    }
    if (cancelBlock_) {
        cancelBlock_();
    }
    if (started_) {
        loader().cancel(transfer_);
        post(WIWebImageDownloadStopNotification);
        done();
        return;
    }
    // Not started: the queue's start finishes it without a request.
    reset();
}

void WIWebImageDownloaderOperation::done() {
    finished_ = true;
    executing_ = false;
    reset();
    endBackgroundTask();
    if (auto onFinished = std::move(onFinished_)) {
        onFinished_ = nullptr;
        onFinished();
    }
}

void WIWebImageDownloaderOperation::reset() {
    cancelBlock_ = nullptr;
    completed_ = nullptr;
    progress_ = nullptr;
    imageData_ = Bytes();
}

void WIWebImageDownloaderOperation::post(const char* notification) {
    DispatchQueue::main().async([notification, sender = static_cast<const void*>(this)] {
        platform::NotificationCenter::defaultCenter().post(notification, sender);
    });
}

void WIWebImageDownloaderOperation::beginBackgroundTask() {
    WIDeliverOnMain([this] {
        platform::AppHost& host = platform::AppHost::current();
        // When the host's time is up the download stops; its end is then told as usual.
        backgroundTask_ =
            host.beginBackgroundTask("WIWebImageDownloaderOperation", [weak = weak_from_this()] {
                if (auto self = weak.lock()) {
                    self->cancel();
                    self->endBackgroundTask();
                }
            });
    });
}

void WIWebImageDownloaderOperation::endBackgroundTask() {
    const auto task = backgroundTask_.exchange(platform::kBackgroundTaskInvalid);
    if (task != platform::kBackgroundTaskInvalid) {
        DispatchQueue::main().async(
            [task] { platform::AppHost::current().endBackgroundTask(task); });
    }
}
