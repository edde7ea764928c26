#include "platform/image/ImageSource.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageIOHandler>
#include <QImageReader>
#include <cstring>
#include <limits>

#include "platform/image/BitmapImpl.h"
#include "platform/image/FileStructure.h"

namespace platform::image {

namespace {

Error imageError(ErrorCode code, std::string message) {
    return Error{kErrorDomain, code, std::move(message)};
}

bool startsWith(std::span<const std::uint8_t> data, std::string_view magic) {
    return data.size() >= magic.size() && std::memcmp(data.data(), magic.data(), magic.size()) == 0;
}

// The EXIF orientation a reader's transformation stands for.
int exifOrientation(QImageIOHandler::Transformations transformation) {
    switch (static_cast<int>(transformation)) {
        case QImageIOHandler::TransformationNone:
            return 1;
        case QImageIOHandler::TransformationMirror:
            return 2;
        case QImageIOHandler::TransformationRotate180:
            return 3;
        case QImageIOHandler::TransformationFlip:
            return 4;
        case QImageIOHandler::TransformationFlipAndRotate90:
            return 5;
        case QImageIOHandler::TransformationRotate90:
            return 6;
        case QImageIOHandler::TransformationMirrorAndRotate90:
            return 7;
        case QImageIOHandler::TransformationRotate270:
            return 8;
        default:
            return 0;
    }
}

bool fitsLimits(PixelSize size, std::size_t frames, const DecodeLimits& limits) {
    if (size.width < 0 || size.height < 0 || size.pixels() > limits.maxPixelsPerFrame) {
        return false;
    }
    return frames <= limits.maxFrames &&
           size.pixels() * 4 * static_cast<std::int64_t>(std::max<std::size_t>(frames, 1)) <=
               limits.maxTotalBytes;
}

// Qt reports GIF delays already raised to its own minimum; the file's own are what count.
GifDelays gifDelays(std::optional<std::uint16_t> centiseconds) {
    const double stated = centiseconds ? *centiseconds / 100.0 : 0.0;
    return {stated, stated < 0.011 ? 0.1 : stated};
}

}  // namespace

Format sniffFormat(std::span<const std::uint8_t> data) {
    if (startsWith(data, "\xFF\xD8\xFF")) {
        return Format::jpeg;
    }
    if (startsWith(data, "\x89PNG\r\n\x1A\n")) {
        return Format::png;
    }
    if (startsWith(data, "GIF87a") || startsWith(data, "GIF89a")) {
        return Format::gif;
    }
    if (startsWith(data, std::string_view("II*\0", 4)) ||
        startsWith(data, std::string_view("MM\0*", 4))) {
        return Format::tiff;
    }
    if (data.size() >= 12 && startsWith(data, "RIFF") &&
        std::memcmp(data.data() + 8, "WEBP", 4) == 0) {
        return Format::webp;
    }
    if (startsWith(data, "BM")) {
        return Format::bmp;
    }
    if (startsWith(data, std::string_view("\0\0\1\0", 4))) {
        return Format::ico;
    }
    return Format::unknown;
}

std::string_view formatName(Format format) {
    switch (format) {
        case Format::jpeg:
            return "jpeg";
        case Format::png:
            return "png";
        case Format::gif:
            return "gif";
        case Format::tiff:
            return "tiff";
        case Format::webp:
            return "webp";
        case Format::bmp:
            return "bmp";
        case Format::ico:
            return "ico";
        case Format::unknown:
            break;
    }
    return "";
}

Result<ImageSource> ImageSource::create(std::span<const std::uint8_t> data,
                                        Completeness completeness, const DecodeLimits& limits) {
    const Format format = sniffFormat(data);
    if (format == Format::unknown) {
        return imageError(kUnknownFormat, "no image format starts these bytes");
    }
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return imageError(kTooLarge, "image data of 2 GiB or more");
    }
    const FileStructure structure = walkStructure(format, data);
    const bool walked = format == Format::jpeg || format == Format::png || format == Format::gif;
    if (walked) {
        if (!structure.valid) {
            return imageError(kMalformed, "malformed " + std::string(formatName(format)));
        }
        if (completeness == Completeness::whole && !structure.complete) {
            return imageError(kMalformed, std::string(formatName(format)) + " cut short");
        }
        if (structure.emptyFrame) {
            return imageError(kMalformed, "a frame without pixels");
        }
        if (!fitsLimits(structure.size, structure.frames, limits)) {
            return imageError(kTooLarge, "image beyond the decode limits");
        }
    }

    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()),
                                                     static_cast<qsizetype>(data.size()));
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly)) {
        return imageError(kUndecodable, "cannot read the image data");
    }
    const std::string name(formatName(format));
    QImageReader reader(&buffer, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(static_cast<int>(limits.maxTotalBytes >> 20));
    const QSize declared = reader.size();
    if (declared.isValid() && !fitsLimits({declared.width(), declared.height()}, 1, limits)) {
        return imageError(kTooLarge, "image beyond the decode limits");
    }

    ImageSource source;
    source.format_ = format;
    std::int64_t totalBytes = 0;
    const std::size_t wanted = format == Format::gif ? limits.maxFrames : 1;
    while (source.frames_.size() < wanted) {
        // The JPEG reader decodes into a bitmap of its size and format when given one, and
        // writes every line of it: one on huge pages spares the faults of a fresh bitmap.
        QImage pixels;
        if (format == Format::jpeg && declared.isValid()) {
            pixels = blankPixels(declared.width(), declared.height(), reader.imageFormat());
        }
        if (!reader.read(&pixels) || pixels.isNull()) {
            break;
        }
        totalBytes += pixels.sizeInBytes();
        if (totalBytes > limits.maxTotalBytes) {
            return imageError(kTooLarge, "image beyond the decode limits");
        }
        FrameProperties properties;
        properties.size = {pixels.width(), pixels.height()};
        properties.exifOrientation = exifOrientation(reader.transformation());
        if (format == Format::gif) {
            const std::size_t index = source.frames_.size();
            properties.gif =
                gifDelays(index < structure.delays.size() ? structure.delays[index] : std::nullopt);
            properties.exifOrientation = 0;
        } else if (format != Format::jpeg && format != Format::tiff) {
            properties.exifOrientation = 0;
        }
        source.frames_.push_back(makeBitmap(std::move(pixels)));
        source.properties_.push_back(properties);
    }
    if (source.frames_.empty() && format != Format::gif) {
        return imageError(kUndecodable, "undecodable " + name);
    }
    return source;
}

}  // namespace platform::image
