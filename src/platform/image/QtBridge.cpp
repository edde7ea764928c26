#include "platform/image/QtBridge.h"

#include "platform/image/BitmapImpl.h"

namespace platform::image {

const QImage& qImageOf(const Bitmap& bitmap) {
    return pixelsOf(bitmap);
}

Image imageOf(QImage pixels, double scale) {
    return Image(makeBitmap(std::move(pixels)), scale);
}

}  // namespace platform::image
