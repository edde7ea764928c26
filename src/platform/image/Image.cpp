#include "platform/image/Image.h"

#include <QTransform>
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/image/BitmapImpl.h"
#include "platform/image/PixelMemory.h"

namespace platform::image {

namespace {

bool isSideways(Orientation orientation) {
    switch (orientation) {
        case Orientation::left:
        case Orientation::right:
        case Orientation::leftMirrored:
        case Orientation::rightMirrored:
            return true;
        default:
            return false;
    }
}

}  // namespace

QImage blankPixels(int width, int height, QImage::Format format) {
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    // Indexed and sub-byte formats need a colour table Qt sets up itself.
    if (width <= 0 || height <= 0 || depth < 8 || format == QImage::Format_Indexed8) {
        return QImage(width, height, format);
    }
    // Qt's own line length: 32-bit aligned.
    const std::int64_t bytesPerLine = ((std::int64_t{width} * depth + 31) >> 5) << 2;
    const std::int64_t bytes = bytesPerLine * height;
    if (bytes < static_cast<std::int64_t>(PixelMemory::kLargeBitmapBytes) ||
        bytesPerLine > std::numeric_limits<int>::max()) {
        return QImage(width, height, format);
    }
    std::unique_ptr<PixelBlock> block = PixelMemory::shared().lend(static_cast<std::size_t>(bytes));
    if (!block) {
        return QImage(width, height, format);
    }
    QImage pixels(
        static_cast<uchar*>(block->data()), width, height, static_cast<qsizetype>(bytesPerLine),
        format, [](void* lent) { delete static_cast<PixelBlock*>(lent); }, block.get());
    if (pixels.isNull()) {
        return QImage(width, height, format);
    }
    (void)block.release();  // the pixels own it now
    return pixels;
}

Bitmap Bitmap::filled(PixelSize size, std::uint32_t argb, bool withAlpha) {
    QImage pixels(size.width, size.height,
                  withAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    pixels.fill(QColor::fromRgba(argb));
    return makeBitmap(std::move(pixels));
}

bool Bitmap::isNull() const {
    return pixelsOf(*this).isNull();
}

PixelSize Bitmap::size() const {
    const QImage& pixels = pixelsOf(*this);
    return {pixels.width(), pixels.height()};
}

AlphaInfo Bitmap::alphaInfo() const {
    switch (pixelsOf(*this).format()) {
        case QImage::Format_ARGB32_Premultiplied:
        case QImage::Format_ARGB8565_Premultiplied:
        case QImage::Format_ARGB6666_Premultiplied:
        case QImage::Format_ARGB8555_Premultiplied:
        case QImage::Format_ARGB4444_Premultiplied:
        case QImage::Format_A2RGB30_Premultiplied:
        case QImage::Format_A2BGR30_Premultiplied:
            return AlphaInfo::premultipliedFirst;
        case QImage::Format_ARGB32:
            return AlphaInfo::first;
        case QImage::Format_RGBA8888:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA16FPx4:
        case QImage::Format_RGBA32FPx4:
            return AlphaInfo::last;
        case QImage::Format_RGBA8888_Premultiplied:
        case QImage::Format_RGBA64_Premultiplied:
        case QImage::Format_RGBA16FPx4_Premultiplied:
        case QImage::Format_RGBA32FPx4_Premultiplied:
            return AlphaInfo::premultipliedLast;
        case QImage::Format_RGB32:
            return AlphaInfo::noneSkipFirst;
        case QImage::Format_RGBX8888:
        case QImage::Format_RGBX64:
        case QImage::Format_RGBX16FPx4:
        case QImage::Format_RGBX32FPx4:
            return AlphaInfo::noneSkipLast;
        case QImage::Format_Alpha8:
            return AlphaInfo::only;
        case QImage::Format_Indexed8:
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            return pixelsOf(*this).hasAlphaChannel() ? AlphaInfo::last : AlphaInfo::none;
        default:
            return AlphaInfo::none;
    }
}

bool Bitmap::hasAlpha() const {
    switch (alphaInfo()) {
        case AlphaInfo::premultipliedLast:
        case AlphaInfo::premultipliedFirst:
        case AlphaInfo::last:
        case AlphaInfo::first:
        case AlphaInfo::only:
            return true;
        default:
            return false;
    }
}

int Bitmap::bitsPerComponent() const {
    const QImage& pixels = pixelsOf(*this);
    if (pixels.isNull()) {
        return 0;
    }
    switch (pixels.format()) {
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            return 1;
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied:
        case QImage::Format_Grayscale16:
        case QImage::Format_RGBX16FPx4:
        case QImage::Format_RGBA16FPx4:
        case QImage::Format_RGBA16FPx4_Premultiplied:
            return 16;
        case QImage::Format_RGBX32FPx4:
        case QImage::Format_RGBA32FPx4:
        case QImage::Format_RGBA32FPx4_Premultiplied:
            return 32;
        default:
            return 8;
    }
}

ColorModel Bitmap::colorModel() const {
    const QImage& pixels = pixelsOf(*this);
    if (pixels.isNull()) {
        return ColorModel::unknown;
    }
    switch (pixels.format()) {
        case QImage::Format_Grayscale8:
        case QImage::Format_Grayscale16:
        case QImage::Format_Alpha8:
            return ColorModel::monochrome;
        case QImage::Format_Indexed8:
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            return ColorModel::indexed;
        default:
            return ColorModel::rgb;
    }
}

std::size_t Bitmap::byteCount() const {
    return static_cast<std::size_t>(pixelsOf(*this).sizeInBytes());
}

std::uint32_t Bitmap::pixel(int x, int y) const {
    const QImage& pixels = pixelsOf(*this);
    if (!pixels.valid(x, y)) {
        return 0;
    }
    return pixels.pixel(x, y);
}

Bitmap Bitmap::oriented(Orientation orientation) const {
    const QImage& pixels = pixelsOf(*this);
    QTransform turn;
    bool mirror = false;
    switch (orientation) {
        case Orientation::up:
            return *this;
        case Orientation::down:
            turn.rotate(180);
            break;
        case Orientation::left:
            turn.rotate(-90);
            break;
        case Orientation::right:
            turn.rotate(90);
            break;
        case Orientation::upMirrored:
            mirror = true;
            break;
        case Orientation::downMirrored:
            mirror = true;
            turn.rotate(180);
            break;
        case Orientation::leftMirrored:
            mirror = true;
            turn.rotate(-90);
            break;
        case Orientation::rightMirrored:
            mirror = true;
            turn.rotate(90);
            break;
    }
    QImage source = mirror ? pixels.mirrored(true, false) : pixels;
    return makeBitmap(turn.isIdentity() ? source : source.transformed(turn));
}

Bitmap Bitmap::redrawn(AlphaInfo layout) const {
    const QImage& pixels = pixelsOf(*this);
    if (pixels.isNull()) {
        return Bitmap();
    }
    QImage::Format format = QImage::Format_RGB32;
    if (layout == AlphaInfo::premultipliedFirst) {
        format = QImage::Format_ARGB32_Premultiplied;
    } else if (layout == AlphaInfo::noneSkipLast) {
        format = QImage::Format_RGBX8888;
    }
    // Opaque 0xffRRGGBB pixels are already premultiplied: copying them is the whole drawing,
    // where Qt's general conversion goes pixel by pixel at several times the cost of decoding.
    if (pixels.format() == QImage::Format_RGB32 && format == QImage::Format_ARGB32_Premultiplied) {
        QImage drawn = blankPixels(pixels.width(), pixels.height(), format);
        if (drawn.isNull()) {
            return Bitmap();
        }
        const auto lineBytes =
            static_cast<std::size_t>(std::min(pixels.bytesPerLine(), drawn.bytesPerLine()));
        for (int y = 0; y < pixels.height(); ++y) {
            std::memcpy(drawn.scanLine(y), pixels.constScanLine(y), lineBytes);
        }
        return makeBitmap(std::move(drawn));
    }
    // A conversion to the format a picture already has shares its pixels; the copy makes
    // the drawing real, as the platform's bitmap context does.
    QImage drawn = pixels.convertToFormat(format);
    if (drawn.constBits() == pixels.constBits()) {
        drawn = drawn.copy();
    }
    return makeBitmap(std::move(drawn));
}

Bitmap Bitmap::scaled(PixelSize size) const {
    const QImage& pixels = pixelsOf(*this);
    if (pixels.isNull() || size.width <= 0 || size.height <= 0) {
        return Bitmap();
    }
    return makeBitmap(
        pixels.scaled(size.width, size.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

Bitmap Bitmap::cropped(int x, int y, int width, int height) const {
    const QImage& pixels = pixelsOf(*this);
    const QRect area = QRect(x, y, width, height).intersected(pixels.rect());
    if (area.isEmpty()) {
        return Bitmap();
    }
    return makeBitmap(pixels.copy(area));
}

bool Bitmap::sharesPixelsWith(const Bitmap& other) const {
    return !isNull() && !other.isNull() &&
           pixelsOf(*this).constBits() == pixelsOf(other).constBits();
}

Image Image::animated(std::vector<Image> frames, double duration) {
    Image made;
    if (frames.empty()) {
        return made;
    }
    made.bitmap_ = frames.front().bitmap_;
    made.scale_ = frames.front().scale_;
    made.orientation_ = frames.front().orientation_;
    made.frames_ = std::move(frames);
    made.duration_ = duration;
    return made;
}

Size Image::size() const {
    const PixelSize pixels = bitmap_.size();
    const double scale = scale_ > 0 ? scale_ : 1.0;
    Size points{pixels.width / scale, pixels.height / scale};
    if (isSideways(orientation_)) {
        std::swap(points.width, points.height);
    }
    return points;
}

Image Image::withScale(double scale) const {
    Image made = *this;
    made.scale_ = scale;
    return made;
}

Image Image::withOrientation(Orientation orientation) const {
    Image made = *this;
    made.orientation_ = orientation;
    return made;
}

}  // namespace platform::image
