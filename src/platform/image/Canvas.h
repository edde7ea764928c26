#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/image/Image.h"

namespace platform::image {

// A bitmap to draw images into, sized in points at a scale (the platform's image context).
class Canvas {
public:
    Canvas(Canvas&&) = default;
    Canvas& operator=(Canvas&&) = default;
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // Fails when the size is empty or its pixels exceed maxPixels.
    static Result<Canvas> create(Size size, double scale, bool opaque,
                                 std::int64_t maxPixels = std::int64_t{40} << 20);

    // Draws the image, turned by its orientation, into the rectangle (points), over what is
    // there.
    void draw(const Image& image, const Rect& rect);
    // What was drawn, with the canvas's scale, orientation up.
    [[nodiscard]] Image image() const;

private:
    struct Surface;
    Canvas() = default;
    // Shared only by moves: a canvas is not copied.
    std::shared_ptr<Surface> surface_;
    double scale_ = 1.0;
};

[[nodiscard]] Result<Bytes> encodePNG(const Bitmap& bitmap);
// Quality 0 to 100.
[[nodiscard]] Result<Bytes> encodeJPEG(const Bitmap& bitmap, int quality = 90);

}  // namespace platform::image
