#include "platform/ui/camera/SystemCamera.h"

#include <QCamera>
#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrame>
#include <QVideoSink>
#include <optional>

#include "platform/image/QtBridge.h"
#include "platform/ui/View.h"

namespace platform::camera {
namespace {

std::optional<QCameraDevice> deviceWithId(const std::string& id) {
    if (id.empty()) {
        return std::nullopt;
    }
    for (const QCameraDevice& device : QMediaDevices::videoInputs()) {
        if (device.id().toStdString() == id) {
            return device;
        }
    }
    return std::nullopt;
}

}  // namespace

// One camera session, from start to stop.
struct SystemCamera::Filming {
    explicit Filming(const QCameraDevice& device) : camera(device) {
        session.setCamera(&camera);
        session.setVideoSink(&sink);
    }
    QCamera camera;
    QVideoSink sink;
    QMediaCaptureSession session;
};

SystemCamera::SystemCamera(RunLoop& loop, std::string deviceId)
    : QrCamera(loop),
      loop_(loop),
      deviceId_(std::move(deviceId)),
      frames_(loop, [this](const QVideoFrame& frame) { takeFrame(frame); }) {}

SystemCamera::~SystemCamera() {
    stop();
}

std::string SystemCamera::defaultDeviceId() {
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    return device.isNull() ? std::string() : device.id().toStdString();
}

bool SystemCamera::isAvailable() const {
    return deviceWithId(deviceId_).has_value();
}

Result<void> SystemCamera::startFilming() {
    const auto device = deviceWithId(deviceId_);
    if (!device) {
        return cameraError(CameraError::unavailable, "No camera is available");
    }
    auto filming = std::make_unique<Filming>(*device);
    if (filming->camera.error() != QCamera::NoError) {
        return cameraError(CameraError::failed, ui::toStdString(filming->camera.errorString()));
    }
    // Straight from the backend's thread.
    QObject::connect(&filming->sink, &QVideoSink::videoFrameChanged, &filming->sink,
                     frames_.putter(), Qt::DirectConnection);
    QObject::connect(&filming->camera, &QCamera::errorOccurred, &filming->camera,
                     [&loop = loop_, weak = weak_.weakPtr()](QCamera::Error, const QString& text) {
                         loop.post([weak, message = ui::toStdString(text)] {
                             if (SystemCamera* camera = weak.get()) {
                                 camera->filmingFailed(cameraError(CameraError::failed, message));
                             }
                         });
                     });
    filming->camera.start();
    filming_ = std::move(filming);
    return {};
}

void SystemCamera::stopFilming() {
    if (filming_) {
        filming_->camera.stop();
        filming_.reset();
    }
    frames_.clear();
}

void SystemCamera::takeFrame(const QVideoFrame& frame) {
    if (!frame.isValid() || !isRunning()) {
        return;
    }
    // Mapped and converted here: only the frames the loop takes cost the work.
    const QImage picture = frame.toImage();
    if (!picture.isNull()) {
        frameFilmed(image::imageOf(picture));
    }
}

}  // namespace platform::camera
