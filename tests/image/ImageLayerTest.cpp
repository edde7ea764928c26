#include <gtest/gtest.h>

#include "image/support/ImageFixtures.h"
#include "platform/foundation/Json.h"
#include "platform/image/Canvas.h"
#include "platform/image/Decode.h"
#include "platform/image/ImageSource.h"

namespace {

using platform::Bytes;
using platform::image::AlphaInfo;
using platform::image::Bitmap;
using platform::image::Canvas;
using platform::image::Completeness;
using platform::image::Format;
using platform::image::Image;
using platform::image::ImageSource;
using platform::image::Orientation;
using platform::image::PixelSize;
namespace fx = image_fixtures;
using fx::bytes;
using fx::hue;

TEST(ImageLayerTest, SniffsTheFormatFromTheFirstBytes) {
    const struct {
        Bytes data;
        Format format;
    } cases[] = {
        {{0xFF, 0xD8, 0xFF, 0xE0}, Format::jpeg},
        {{0xFF, 0xD8}, Format::unknown},
        {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, Format::png},
        {bytes("GIF87a"), Format::gif},
        {bytes("GIF89a"), Format::gif},
        {bytes("GIF90a"), Format::unknown},
        {bytes("II*\0"), Format::tiff},
        {bytes("MM\0*"), Format::tiff},
        {bytes("RIFF\x10\0\0\0WEBPVP8 "), Format::webp},
        {bytes("RIFF\x10\0\0\0WAVE"), Format::unknown},
        {bytes("RIFF\x10\0\0\0WEB"), Format::unknown},
        {bytes("BM"), Format::bmp},
        {bytes("\0\0\1\0"), Format::ico},
        {bytes("<svg"), Format::unknown},
        {{}, Format::unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::image::sniffFormat(c.data), c.format)
            << std::string(c.data.begin(), c.data.end());
    }
}

TEST(ImageLayerTest, ExifOrientationIsAppliedToThePixelsAndReported) {
    const Bytes turned = fx::jpegWithOrientation(6);
    auto source = ImageSource::create(turned);
    ASSERT_TRUE(source) << source.error().message;
    ASSERT_EQ(source->count(), 1u);
    EXPECT_EQ(source->properties(0).exifOrientation, 6);
    // 6 x 4, red on the left: turned a quarter clockwise it stands 4 x 6, red on top.
    const Bitmap& pixels = source->frame(0);
    EXPECT_EQ(pixels.size(), (PixelSize{4, 6}));
    EXPECT_EQ(hue(pixels.pixel(2, 0)), 'r');
    EXPECT_EQ(hue(pixels.pixel(2, 5)), 'b');

    auto plain = ImageSource::create(fx::jpegWithOrientation(0));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->properties(0).exifOrientation, 1);
    EXPECT_EQ(plain->frame(0).size(), (PixelSize{6, 4}));
}

TEST(ImageLayerTest, GifFramesComeWithTheirDelays) {
    auto source = ImageSource::create(fx::threeFrameGif());
    ASSERT_TRUE(source) << source.error().message;
    ASSERT_EQ(source->count(), 3u);
    const char hues[] = {'r', 'g', 'b'};
    const double delays[] = {0.1, 0.2, 0.3};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(hue(source->frame(i).pixel(1, 1)), hues[i]) << i;
        ASSERT_TRUE(source->properties(i).gif) << i;
        EXPECT_DOUBLE_EQ(source->properties(i).gif->unclampedDelayTime, delays[i]) << i;
    }
    // Delays under 0.011 s are clamped to 0.1 s; what was written stays readable.
    auto fast = ImageSource::create(fx::gif(2, 2, {{2, 2, 0, 0}, {2, 2, 1, 1}, {2, 2, 2, 2}}));
    ASSERT_TRUE(fast);
    ASSERT_EQ(fast->count(), 3u);
    const double written[] = {0, 0.01, 0.02};
    const double clamped[] = {0.1, 0.1, 0.02};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(fast->properties(i).gif->unclampedDelayTime, written[i]) << i;
        EXPECT_DOUBLE_EQ(fast->properties(i).gif->delayTime, clamped[i]) << i;
    }
}

