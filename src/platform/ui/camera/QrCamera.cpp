#include "platform/ui/camera/QrCamera.h"

#include <utility>

namespace platform::camera {

Error cameraError(CameraError code, std::string message) {
    return Error{kErrorDomain, static_cast<long>(code), std::move(message)};
}

QrCamera::QrCamera(RunLoop& loop)
    : reader_(loop, [this](const std::string& text) {
          if (const QrCodeReader::CodeHandler handler = handlers_.code) {
              handler(text);
          }
      }) {}

QrCamera::~QrCamera() = default;

Result<void> QrCamera::start(Handlers handlers) {
    if (!running_) {
        if (!isAvailable()) {
            return cameraError(CameraError::unavailable, "No camera is available");
        }
        if (auto started = startFilming(); !started) {
            return started;
        }
        running_ = true;
    }
    handlers_ = std::move(handlers);
    reader_.arm();
    return {};
}

void QrCamera::stop() {
    reader_.disarm();
    if (!running_) {
        return;
    }
    running_ = false;
    stopFilming();
    if (preview_) {
        preview_->setImage({});
    }
}

void QrCamera::setPreview(ui::ImageView* preview) {
    preview_ = preview;
}

bool QrCamera::frameFilmed(const image::Image& frame) {
    if (!running_) {
        return false;
    }
    if (preview_) {
        preview_->setImage(frame);
    }
    return reader_.read(frame);
}

void QrCamera::filmingFailed(const Error& error) {
    if (!running_) {
        return;
    }
    const auto failure = handlers_.failure;
    stop();
    if (failure) {
        failure(error);
    }
}

}  // namespace platform::camera
