#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/image/Image.h"

namespace platform::camera {

// A frame as the decoder reads it: one byte of brightness per pixel, rows packed.
struct LuminanceFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    [[nodiscard]] bool isEmpty() const { return width <= 0 || height <= 0; }
};

// The brightness of the image's pixels as drawn (its orientation applied); empty for an image
// without pixels.
[[nodiscard]] LuminanceFrame luminanceOf(const image::Image& image);

// The text of a QR code in the frame, exactly as encoded; nothing when the frame holds none.
// Other kinds of code are not looked for. Any thread.
[[nodiscard]] std::optional<std::string> decodeQrCode(const LuminanceFrame& frame);

}  // namespace platform::camera