TEST(ImageLayerTest, HasAlphaFollowsTheFile) {
    const struct {
        const char* name;
        Bytes data;
        bool hasAlpha;
    } cases[] = {
        {"opaque png", fx::solidPng(3, 3, false), false},
        {"png with alpha", fx::solidPng(3, 3, true), true},
        {"grey png", fx::greyPng(3, 3), false},
        {"jpeg", fx::jpegWithOrientation(0), false},
    };
    for (const auto& c : cases) {
        auto image = platform::image::decodeImage(c.data);
        ASSERT_TRUE(image) << c.name << ": " << image.error().message;
        EXPECT_EQ(image->hasAlpha(), c.hasAlpha) << c.name;
    }
}

TEST(ImageLayerTest, HostileFilesGiveErrorsNotAllocations) {
    const Bytes jpeg = fx::gradientJpeg(64, 64);
    const Bytes png = fx::solidPng(8, 8, true);
    const struct {
        const char* name;
        Bytes data;
        long code;
    } cases[] = {
        {"100000 x 100000 png header", fx::pngHeaderOnly(100000, 100000),
         platform::image::kTooLarge},
        {"png header of 2^31 - 1 square", fx::pngHeaderOnly(0x7FFFFFFF, 0x7FFFFFFF),
         platform::image::kTooLarge},
        {"jpeg cut in its scan", fx::prefix(jpeg, jpeg.size() * 3 / 4),
         platform::image::kMalformed},
        {"jpeg cut in its header", fx::prefix(jpeg, 40), platform::image::kMalformed},
        {"png without IEND", fx::prefix(png, png.size() - 12), platform::image::kMalformed},
        {"gif with a zero-sized frame", fx::gif(4, 4, {{4, 4, 0, 10}, {0, 4, 1, 10}}),
         platform::image::kMalformed},
        {"gif without trailer", fx::gif(4, 4, {{4, 4, 0, 10}}, false), platform::image::kMalformed},
        {"gif screen of 65535 x 65535", fx::gif(65535, 65535, {{1, 1, 0, 10}}),
         platform::image::kTooLarge},
        {"garbage", bytes("not an image at all"), platform::image::kUnknownFormat},
        {"empty", {}, platform::image::kUnknownFormat},
        {"png signature alone", fx::prefix(png, 8), platform::image::kMalformed},
    };
    for (const auto& c : cases) {
        auto source = ImageSource::create(c.data);
        ASSERT_FALSE(source) << c.name;
        EXPECT_EQ(source.error().domain, platform::image::kErrorDomain) << c.name;
        EXPECT_EQ(source.error().code, c.code) << c.name << ": " << source.error().message;
    }
}

TEST(ImageLayerTest, TooManyFramesOrBytesAreRefused) {
    std::vector<fx::GifFrame> frames(5, fx::GifFrame{2, 2, 0, 10});
    const Bytes animation = fx::gif(2, 2, frames);
    platform::image::DecodeLimits few;
    few.maxFrames = 4;
    EXPECT_EQ(ImageSource::create(animation, Completeness::whole, few).error().code,
              platform::image::kTooLarge);
    platform::image::DecodeLimits small;
    small.maxTotalBytes = 2 * 2 * 4 * 4;
    EXPECT_EQ(ImageSource::create(animation, Completeness::whole, small).error().code,
              platform::image::kTooLarge);
    EXPECT_EQ(ImageSource::create(animation)->count(), 5u);
}

