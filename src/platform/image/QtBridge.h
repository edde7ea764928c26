#pragma once

// For the user-interface layer only, which draws with Qt: the pixels behind a bitmap and back.
// The image layer's other headers stay free of Qt.

#include <QImage>

#include "platform/image/Image.h"

namespace platform::image {

// The bitmap's pixels (as decoded, before the image's orientation); a null image for none.
[[nodiscard]] const QImage& qImageOf(const Bitmap& bitmap);
// An image over a copy-on-write share of the pixels.
[[nodiscard]] Image imageOf(QImage pixels, double scale = 1.0);

}  // namespace platform::image
