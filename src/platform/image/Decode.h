#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/image/Image.h"
#include "platform/image/ImageSource.h"

namespace platform::image {

// The scale of the screen images are made for. A headless run has no screen; the screens,
// when they come, draw at their own device pixel ratio over this.
inline constexpr double kMainScreenScale = 1.0;

// The platform's image from data: a still image of scale 1 (orientation applied to the
// pixels), or, for a GIF of several frames, an animation lasting the sum of their clamped
// delays.
[[nodiscard]] Result<Image> decodeImage(std::span<const std::uint8_t> data,
                                        const DecodeLimits& limits = {});

// An image carried in a Value (a response object, a dictionary entry).
class ImageObject : public ValueObject {
public:
    explicit ImageObject(Image image) : image_(std::move(image)) {}
    [[nodiscard]] const Image& image() const { return image_; }
    [[nodiscard]] const char* className() const override { return "UIImage"; }

private:
    Image image_;
};

[[nodiscard]] inline Value imageValue(Image image) {
    return Value(
        std::shared_ptr<const ValueObject>(std::make_shared<ImageObject>(std::move(image))));
}

[[nodiscard]] inline std::optional<Image> imageFromValue(const Value& value) {
    if (const auto object = value.objectAs<ImageObject>()) {
        return object->image();
    }
    return std::nullopt;
}

}  // namespace platform::image
