#include "platform/ui/camera/ImageFileCamera.h"

#include <cstdint>
#include <span>

#include "platform/foundation/FileSystem.h"
#include "platform/image/Decode.h"

namespace platform::camera {

ImageFileCamera::ImageFileCamera(RunLoop& loop, bool available)
    : QrCamera(loop), available_(available) {}

Result<void> ImageFileCamera::startFilming() {
    ++starts_;
    return {};
}

Result<bool> ImageFileCamera::film(const std::filesystem::path& file) {
    if (!isRunning()) {
        return false;
    }
    const auto bytes = fs::readFile(file);
    if (!bytes) {
        return cameraError(CameraError::unreadable,
                           "Cannot read " + file.string() + ": " + bytes.error().message);
    }
    const auto picture = image::decodeImage(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
    if (!picture) {
        return cameraError(CameraError::unreadable,
                           "No picture in " + file.string() + ": " + picture.error().message);
    }
    return frameFilmed(*picture);
}

void ImageFileCamera::fail(const std::string& reason) {
    filmingFailed(cameraError(CameraError::failed, reason));
}

}  // namespace platform::camera
