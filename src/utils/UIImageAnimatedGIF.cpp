#include "utils/UIImageAnimatedGIF.h"

#include <cmath>
#include <numeric>

#include "platform/foundation/FileSystem.h"
#include "platform/image/ImageSource.h"

using platform::image::Image;
using platform::image::ImageSource;

namespace animatedgif {

namespace {

// A few short delays among long ones would otherwise ask for millions of entries.
constexpr std::uint64_t kMaxFrameListLength = 10000;

std::uint32_t greatestCommonDivisor(std::uint32_t a, std::uint32_t b) {
    if (a < b) {
        std::swap(a, b);
    }
    while (b != 0) {
        const std::uint32_t rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

std::optional<Image> build(const ImageSource& source) {
    std::vector<std::uint32_t> delays;
    delays.reserve(source.count());
    for (std::size_t i = 0; i < source.count(); ++i) {
        const auto& gif = source.properties(i).gif;
        delays.push_back(gif ? delayCentiseconds(gif->unclampedDelayTime, gif->delayTime)
                             : delayCentiseconds(std::nullopt, std::nullopt));
    }
    const std::vector<std::uint32_t> repeats = repeatsForDelays(delays);
    const std::uint64_t total = std::accumulate(delays.begin(), delays.end(), std::uint64_t{0});
    if (std::accumulate(repeats.begin(), repeats.end(), std::uint64_t{0}) > kMaxFrameListLength) {
        return std::nullopt;
    }
    std::vector<Image> frames;
    for (std::size_t i = 0; i < repeats.size(); ++i) {
        const Image frame(source.frame(i));
        frames.insert(frames.end(), repeats[i], frame);
    }
    if (frames.empty()) {
        return Image();
    }
    return Image::animated(std::move(frames), static_cast<double>(total) / 100.0);
}

}  // namespace

std::uint32_t delayCentiseconds(std::optional<double> unclamped, std::optional<double> clamped) {
    std::optional<double> seconds = unclamped;
    if (!seconds || *seconds == 0) {
        seconds = clamped;
    }
    if (!seconds || !(*seconds > 0)) {
        return 1;
    }
    // Delays are 16-bit centiseconds in the file; anything beyond is nonsense, kept bounded.
    return static_cast<std::uint32_t>(std::nearbyint(std::min(*seconds, 655.35) * 100.0));
}

std::vector<std::uint32_t> repeatsForDelays(std::span<const std::uint32_t> delays) {
    if (delays.empty()) {
        return {};
    }
    std::uint32_t divisor = delays.front();
    for (std::size_t i = 1; i < delays.size(); ++i) {
        divisor = greatestCommonDivisor(delays[i], divisor);
    }
    if (divisor == 0) {
        return {};
    }
    std::vector<std::uint32_t> repeats;
    repeats.reserve(delays.size());
    for (const std::uint32_t delay : delays) {
        repeats.push_back(delay / divisor);
    }
    return repeats;
}

std::optional<Image> animatedImageWithAnimatedGIFData(std::span<const std::uint8_t> data) {
    auto source = ImageSource::create(data);
    if (!source) {
        return std::nullopt;
    }
    return build(*source);
}

std::optional<Image> animatedImageWithAnimatedGIFURL(const std::filesystem::path& path) {
    auto bytes = platform::fs::readFile(path);
    if (!bytes) {
        return std::nullopt;
    }
    return animatedImageWithAnimatedGIFData(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
}

}  // namespace animatedgif
