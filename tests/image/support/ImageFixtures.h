#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/Value.h"

// Small image files written byte by byte, for what the image layer cannot write itself:
// GIFs (with chosen delays and broken frames), JPEGs with an EXIF orientation, PNGs whose
// header claims anything.
namespace image_fixtures {

using platform::Bytes;

struct GifFrame {
    int width = 0;
    int height = 0;
    // Index into the palette: 0 red, 1 green, 2 blue, 3 white.
    std::uint8_t color = 0;
    // Centiseconds in a graphic control extension; none writes no extension.
    std::optional<std::uint16_t> delay;
};

// A GIF of the canvas size with the frames at the origin; without the trailer when cut.
Bytes gif(int width, int height, const std::vector<GifFrame>& frames, bool trailer = true);
// Three 2 x 2 frames, red, green and blue, of 0.1, 0.2 and 0.3 seconds.
Bytes threeFrameGif();

// A 6 x 4 JPEG, left half red and right half blue, stating EXIF orientation `orientation`
// (none when 0).
Bytes jpegWithOrientation(int orientation);
// A JPEG of the size with a gradient, so that its scan is long.
Bytes gradientJpeg(int width, int height);

// A PNG of one colour through the image layer's encoder, with or without alpha.
Bytes solidPng(int width, int height, bool withAlpha);
// An 8-bit grey PNG of the size, written by hand (stored deflate blocks).
Bytes greyPng(int width, int height);
// A PNG header declaring the size, an empty IDAT and IEND: no pixels behind the claim.
Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height);

// The text's bytes, NULs included.
template <std::size_t N>
Bytes bytes(const char (&text)[N]) {
    return Bytes(text, text + N - 1);
}

// The strongest of red, green and blue in a pixel: 'r', 'g' or 'b'.
inline char hue(std::uint32_t argb) {
    const unsigned r = argb >> 16 & 0xFF, g = argb >> 8 & 0xFF, b = argb & 0xFF;
    return r >= g && r >= b ? 'r' : (g >= b ? 'g' : 'b');
}

// The first bytes of data.
inline Bytes prefix(const Bytes& data, std::size_t size) {
    return Bytes(data.begin(), data.begin() + static_cast<long>(std::min(size, data.size())));
}

}  // namespace image_fixtures
