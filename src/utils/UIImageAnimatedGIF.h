#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "platform/image/Image.h"

// Animated GIFs as one animation played at a fixed rate: every frame of the list is shown
// for the same time, so a frame with a longer delay appears several times in a row.
namespace animatedgif {

// Nothing when the bytes are no image, or when the list would pass 10000 entries. A source without
// frames gives an animation without frames, of duration 0.
[[nodiscard]] std::optional<platform::image::Image> animatedImageWithAnimatedGIFData(
    std::span<const std::uint8_t> data);
// The same for a file.
[[nodiscard]] std::optional<platform::image::Image> animatedImageWithAnimatedGIFURL(
    const std::filesystem::path& path);

// A frame's delay in centiseconds: the delay as written, else the clamped one, rounded to
// the nearest (halves to even); 1 when the frame states none.
[[nodiscard]] std::uint32_t delayCentiseconds(std::optional<double> unclamped,
                                              std::optional<double> clamped);

// How many times each frame repeats when all are shown for the greatest common divisor of
// the delays; empty when there are none.
[[nodiscard]] std::vector<std::uint32_t> repeatsForDelays(std::span<const std::uint32_t> delays);

}  // namespace animatedgif
