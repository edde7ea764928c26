#include "image/support/ImageFixtures.h"

#include <algorithm>
#include <string_view>

#include "platform/image/Canvas.h"
#include "platform/image/Image.h"

namespace image_fixtures {

namespace {

void put16le(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void put16be(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void put32be(Bytes& out, std::uint32_t value) {
    put16be(out, value >> 16);
    put16be(out, value & 0xFFFF);
}

void append(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

// LZW codes of 3 bits (minimum code size 2) with a clear code before every two pixels, so
// that the code table never grows past 8 entries and the width never changes.
Bytes gifPixels(std::size_t count, std::uint8_t color) {
    constexpr unsigned kClear = 4;
    constexpr unsigned kEnd = 5;
    std::vector<unsigned> codes;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            codes.push_back(kClear);
        }
        codes.push_back(color);
    }
    codes.push_back(kEnd);
    Bytes packed;
    unsigned buffer = 0;
    int bits = 0;
    for (const unsigned code : codes) {
        buffer |= code << bits;
        bits += 3;
        while (bits >= 8) {
            packed.push_back(static_cast<std::uint8_t>(buffer & 0xFF));
            buffer >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) {
        packed.push_back(static_cast<std::uint8_t>(buffer & 0xFF));
    }
    Bytes blocks;
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t length = std::min<std::size_t>(255, packed.size() - at);
        blocks.push_back(static_cast<std::uint8_t>(length));
        blocks.insert(blocks.end(), packed.begin() + static_cast<long>(at),
                      packed.begin() + static_cast<long>(at + length));
    }
    blocks.push_back(0);
    return blocks;
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void pngChunk(Bytes& out, std::string_view type, const Bytes& data) {
    put32be(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    append(out, type);
    out.insert(out.end(), data.begin(), data.end());
    put32be(out, crc32(out.data() + start, out.size() - start));
}

Bytes ihdr(std::uint32_t width, std::uint32_t height, std::uint8_t colorType) {
    Bytes data;
    put32be(data, width);
    put32be(data, height);
    data.push_back(8);  // bits per sample
    data.push_back(colorType);
    data.push_back(0);
    data.push_back(0);
    data.push_back(0);
    return data;
}

// A zlib stream of stored blocks.
Bytes storedZlib(const Bytes& raw) {
    Bytes out{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t length = std::min<std::size_t>(65535, raw.size() - at);
        out.push_back(at + length == raw.size() ? 1 : 0);
        put16le(out, static_cast<unsigned>(length));
        put16le(out, static_cast<unsigned>(~length & 0xFFFF));
        out.insert(out.end(), raw.begin() + static_cast<long>(at),
                   raw.begin() + static_cast<long>(at + length));
        at += length;
    } while (at < raw.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put32be(out, b << 16 | a);
    return out;
}

const std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

Bytes encodedJpeg(const platform::image::Image& image) {
    return platform::image::encodeJPEG(image.bitmap(), 95).value();
}

}  // namespace

Bytes gif(int width, int height, const std::vector<GifFrame>& frames, bool trailer) {
    Bytes out;
    append(out, "GIF89a");
    put16le(out, static_cast<unsigned>(width));
    put16le(out, static_cast<unsigned>(height));
    out.push_back(0x81);  // a global palette of 4 entries
    out.push_back(0);
    out.push_back(0);
    const std::uint8_t palette[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    out.insert(out.end(), std::begin(palette), std::end(palette));
    for (const GifFrame& frame : frames) {
        if (frame.delay) {
            const std::uint8_t control[] = {0x21, 0xF9, 4, 0x04};  // disposal: leave in place
            out.insert(out.end(), std::begin(control), std::end(control));
            put16le(out, *frame.delay);
            out.push_back(0);
            out.push_back(0);
        }
        out.push_back(0x2C);
        put16le(out, 0);
        put16le(out, 0);
        put16le(out, static_cast<unsigned>(frame.width));
        put16le(out, static_cast<unsigned>(frame.height));
        out.push_back(0);
        out.push_back(2);  // LZW minimum code size
        const Bytes pixels = gifPixels(
            static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height),
            frame.color);
        out.insert(out.end(), pixels.begin(), pixels.end());
    }
    if (trailer) {
        out.push_back(0x3B);
    }
    return out;
}

Bytes threeFrameGif() {
    return gif(2, 2, {{2, 2, 0, 10}, {2, 2, 1, 20}, {2, 2, 2, 30}});
}

Bytes jpegWithOrientation(int orientation) {
    auto canvas = platform::image::Canvas::create({6, 4}, 1.0, true).value();
    using platform::image::Bitmap;
    using platform::image::Image;
    canvas.draw(Image(Bitmap::filled({3, 4}, 0xFFFF0000, false)), {0, 0, 3, 4});
    canvas.draw(Image(Bitmap::filled({3, 4}, 0xFF0000FF, false)), {3, 0, 3, 4});
    Bytes jpeg = encodedJpeg(canvas.image());
    if (orientation == 0) {
        return jpeg;
    }
    // APP1: "Exif\0\0", a little-endian TIFF header and one IFD entry: 0x0112, SHORT, 1.
    Bytes app1{0xFF, 0xE1};
    Bytes exif;
    append(exif, std::string_view("Exif\0\0", 6));
    append(exif, std::string_view("II*\0", 4));
    const std::uint8_t ifd[] = {8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0};
    exif.insert(exif.end(), std::begin(ifd), std::end(ifd));
    put16le(exif, static_cast<unsigned>(orientation));
    put16le(exif, 0);
    const std::uint8_t next[] = {0, 0, 0, 0};
    exif.insert(exif.end(), std::begin(next), std::end(next));
    put16be(app1, static_cast<unsigned>(exif.size() + 2));
    app1.insert(app1.end(), exif.begin(), exif.end());
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}

Bytes gradientJpeg(int width, int height) {
    auto canvas = platform::image::Canvas::create(
                      {static_cast<double>(width), static_cast<double>(height)}, 1.0, true)
                      .value();
    using platform::image::Bitmap;
    using platform::image::Image;
    // Bands of changing colour: enough detail that the scan is most of the file.
    for (int x = 0; x < width; x += 4) {
        const auto shade = static_cast<std::uint32_t>((x * 255) / std::max(width, 1));
        canvas.draw(Image(Bitmap::filled(
                        {4, height},
                        0xFF000000 | shade << 16 | (255 - shade) << 8 | ((x * 37) & 0xFF), false)),
                    {static_cast<double>(x), 0, 4, static_cast<double>(height)});
    }
    return encodedJpeg(canvas.image());
}

Bytes solidPng(int width, int height, bool withAlpha) {
    return platform::image::encodePNG(
               platform::image::Bitmap::filled({width, height}, withAlpha ? 0x80FF0000 : 0xFF00FF00,
                                               withAlpha))
        .value();
}

Bytes greyPng(int width, int height) {
    Bytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < width; ++x) {
            raw.push_back(static_cast<std::uint8_t>((x * 16 + y) & 0xFF));
        }
    }
    Bytes out(std::begin(kPngSignature), std::end(kPngSignature));
    pngChunk(out, "IHDR",
             ihdr(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 0));
    pngChunk(out, "IDAT", storedZlib(raw));
    pngChunk(out, "IEND", {});
    return out;
}

Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
    Bytes out(std::begin(kPngSignature), std::end(kPngSignature));
    pngChunk(out, "IHDR", ihdr(width, height, 6));
    pngChunk(out, "IDAT", storedZlib({0}));
    pngChunk(out, "IEND", {});
    return out;
}

}  // namespace image_fixtures
