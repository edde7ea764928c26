#include <gtest/gtest.h>

#include <fstream>

#include "image/support/ImageFixtures.h"
#include "imagecache/WIImageDecoding.h"
#include "support/TempDir.h"

namespace {

using platform::Bytes;
using platform::image::AlphaInfo;
using platform::image::Bitmap;
using platform::image::Image;
using platform::image::Orientation;
using platform::image::PixelSize;
using platform::image::Size;
namespace fx = image_fixtures;
using fx::bytes;
using fx::hue;

TEST(WIImageDecodingTest, ContentTypeFromTheFirstByte) {
    const struct {
        Bytes data;
        std::optional<std::string> type;
    } cases[] = {
        {{0xFF}, "image/jpeg"},
        {{0x89, 0x00}, "image/png"},
        {{0x47}, "image/gif"},
        {{0x49}, "image/tiff"},
        {{0x4D}, "image/tiff"},
        {bytes("RIFF\0\0\0\0WEBP"), "image/webp"},
        {bytes("RIFF\0\0\0\0WEBPVP8 "), "image/webp"},
        {bytes("RIFF\0\0\0\0WEB"), std::nullopt},
        {bytes("RIFF\0\0\0\0WAVE"), std::nullopt},
        {{0x52}, std::nullopt},
        {{0x00, 0xFF}, std::nullopt},
        {{0x42, 0x4D}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wi::contentTypeForImageData(c.data), c.type)
            << std::string(c.data.begin(), c.data.end());
    }
}

TEST(WIImageDecodingTest, ExifOrientationTable) {
    const std::pair<long, Orientation> cases[] = {
        {1, Orientation::up},
        {2, Orientation::upMirrored},
        {3, Orientation::down},
        {4, Orientation::downMirrored},
        {5, Orientation::leftMirrored},
        {6, Orientation::right},
        {7, Orientation::rightMirrored},
        {8, Orientation::left},
        {0, Orientation::up},
        {9, Orientation::up},
        {-1, Orientation::up},
    };
    for (const auto& [exif, orientation] : cases) {
        EXPECT_EQ(wi::exifOrientationToOrientation(exif), orientation) << exif;
    }
}

TEST(WIImageDecodingTest, OrientationIsReadFromTheFirstImage) {
    EXPECT_EQ(wi::imageOrientationFromImageData(fx::jpegWithOrientation(6)), Orientation::right);
    EXPECT_EQ(wi::imageOrientationFromImageData(fx::jpegWithOrientation(3)), Orientation::down);
    EXPECT_EQ(wi::imageOrientationFromImageData(fx::jpegWithOrientation(0)), Orientation::up);
    EXPECT_EQ(wi::imageOrientationFromImageData(fx::solidPng(2, 2, false)), Orientation::up);
    EXPECT_EQ(wi::imageOrientationFromImageData(bytes("junk")), Orientation::up);
}

TEST(WIImageDecodingTest, ARotatedJpegDecodesUprightAndStaysSoThroughScaleAndForcedDecode) {
    // What the disk cache hands over: the bytes of a camera picture stored turned, under a
    // "@2x" key.
    const auto decoded = wi::imageWithData(fx::jpegWithOrientation(6));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->orientation(), Orientation::up);
    EXPECT_EQ(decoded->bitmap().size(), (PixelSize{4, 6}));

    const auto scaled = wi::ScaledImageForKey("http://h/photo@2x.jpg", decoded);
    ASSERT_TRUE(scaled);
    const auto forced = wi::decodedImageWithImage(*scaled);
    ASSERT_TRUE(forced);
    EXPECT_EQ(forced->scale(), 2.0);
    EXPECT_EQ(forced->orientation(), Orientation::up);
    // Drawn upright and at its size in points, never sideways or doubled.
    EXPECT_EQ(forced->size(), (Size{2, 3}));
    EXPECT_FALSE(forced->bitmap().sharesPixelsWith(scaled->bitmap()));
}

TEST(WIImageDecodingTest, ForcedDecodeKeepsAnOrientationGivenLater) {
    const Image turned(Bitmap::filled({6, 4}, 0xFF112233, false), 3.0, Orientation::left);
    const auto forced = wi::decodedImageWithImage(turned);
    ASSERT_TRUE(forced);
    EXPECT_EQ(forced->orientation(), Orientation::left);
    EXPECT_EQ(forced->scale(), 3.0);
    EXPECT_EQ(forced->size(), turned.size());
    EXPECT_EQ(forced->bitmap().alphaInfo(), AlphaInfo::premultipliedFirst);
}

TEST(WIImageDecodingTest, ImagesWithAlphaAndAnimationsAreNotRedrawn) {
    const Image withAlpha(Bitmap::filled({2, 2}, 0x80FF0000, true), 2.0);
    EXPECT_TRUE(
        wi::decodedImageWithImage(withAlpha)->bitmap().sharesPixelsWith(withAlpha.bitmap()));
    const auto animation = wi::imageWithData(fx::threeFrameGif());
    ASSERT_TRUE(animation && animation->isAnimated());
    const auto same = wi::decodedImageWithImage(*animation);
    EXPECT_EQ(same->frames().size(), 3u);
    EXPECT_TRUE(same->frames()[1].bitmap().sharesPixelsWith(animation->frames()[1].bitmap()));
}

