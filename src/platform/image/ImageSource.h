#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/image/Image.h"

namespace platform::image {

inline constexpr const char* kErrorDomain = "com.kavo.image";
enum ErrorCode : long {
    kUnknownFormat = 1,
    kMalformed = 2,   // broken structure, cut short, or a frame without pixels
    kTooLarge = 3,    // beyond the decode limits
    kUndecodable = 4  // the decoder gave up
};

enum class Format { unknown, jpeg, png, gif, tiff, webp, bmp, ico };

// The format the first bytes announce (magic numbers), or unknown.
[[nodiscard]] Format sniffFormat(std::span<const std::uint8_t> data);
[[nodiscard]] std::string_view formatName(Format format);

// What one decode may cost. The defaults fit what the application shows (icons, animations,
// photos); a header may declare anything, so nothing is allocated before these pass.
struct DecodeLimits {
    std::int64_t maxPixelsPerFrame = std::int64_t{40} << 20;
    std::size_t maxFrames = 1000;
    std::int64_t maxTotalBytes = std::int64_t{256} << 20;
};

// The delays a GIF frame states, in seconds: as written, and as the platform clamps them
// (anything under 0.011 s is 0.1 s).
struct GifDelays {
    double unclampedDelayTime = 0;
    double delayTime = 0;
};

struct FrameProperties {
    PixelSize size;
    // The EXIF orientation of a JPEG or TIFF (1 to 8, 1 when it states none); 0 elsewhere.
    int exifOrientation = 0;
    // Present for every frame of a GIF, absent for other formats.
    std::optional<GifDelays> gif;
};

enum class Completeness {
    // The bytes must hold a whole file.
    whole,
    // The bytes may be the start of a file still arriving: what can be drawn from them.
    prefix,
};

// The frames of an image file, decoded at once. Frames come with their orientation applied
// to the pixels, so they are all "up".
class ImageSource {
public:
    static Result<ImageSource> create(std::span<const std::uint8_t> data,
                                      Completeness completeness = Completeness::whole,
                                      const DecodeLimits& limits = {});

    [[nodiscard]] Format format() const { return format_; }
    // A GIF may decode to no frames at all.
    [[nodiscard]] std::size_t count() const { return frames_.size(); }
    [[nodiscard]] const Bitmap& frame(std::size_t index) const { return frames_.at(index); }
    [[nodiscard]] const FrameProperties& properties(std::size_t index) const {
        return properties_.at(index);
    }

private:
    Format format_ = Format::unknown;
    std::vector<Bitmap> frames_;
    std::vector<FrameProperties> properties_;
};

}  // namespace platform::image
