#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform::image {

// How an image's pixels are turned for display, with the phone platform's numbers.
enum class Orientation {
    up = 0,
    down = 1,
    left = 2,
    right = 3,
    upMirrored = 4,
    downMirrored = 5,
    leftMirrored = 6,
    rightMirrored = 7,
};

// Where a bitmap keeps its alpha, with the phone platform's numbers.
enum class AlphaInfo {
    none = 0,
    premultipliedLast = 1,
    premultipliedFirst = 2,
    last = 3,
    first = 4,
    noneSkipLast = 5,
    noneSkipFirst = 6,
    only = 7,
};

enum class ColorModel { unknown = -1, monochrome = 0, rgb = 1, cmyk = 2, indexed = 5 };

struct PixelSize {
    int width = 0;
    int height = 0;
    [[nodiscard]] std::int64_t pixels() const { return std::int64_t{width} * height; }
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// Sizes and rectangles in points (pixels divided by the scale).
struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Decoded pixels, immutable and shared: copying a bitmap is cheap.
class Bitmap {
public:
    struct Impl;

    Bitmap() = default;
    explicit Bitmap(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}

    // One colour (straight ARGB) all over; with alpha or opaque.
    static Bitmap filled(PixelSize size, std::uint32_t argb, bool withAlpha);

    [[nodiscard]] bool isNull() const;
    [[nodiscard]] PixelSize size() const;
    [[nodiscard]] int width() const { return size().width; }
    [[nodiscard]] int height() const { return size().height; }
    [[nodiscard]] AlphaInfo alphaInfo() const;
    // Whether the layout has an alpha channel (not whether any pixel is transparent).
    [[nodiscard]] bool hasAlpha() const;
    [[nodiscard]] int bitsPerComponent() const;
    [[nodiscard]] ColorModel colorModel() const;
    [[nodiscard]] std::size_t byteCount() const;
    // Straight ARGB of one pixel; 0 outside the bitmap.
    [[nodiscard]] std::uint32_t pixel(int x, int y) const;

    // A new bitmap of the same pixels turned as the orientation says (as drawing shows them).
    [[nodiscard]] Bitmap oriented(Orientation orientation) const;
    // A fresh copy in the layout asked for: premultiplied-first, none-skip-last, else
    // none-skip-first (opaque).
    [[nodiscard]] Bitmap redrawn(AlphaInfo layout) const;
    [[nodiscard]] Bitmap scaled(PixelSize size) const;
    // The part inside the rectangle (pixels), clipped to the bitmap.
    [[nodiscard]] Bitmap cropped(int x, int y, int width, int height) const;

    [[nodiscard]] const Impl* impl() const { return impl_.get(); }
    // Whether two bitmaps share their pixels.
    [[nodiscard]] bool sharesPixelsWith(const Bitmap& other) const;

private:
    std::shared_ptr<const Impl> impl_;
};

// What the phone platform draws: a bitmap with a scale and an orientation, or an animation
// (frames shown for equal shares of a duration).
class Image {
public:
    Image() = default;
    explicit Image(Bitmap bitmap, double scale = 1.0, Orientation orientation = Orientation::up)
        : bitmap_(std::move(bitmap)), scale_(scale), orientation_(orientation) {}

    // The first frame gives the animation its bitmap, scale and orientation. An empty list
    // gives an image without pixels, frames or duration.
    static Image animated(std::vector<Image> frames, double duration);

    [[nodiscard]] bool isNull() const { return bitmap_.isNull(); }
    [[nodiscard]] const Bitmap& bitmap() const { return bitmap_; }
    [[nodiscard]] double scale() const { return scale_; }
    [[nodiscard]] Orientation orientation() const { return orientation_; }
    // An animation has a non-empty frame list.
    [[nodiscard]] bool isAnimated() const { return !frames_.empty(); }
    [[nodiscard]] const std::vector<Image>& frames() const { return frames_; }
    [[nodiscard]] double duration() const { return duration_; }
    [[nodiscard]] bool hasAlpha() const { return bitmap_.hasAlpha(); }
    // Points, turned by the orientation.
    [[nodiscard]] Size size() const;

    [[nodiscard]] Image withScale(double scale) const;
    [[nodiscard]] Image withOrientation(Orientation orientation) const;

private:
    Bitmap bitmap_;
    double scale_ = 1.0;
    Orientation orientation_ = Orientation::up;
    std::vector<Image> frames_;
    double duration_ = 0;
};

}  // namespace platform::image