TEST(WIImageDecodingTest, GifDurations) {
    const struct {
        const char* name;
        std::vector<std::uint16_t> delays;  // centiseconds
        double duration;
    } cases[] = {
        {"no delays: 0.1 s each", {0, 0, 0}, 0.3},
        {"0.01 s counts 0.1 s", {1, 1}, 0.2},
        {"0.02 s counts as written", {2, 4, 6}, 0.12},
        {"mixed", {0, 2, 50}, 0.62},
    };
    for (const auto& c : cases) {
        std::vector<fx::GifFrame> frames;
        for (std::size_t i = 0; i < c.delays.size(); ++i) {
            frames.push_back({2, 2, static_cast<std::uint8_t>(i % 3), c.delays[i]});
        }
        const auto image = wi::animatedGIFWithData(fx::gif(2, 2, frames));
        ASSERT_TRUE(image) << c.name;
        ASSERT_TRUE(image->isAnimated()) << c.name;
        EXPECT_EQ(image->frames().size(), c.delays.size()) << c.name;
        EXPECT_NEAR(image->duration(), c.duration, 1e-6) << c.name;
    }
    // Frames that state no delay count 0.1 s; with no frames stating one, it is 0.1 s a frame.
    const auto unstated =
        wi::animatedGIFWithData(fx::gif(2, 2, {{2, 2, 0, std::nullopt}, {2, 2, 1, std::nullopt}}));
    ASSERT_TRUE(unstated);
    EXPECT_NEAR(unstated->duration(), 0.2, 1e-6);
}

TEST(WIImageDecodingTest, ASingleFrameGifIsAStillImage) {
    const auto still = wi::imageWithData(fx::gif(3, 3, {{3, 3, 2, 40}}));
    ASSERT_TRUE(still);
    EXPECT_FALSE(still->isAnimated());
    EXPECT_EQ(still->bitmap().size(), (PixelSize{3, 3}));
    EXPECT_FALSE(wi::imageWithData({}));
    EXPECT_FALSE(wi::imageWithData(bytes("GIF89a broken")));
    EXPECT_FALSE(wi::imageWithData(fx::gif(4, 4, {{4, 4, 0, 10}, {0, 0, 1, 10}})));
}

TEST(WIImageDecodingTest, ScaleComesFromTheKey) {
    const Image image(Bitmap::filled({4, 4}, 0xFF000000, false));
    const struct {
        std::string_view key;
        double screen;
        double scale;
    } cases[] = {
        {"icon@2x.png", 1.0, 2.0},   {"icon@3x.png", 1.0, 3.0}, {"a@2x.b@3x.png", 1.0, 3.0},
        {"a@3x.b@2x.png", 1.0, 3.0}, {"@2x.png", 1.0, 1.0},  // shorter than 8 characters
        {"@2x.png", 2.0, 2.0},       {"icon.png", 3.0, 3.0},    {"icon@2xpng", 1.0, 1.0},
    };
    for (const auto& c : cases) {
        const auto scaled = wi::ScaledImageForKey(c.key, image, c.screen);
        ASSERT_TRUE(scaled) << c.key;
        EXPECT_EQ(scaled->scale(), c.scale) << c.key << " on " << c.screen;
        EXPECT_TRUE(scaled->bitmap().sharesPixelsWith(image.bitmap()));
    }
    EXPECT_FALSE(wi::ScaledImageForKey("icon@2x.png", std::nullopt));
    const auto animation =
        wi::ScaledImageForKey("anim@2x.gif", wi::imageWithData(fx::threeFrameGif()));
    ASSERT_TRUE(animation && animation->isAnimated());
    for (const Image& frame : animation->frames()) {
        EXPECT_EQ(frame.scale(), 2.0);
    }
    EXPECT_NEAR(animation->duration(), 0.6, 1e-6);
}

TEST(WIImageDecodingTest, ScalingAndCroppingFillsTheSizeCentred) {
    const auto animation = wi::imageWithData(fx::gif(4, 2, {{4, 2, 0, 10}, {4, 2, 2, 10}}));
    ASSERT_TRUE(animation && animation->isAnimated());
    const auto filled = wi::animatedImageByScalingAndCroppingToSize(*animation, {2, 2}, 2.0);
    ASSERT_TRUE(filled && filled->isAnimated());
    ASSERT_EQ(filled->frames().size(), 2u);
    EXPECT_EQ(filled->frames()[0].bitmap().size(), (PixelSize{4, 4}));
    EXPECT_EQ(filled->frames()[1].bitmap().pixel(2, 2) & 0xFFFFFF, 0x0000FFu);
    EXPECT_DOUBLE_EQ(filled->duration(), animation->duration());
    // The same size, or no size, leaves the image alone.
    EXPECT_TRUE(wi::animatedImageByScalingAndCroppingToSize(*animation, {4, 2})
                    ->bitmap()
                    .sharesPixelsWith(animation->bitmap()));
    EXPECT_TRUE(wi::animatedImageByScalingAndCroppingToSize(*animation, {0, 0})
                    ->bitmap()
                    .sharesPixelsWith(animation->bitmap()));
}

TEST(WIImageDecodingTest, NamedGifsPreferTheScreensScale) {
    testing_support::TempDir folder;
    const auto write = [&](const std::string& name, const Bytes& data) {
        std::ofstream(folder.path() / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<long>(data.size()));
    };
    write("spinner.gif", fx::threeFrameGif());
    write("spinner@2x.gif", fx::gif(4, 4, {{4, 4, 0, 10}, {4, 4, 1, 10}}));
    write("logo.png", fx::solidPng(5, 5, false));

    EXPECT_EQ(wi::animatedGIFNamed("spinner", folder.path(), 1.0)->frames().size(), 3u);
    EXPECT_EQ(wi::animatedGIFNamed("spinner", folder.path(), 2.0)->frames().size(), 2u);
    EXPECT_EQ(wi::animatedGIFNamed("logo", folder.path(), 2.0)->bitmap().size(), (PixelSize{5, 5}));
    EXPECT_FALSE(wi::animatedGIFNamed("missing", folder.path(), 2.0));
}

}  // namespace
