#include "platform/image/Decode.h"

namespace platform::image {

Result<Image> decodeImage(std::span<const std::uint8_t> data, const DecodeLimits& limits) {
    auto source = ImageSource::create(data, Completeness::whole, limits);
    if (!source) {
        return source.error();
    }
    if (source->count() == 0) {
        return Error{kErrorDomain, kUndecodable, "an image without frames"};
    }
    if (source->count() == 1) {
        return Image(source->frame(0));
    }
    std::vector<Image> frames;
    double duration = 0;
    for (std::size_t i = 0; i < source->count(); ++i) {
        frames.emplace_back(source->frame(i));
        const auto& gif = source->properties(i).gif;
        duration += gif ? gif->delayTime : 0.0;
    }
    return Image::animated(std::move(frames), duration);
}

}  // namespace platform::image
