#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/image/Image.h"

// What every cancellable image load gives its caller.
class WIWebImageOperation {
public:
    virtual ~WIWebImageOperation() = default;
    virtual void cancel() = 0;
};

// The download options, bit by bit.
enum ImageDownloadOptions : std::uint32_t {
    ImageDownloadLowPriority = 1 << 0,
    ImageDownloadProgressive = 1 << 1,
    // Without it the request asks to ignore cached data; the engine keeps no cache either way.
    ImageDownloadUseURLCache = 1 << 2,
    ImageDownloadIgnoreCachedResponse = 1 << 3,
    ImageDownloadContinueInBackground = 1 << 4,
    ImageDownloadHandleCookies = 1 << 5,
    ImageDownloadAllowInvalidCertificates = 1 << 6,
    ImageDownloadHighPriority = 1 << 7,
};

inline constexpr const char* WIWebImageErrorDomain = "WIWebImageErrorDomain";

// Bytes received and expected (-1: unknown).
using ImageDownloadProgress = std::function<void(std::int64_t received, std::int64_t expected)>;
// The image, its bytes or why there is none; finished is false only for a partial image.
using ImageDownloadCompletion = std::function<void(
    std::optional<platform::image::Image> image, std::optional<platform::Bytes> data,
    std::optional<platform::Error> error, bool finished)>;

// Runs the task on the main thread: at once when already there, else waiting for the main
// loop to run it.
void WIDeliverOnMain(const std::function<void()>& task);