TEST(ImageLayerTest, APrefixDecodesAsFarAsTheFormatAllows) {
    const Bytes animation = fx::gif(2, 2, {{2, 2, 0, 10}, {2, 2, 1, 10}, {2, 2, 2, 10}});
    // Cut inside the third frame's data: the first two are whole.
    auto partial =
        ImageSource::create(fx::prefix(animation, animation.size() - 4), Completeness::prefix);
    ASSERT_TRUE(partial) << partial.error().message;
    EXPECT_GE(partial->count(), 2u);

    const Bytes jpeg = fx::gradientJpeg(64, 64);
    auto start = ImageSource::create(fx::prefix(jpeg, jpeg.size() * 3 / 4), Completeness::prefix);
    ASSERT_TRUE(start) << start.error().message;
    EXPECT_EQ(start->frame(0).size(), (PixelSize{64, 64}));
    // The limits hold for prefixes too.
    EXPECT_FALSE(ImageSource::create(fx::prefix(fx::pngHeaderOnly(100000, 100000), 33),
                                     Completeness::prefix));
}

// Bitmaps of several megabytes take memory of their own kind: the pixels must come out as
// those of a small one would.
TEST(ImageLayerTest, APhotoOfManyMegabytesDecodesAndRedrawsWhole) {
    const Bytes jpeg = fx::gradientJpeg(1200, 1000);
    auto whole = ImageSource::create(jpeg);
    ASSERT_TRUE(whole) << whole.error().message;
    const Bitmap& pixels = whole->frame(0);
    ASSERT_EQ(pixels.size(), (PixelSize{1200, 1000}));
    EXPECT_EQ(hue(pixels.pixel(1, 1)), 'g');

    auto start = ImageSource::create(fx::prefix(jpeg, jpeg.size() / 2), Completeness::prefix);
    ASSERT_TRUE(start) << start.error().message;
    ASSERT_EQ(start->frame(0).size(), (PixelSize{1200, 1000}));

    const Bitmap drawn = pixels.redrawn(AlphaInfo::premultipliedFirst);
    EXPECT_EQ(drawn.alphaInfo(), AlphaInfo::premultipliedFirst);
    EXPECT_FALSE(drawn.sharesPixelsWith(pixels));
    for (int y = 0; y < 1000; y += 37) {
        for (int x = 0; x < 1200; x += 53) {
            ASSERT_EQ(drawn.pixel(x, y), pixels.pixel(x, y)) << x << ", " << y;
        }
        // The first lines are whole in the prefix too.
        if (y < 100) {
            EXPECT_EQ(start->frame(0).pixel(600, y), pixels.pixel(600, y)) << y;
        }
    }
    EXPECT_EQ(drawn.pixel(1199, 999), pixels.pixel(1199, 999));
}

TEST(ImageLayerTest, SeveralGifFramesDecodeToAnAnimation) {
    auto image = platform::image::decodeImage(fx::threeFrameGif());
    ASSERT_TRUE(image);
    ASSERT_TRUE(image->isAnimated());
    EXPECT_EQ(image->frames().size(), 3u);
    EXPECT_DOUBLE_EQ(image->duration(), 0.6);
    auto still = platform::image::decodeImage(fx::gif(2, 2, {{2, 2, 1, 10}}));
    ASSERT_TRUE(still);
    EXPECT_FALSE(still->isAnimated());
}

TEST(ImageLayerTest, OrientationTurnsSizeAndPixels) {
    // 2 x 1: red, then blue.
    auto canvas = Canvas::create({2, 1}, 1.0, true).value();
    canvas.draw(Image(Bitmap::filled({1, 1}, 0xFFFF0000, false)), {0, 0, 1, 1});
    canvas.draw(Image(Bitmap::filled({1, 1}, 0xFF0000FF, false)), {1, 0, 1, 1});
    const Bitmap pixels = canvas.image().bitmap();
    const struct {
        Orientation orientation;
        PixelSize size;
        char first;  // the hue at (0, 0)
    } cases[] = {
        {Orientation::up, {2, 1}, 'r'},           {Orientation::down, {2, 1}, 'b'},
        {Orientation::right, {1, 2}, 'r'},        {Orientation::left, {1, 2}, 'b'},
        {Orientation::upMirrored, {2, 1}, 'b'},   {Orientation::downMirrored, {2, 1}, 'r'},
        {Orientation::leftMirrored, {1, 2}, 'r'}, {Orientation::rightMirrored, {1, 2}, 'b'},
    };
    for (const auto& c : cases) {
        const Bitmap turned = pixels.oriented(c.orientation);
        EXPECT_EQ(turned.size(), c.size) << static_cast<int>(c.orientation);
        EXPECT_EQ(hue(turned.pixel(0, 0)), c.first) << static_cast<int>(c.orientation);
        EXPECT_EQ(Image(pixels, 2.0, c.orientation).size().width, c.size.width / 2.0);
    }
}

