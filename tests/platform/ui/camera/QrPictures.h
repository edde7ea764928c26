#pragma once

// QR pictures made for the tests with the decoder library's own writer.

#include <QImage>
#include <filesystem>
#include <string>

namespace camera_test {

// The code of the text, black on white with a quiet zone, in a square of about `size` pixels.
QImage qrPicture(const std::string& text, int size = 240);
// The picture saved as a PNG file; returns the file.
std::filesystem::path savePicture(const QImage& picture, const std::filesystem::path& file);

}  // namespace camera_test
