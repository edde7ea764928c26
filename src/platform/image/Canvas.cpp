#include "platform/image/Canvas.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageWriter>
#include <QPainter>
#include <cmath>

#include "platform/image/BitmapImpl.h"
#include "platform/image/ImageSource.h"

namespace platform::image {

struct Canvas::Surface {
    QImage pixels;
};

namespace {

Result<Bytes> encode(const Bitmap& bitmap, const char* format, int quality) {
    if (bitmap.isNull()) {
        return Error{kErrorDomain, kUndecodable, "no pixels to encode"};
    }
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(pixelsOf(bitmap))) {
        return Error{kErrorDomain, kUndecodable, writer.errorString().toStdString()};
    }
    return Bytes(out.begin(), out.end());
}

}  // namespace

Result<Canvas> Canvas::create(Size size, double scale, bool opaque, std::int64_t maxPixels) {
    const double width = std::ceil(size.width * scale);
    const double height = std::ceil(size.height * scale);
    if (!(width >= 1 && height >= 1) || width * height > static_cast<double>(maxPixels)) {
        return Error{kErrorDomain, kTooLarge, "no canvas of that size"};
    }
    QImage pixels(static_cast<int>(width), static_cast<int>(height),
                  opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (pixels.isNull()) {
        return Error{kErrorDomain, kTooLarge, "no memory for the canvas"};
    }
    pixels.fill(opaque ? Qt::black : Qt::transparent);
    Canvas canvas;
    canvas.surface_ = std::make_shared<Surface>(Surface{std::move(pixels)});
    canvas.scale_ = scale;
    return canvas;
}

void Canvas::draw(const Image& image, const Rect& rect) {
    if (image.isNull() || !surface_) {
        return;
    }
    QPainter painter(&surface_->pixels);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage source = pixelsOf(image.bitmap().oriented(image.orientation()));
    painter.drawImage(
        QRectF(rect.x * scale_, rect.y * scale_, rect.width * scale_, rect.height * scale_),
        source);
}

Image Canvas::image() const {
    return surface_ ? Image(makeBitmap(surface_->pixels.copy()), scale_, Orientation::up) : Image();
}

Result<Bytes> encodePNG(const Bitmap& bitmap) {
    return encode(bitmap, "png", -1);
}

Result<Bytes> encodeJPEG(const Bitmap& bitmap, int quality) {
    return encode(bitmap, "jpeg", quality);
}

}  // namespace platform::image