TEST(ImageLayerTest, CanvasDrawsOverAndEncodesBack) {
    auto canvas = Canvas::create({4, 4}, 2.0, false).value();
    canvas.draw(Image(Bitmap::filled({4, 4}, 0xFFFF0000, false)), {0, 0, 4, 4});
    canvas.draw(Image(Bitmap::filled({2, 2}, 0xFF0000FF, false)), {0, 0, 2, 2});
    const Image drawn = canvas.image();
    EXPECT_EQ(drawn.bitmap().size(), (PixelSize{8, 8}));
    EXPECT_EQ(drawn.scale(), 2.0);
    EXPECT_EQ(hue(drawn.bitmap().pixel(1, 1)), 'b');
    EXPECT_EQ(hue(drawn.bitmap().pixel(6, 6)), 'r');

    for (const auto& encoded : {platform::image::encodePNG(drawn.bitmap()),
                                platform::image::encodeJPEG(drawn.bitmap(), 90)}) {
        ASSERT_TRUE(encoded);
        auto back = platform::image::decodeImage(*encoded);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->bitmap().size(), (PixelSize{8, 8}));
        EXPECT_EQ(hue(back->bitmap().pixel(6, 6)), 'r');
    }
    EXPECT_FALSE(Canvas::create({0, 4}, 1.0, false));
    EXPECT_FALSE(Canvas::create({100000, 100000}, 1.0, false));
    EXPECT_FALSE(platform::image::encodePNG(Bitmap()));
}

TEST(ImageLayerTest, RedrawingMakesFreshPixelsInTheLayoutAsked) {
    const Bitmap opaque = Bitmap::filled({3, 3}, 0xFF00FF00, false);
    const struct {
        AlphaInfo asked;
        AlphaInfo made;
    } cases[] = {
        {AlphaInfo::premultipliedFirst, AlphaInfo::premultipliedFirst},
        {AlphaInfo::noneSkipFirst, AlphaInfo::noneSkipFirst},
        {AlphaInfo::noneSkipLast, AlphaInfo::noneSkipLast},
    };
    for (const auto& c : cases) {
        const Bitmap drawn = opaque.redrawn(c.asked);
        EXPECT_EQ(drawn.alphaInfo(), c.made);
        EXPECT_FALSE(drawn.sharesPixelsWith(opaque));
        EXPECT_EQ(hue(drawn.pixel(1, 1)), 'g');
    }
}

}  // namespace

namespace {

TEST(ImageLayerTest, AnImageRidesInAValueByIdentity) {
    const platform::Value held = platform::image::imageValue(
        platform::image::Image(platform::image::Bitmap::filled({2, 2}, 0xFF000000, false), 2.0));
    ASSERT_TRUE(held.isObject());
    const auto image = platform::image::imageFromValue(held);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->scale(), 2.0);
    EXPECT_EQ(held, platform::Value(held));
    EXPECT_NE(held, platform::image::imageValue(*image));
    EXPECT_EQ(held.description(), "<UIImage>");
    EXPECT_FALSE(platform::image::imageFromValue(platform::Value("text")));
    EXPECT_FALSE(platform::json::write(platform::Value{{"image", held}}));
}

}  // namespace
