#pragma once

#include <filesystem>

#include "platform/ui/camera/QrCamera.h"

namespace platform::camera {

// The test double: a camera that films the pictures in image files, one frame per file, when
// told to. Its frames are shown and read as the real camera's are, decoded on the reader's
// queue. Made unavailable, it stands for a machine without a camera.
class ImageFileCamera final : public QrCamera {
public:
    explicit ImageFileCamera(RunLoop& loop, bool available = true);

    [[nodiscard]] bool isAvailable() const override { return available_; }
    void setAvailable(bool available) { available_ = available; }

    // Films the file's picture as one frame. True when the reader took it; false when the
    // camera is stopped or the reader let the frame go; an error when the file holds no
    // picture that can be read.
    Result<bool> film(const std::filesystem::path& file);
    // Filming ends by itself, as when a camera is unplugged.
    void fail(const std::string& reason);

    [[nodiscard]] int startCount() const { return starts_; }

private:
    Result<void> startFilming() override;
    void stopFilming() override {}

    bool available_;
    int starts_ = 0;
};

}  // namespace platform::camera
