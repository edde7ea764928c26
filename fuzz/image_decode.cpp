// Image bytes from the network or the disk cache: format sniffing, whole and partial
// decoding, the cache's still and animated decoding and the animated GIF frame list. The
// first byte chooses a prefix decode (bit 0). Beyond the sanitizers: frames are never empty,
// never more than the limits allow, and an animation has frames.

#include <cstdlib>

#include "FuzzSupport.h"
#include "imagecache/WIImageDecoding.h"
#include "platform/image/ImageSource.h"
#include "utils/UIImageAnimatedGIF.h"

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    using platform::image::Completeness;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    // Small limits keep each input quick; the defaults are only larger numbers.
    platform::image::DecodeLimits limits;
    limits.maxPixelsPerFrame = 1 << 20;
    limits.maxFrames = 64;
    limits.maxTotalBytes = std::int64_t{16} << 20;
    const Completeness completeness =
        (data[0] & 1) != 0 ? Completeness::prefix : Completeness::whole;

    (void)wi::contentTypeForImageData(bytes);
    const auto source = platform::image::ImageSource::create(bytes, completeness, limits);
    if (!source) {
        return 0;
    }
    check(source->count() <= limits.maxFrames);
    for (std::size_t i = 0; i < source->count(); ++i) {
        const auto& frame = source->frame(i);
        check(!frame.isNull() && frame.size().pixels() <= limits.maxPixelsPerFrame);
        check(source->properties(i).size == frame.size());
        check(source->properties(i).gif.has_value() ==
              (source->format() == platform::image::Format::gif));
    }
    if (completeness == Completeness::prefix || source->count() == 0 ||
        source->frame(0).size().pixels() > 256 * 256) {
        return 0;
    }
    // What passed with small limits is decoded again the cache's way and the GIF helper's.
    if (const auto image = wi::imageWithData(bytes)) {
        check(!image->isNull());
        check(!image->isAnimated() || image->frames().size() >= 2);
        (void)wi::decodedImageWithImage(*image);
    }
    if (const auto animation = animatedgif::animatedImageWithAnimatedGIFData(bytes)) {
        check(animation->frames().size() <= 10000);
    }
    return 0;
}
