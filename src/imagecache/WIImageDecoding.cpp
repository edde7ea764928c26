#include "imagecache/WIImageDecoding.h"

#include <cmath>
#include <vector>

#include "platform/foundation/FileSystem.h"
#include "platform/image/Canvas.h"

using platform::image::AlphaInfo;
using platform::image::Bitmap;
using platform::image::Canvas;
using platform::image::ImageSource;
using platform::image::Rect;
using platform::image::Size;

namespace wi {

namespace {

std::optional<Image> stillImage(std::span<const std::uint8_t> data) {
    auto image = platform::image::decodeImage(data);
    if (!image) {
        return std::nullopt;
    }
    return std::move(image).value();
}

std::optional<std::string> readBytes(const std::filesystem::path& path) {
    auto bytes = platform::fs::readFile(path);
    if (!bytes) {
        return std::nullopt;
    }
    return std::move(bytes).value();
}

std::span<const std::uint8_t> asBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::optional<std::string> contentTypeForImageData(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return std::nullopt;
    }
    switch (data[0]) {
        case 0xFF:
            return "image/jpeg";
        case 0x89:
            return "image/png";
        case 0x47:
            return "image/gif";
        case 0x49:
        case 0x4D:
            return "image/tiff";
        case 0x52:
            if (data.size() >= 12) {
                const std::string_view head(reinterpret_cast<const char*>(data.data()), 12);
                if (head.starts_with("RIFF") && head.ends_with("WEBP")) {
                    return "image/webp";
                }
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<Image> imageWithData(std::span<const std::uint8_t> data, double screenScale) {
    if (data.empty()) {
        return std::nullopt;
    }
    if (contentTypeForImageData(data) == "image/gif") {
        return animatedGIFWithData(data, screenScale);
    }
    // The decoder has already turned the pixels by the EXIF orientation; giving the image
    // that orientation as well would turn it twice.
    return stillImage(data);
}

Orientation imageOrientationFromImageData(std::span<const std::uint8_t> data) {
    auto source = ImageSource::create(data);
    if (!source || source->count() == 0) {
        return Orientation::up;
    }
    return exifOrientationToOrientation(source->properties(0).exifOrientation);
}

Orientation exifOrientationToOrientation(long exif) {
    switch (exif) {
        case 2:
            return Orientation::upMirrored;
        case 3:
            return Orientation::down;
        case 4:
            return Orientation::downMirrored;
        case 5:
            return Orientation::leftMirrored;
        case 6:
            return Orientation::right;
        case 7:
            return Orientation::rightMirrored;
        case 8:
            return Orientation::left;
        default:
            return Orientation::up;
    }
}

std::optional<Image> animatedGIFWithData(std::span<const std::uint8_t> data, double screenScale) {
    if (data.empty()) {
        return std::nullopt;
    }
    auto source = ImageSource::create(data);
    if (!source || source->count() < 2) {
        return stillImage(data);
    }
    std::vector<Image> frames;
    frames.reserve(source->count());
    double total = 0;
    for (std::size_t i = 0; i < source->count(); ++i) {
        total += frameDurationAtIndex(i, *source);
        frames.emplace_back(source->frame(i), screenScale, Orientation::up);
    }
    if (total == 0) {
        total = 0.1 * static_cast<double>(frames.size());
    }
    return Image::animated(std::move(frames), total);
}

float frameDurationAtIndex(std::size_t index, const ImageSource& source) {
    if (index >= source.count()) {
        return 0.1f;
    }
    const auto& gif = source.properties(index).gif;
    const float duration = gif ? static_cast<float>(gif->unclampedDelayTime) : 0.1f;
    return duration < 0.011f ? 0.1f : duration;
}

std::optional<Image> animatedGIFNamed(std::string_view name, const std::filesystem::path& folder,
                                      double screenScale) {
    const std::string base(name);
    if (screenScale > 1.0) {
        if (const auto bytes = readBytes(folder / (base + "@2x.gif"))) {
            return animatedGIFWithData(asBytes(*bytes), screenScale);
        }
    }
    if (const auto bytes = readBytes(folder / (base + ".gif"))) {
        return animatedGIFWithData(asBytes(*bytes), screenScale);
    }
    if (const auto bytes = readBytes(folder / (base + ".png"))) {
        return stillImage(asBytes(*bytes));
    }
    return std::nullopt;
}

std::optional<Image> animatedImageByScalingAndCroppingToSize(const Image& image, Size size,
                                                             double screenScale) {
    const Size own = image.size();
    if (own == size || (size.width == 0 && size.height == 0)) {
        return image;
    }
    if (own.width <= 0 || own.height <= 0) {
        return std::nullopt;
    }
    const double widthFactor = size.width / own.width;
    const double heightFactor = size.height / own.height;
    const double factor = std::max(widthFactor, heightFactor);
    const Size scaled{own.width * factor, own.height * factor};
    Rect rect{0, 0, scaled.width, scaled.height};
    if (widthFactor > heightFactor) {
        rect.y = (size.height - scaled.height) * 0.5;
    } else if (heightFactor > widthFactor) {
        rect.x = (size.width - scaled.width) * 0.5;
    }
    // A still image is its own single frame.
    const std::vector<Image> sources = image.isAnimated() ? image.frames() : std::vector{image};
    std::vector<Image> frames;
    frames.reserve(sources.size());
    for (const Image& frame : sources) {
        auto canvas = Canvas::create(size, screenScale, false);
        if (!canvas) {
            return std::nullopt;
        }
        canvas->draw(frame, rect);
        frames.push_back(canvas->image());
    }
    if (!image.isAnimated()) {
        return frames.front();
    }
    return Image::animated(std::move(frames), image.duration());
}

std::optional<Image> ScaledImageForKey(std::string_view key, const std::optional<Image>& image,
                                       double screenScale) {
    if (!image) {
        return std::nullopt;
    }
    if (image->isAnimated()) {
        std::vector<Image> frames;
        frames.reserve(image->frames().size());
        for (const Image& frame : image->frames()) {
            frames.push_back(*ScaledImageForKey(key, frame, screenScale));
        }
        return Image::animated(std::move(frames), image->duration());
    }
    double scale = screenScale;
    if (key.size() >= 8) {
        if (key.find("@2x.") != std::string_view::npos) {
            scale = 2.0;
        }
        if (key.find("@3x.") != std::string_view::npos) {
            scale = 3.0;
        }
    }
    return image->withScale(scale);
}

std::optional<Image> decodedImageWithImage(const Image& image) {
    if (image.isAnimated() || image.hasAlpha()) {
        return image;
    }
    const Bitmap drawn = image.bitmap().redrawn(AlphaInfo::premultipliedFirst);
    if (drawn.isNull()) {
        return std::nullopt;
    }
    // Scale and orientation go with the pixels: a "@2x" image stays its size in points and a
    // turned one stays turned.
    return Image(drawn, image.scale(), image.orientation());
}

}  // namespace wi
