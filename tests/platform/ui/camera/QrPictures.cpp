#include "QrPictures.h"

#include <ZXing/BarcodeFormat.h>
#include <ZXing/BitMatrix.h>
#include <ZXing/CharacterSet.h>
#include <ZXing/MultiFormatWriter.h>

#include <stdexcept>

namespace camera_test {

QImage qrPicture(const std::string& text, int size) {
    const ZXing::BitMatrix matrix = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                                        .setEncoding(ZXing::CharacterSet::UTF8)
                                        .setMargin(4)
                                        .encode(text, size, size);
    QImage picture(matrix.width(), matrix.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < matrix.height(); ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < matrix.width(); ++x) {
            row[x] = matrix.get(x, y) ? 0 : 255;
        }
    }
    return picture;
}

std::filesystem::path savePicture(const QImage& picture, const std::filesystem::path& file) {
    if (!picture.save(QString::fromStdString(file.string()), "PNG")) {
        throw std::runtime_error("cannot save " + file.string());
    }
    return file;
}

}  // namespace camera_test
