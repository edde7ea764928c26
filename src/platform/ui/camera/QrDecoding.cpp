#include "platform/ui/camera/QrDecoding.h"

#include <ZXing/DecodeHints.h>
#include <ZXing/ImageView.h>
#include <ZXing/ReadBarcode.h>

#include <QImage>
#include <cstring>

#include "platform/image/QtBridge.h"

namespace platform::camera {

LuminanceFrame luminanceOf(const image::Image& image) {
    const image::Bitmap bitmap = image.bitmap().oriented(image.orientation());
    const QImage grey = image::qImageOf(bitmap).convertToFormat(QImage::Format_Grayscale8);
    LuminanceFrame frame;
    if (grey.isNull() || grey.width() <= 0 || grey.height() <= 0) {
        return frame;
    }
    frame.width = grey.width();
    frame.height = grey.height();
    const auto rowBytes = static_cast<std::size_t>(frame.width);
    frame.pixels.resize(rowBytes * static_cast<std::size_t>(frame.height));
    // Qt pads its rows; the decoder gets them packed.
    for (int y = 0; y < frame.height; ++y) {
        std::memcpy(frame.pixels.data() + rowBytes * static_cast<std::size_t>(y),
                    grey.constScanLine(y), rowBytes);
    }
    return frame;
}

std::optional<std::string> decodeQrCode(const LuminanceFrame& frame) {
    if (frame.isEmpty() || frame.pixels.size() < static_cast<std::size_t>(frame.width) *
                                                     static_cast<std::size_t>(frame.height)) {
        return std::nullopt;
    }
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const ZXing::ImageView view(frame.pixels.data(), frame.width, frame.height,
                                ZXing::ImageFormat::Lum);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid()) {
        return std::nullopt;
    }
    return result.text();
}

}  // namespace platform::camera
