#pragma once

// Inside the image layer only: what a bitmap holds.

#include <QImage>

#include "platform/image/Image.h"

namespace platform::image {

struct Bitmap::Impl {
    QImage pixels;
};

inline Bitmap makeBitmap(QImage pixels) {
    if (pixels.isNull()) {
        return Bitmap();
    }
    return Bitmap(std::make_shared<const Bitmap::Impl>(Bitmap::Impl{std::move(pixels)}));
}

// Pixels of that size and format, not yet set: large ones on huge pages, since a fresh
// multi-megabyte bitmap otherwise costs more in page faults than decoding into it.
QImage blankPixels(int width, int height, QImage::Format format);

inline const QImage& pixelsOf(const Bitmap& bitmap) {
    static const QImage kNone;
    return bitmap.impl() != nullptr ? bitmap.impl()->pixels : kNone;
}

}  // namespace platform::image
