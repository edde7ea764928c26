#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/image/Decode.h"
#include "platform/image/Image.h"
#include "platform/image/ImageSource.h"

// Bytes into images ready to draw, for the image cache and its downloads. Stateless; any
// thread. Decoding turns the pixels by the file's EXIF orientation, so decoded images are
// "up" and keep being drawn the right way round whatever is done to them later.
namespace wi {

using platform::image::Image;
using platform::image::Orientation;

// The content type the first byte announces: "image/jpeg", "image/png", "image/gif",
// "image/tiff", "image/webp" (a RIFF file of at least 12 bytes naming WEBP); else nothing.
[[nodiscard]] std::optional<std::string> contentTypeForImageData(
    std::span<const std::uint8_t> data);

// Nothing for no data or data the platform cannot decode; GIFs as animations.
[[nodiscard]] std::optional<Image> imageWithData(
    std::span<const std::uint8_t> data, double screenScale = platform::image::kMainScreenScale);
// The orientation the first image's EXIF states; up when it states none.
[[nodiscard]] Orientation imageOrientationFromImageData(std::span<const std::uint8_t> data);
[[nodiscard]] Orientation exifOrientationToOrientation(long exif);

// An animation of the GIF's frames at the screen's scale, lasting the sum of their
// durations (0.1 s a frame when they add up to nothing); a still image for fewer than two
// frames; nothing for no data.
[[nodiscard]] std::optional<Image> animatedGIFWithData(
    std::span<const std::uint8_t> data, double screenScale = platform::image::kMainScreenScale);
// The frame's delay as written, else 0.1 s; under 0.011 s it counts as 0.1 s.
[[nodiscard]] float frameDurationAtIndex(std::size_t index,
                                         const platform::image::ImageSource& source);
// "<name>@2x.gif" (screens above scale 1), else "<name>.gif", else the still "<name>.png" of
// the folder.
[[nodiscard]] std::optional<Image> animatedGIFNamed(
    std::string_view name, const std::filesystem::path& folder,
    double screenScale = platform::image::kMainScreenScale);
// Every frame scaled to fill the size (points) and cropped to it, centred.
[[nodiscard]] std::optional<Image> animatedImageByScalingAndCroppingToSize(
    const Image& image, platform::image::Size size,
    double screenScale = platform::image::kMainScreenScale);

// The image with the scale the cache key names ("@2x." 2, "@3x." 3, in keys of at least 8
// characters), else the screen's; animations frame by frame.
[[nodiscard]] std::optional<Image> ScaledImageForKey(
    std::string_view key, const std::optional<Image>& image,
    double screenScale = platform::image::kMainScreenScale);

// The image drawn once into a bitmap, so that drawing it later decodes nothing. Animations
// and images with alpha come back as they are; the result keeps the scale and orientation.
[[nodiscard]] std::optional<Image> decodedImageWithImage(const Image& image);

}  // namespace wi
