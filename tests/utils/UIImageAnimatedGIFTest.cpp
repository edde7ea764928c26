#include <gtest/gtest.h>

#include <fstream>

#include "image/support/ImageFixtures.h"
#include "support/TempDir.h"
#include "utils/TQUtils.h"
#include "utils/UIImageAnimatedGIF.h"

namespace {

using platform::Bytes;
using platform::image::Bitmap;
using platform::image::Image;
using platform::image::PixelSize;
namespace fx = image_fixtures;
using fx::hue;

TEST(UIImageAnimatedGIFTest, DelayInCentiseconds) {
    const struct {
        std::optional<double> unclamped;
        std::optional<double> clamped;
        std::uint32_t delay;
    } cases[] = {
        {0.1, 0.1, 10},          {0.0, 0.1, 10},  // written 0: the clamped delay
        {std::nullopt, 0.3, 30}, {0.01, 0.1, 1},
        {0.125, 0.125, 12},  // halves to even
        {0.375, 0.375, 38},      {std::nullopt, std::nullopt, 1},
        {0.0, 0.0, 1},           {-1.0, 0.1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(animatedgif::delayCentiseconds(c.unclamped, c.clamped), c.delay)
            << c.unclamped.value_or(-9) << " " << c.clamped.value_or(-9);
    }
}

TEST(UIImageAnimatedGIFTest, RepeatsShowEveryFrameForTheCommonDivisor) {
    const struct {
        std::vector<std::uint32_t> delays;
        std::vector<std::uint32_t> repeats;
    } cases[] = {
        {{10, 20, 30}, {1, 2, 3}},
        {{2, 4, 6}, {1, 2, 3}},
        {{7}, {1}},
        {{6, 0, 9}, {2, 0, 3}},  // a 0 leaves the divisor as it was
        {{4, 6, 9}, {4, 6, 9}},
        {{}, {}},
        {{0, 0}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(animatedgif::repeatsForDelays(c.delays), c.repeats);
    }
}

TEST(UIImageAnimatedGIFTest, FrameListsAndDurations) {
    const struct {
        const char* name;
        std::vector<std::uint16_t> delays;  // centiseconds as written
        std::vector<char> list;             // the frame list by colour
        double duration;
    } cases[] = {
        {"0.1, 0.2, 0.3 s", {10, 20, 30}, {'r', 'g', 'g', 'b', 'b', 'b'}, 0.6},
        {"written 0: the clamped 0.1 s", {0, 0, 0}, {'r', 'g', 'b'}, 0.3},
        {"0.01 s as written", {1, 1}, {'r', 'g'}, 0.02},
        {"0.02, 0.04, 0.06 s made uniform", {2, 4, 6}, {'r', 'g', 'g', 'b', 'b', 'b'}, 0.12},
        {"a single frame", {5}, {'r'}, 0.05},
    };
    for (const auto& c : cases) {
        std::vector<fx::GifFrame> frames;
        for (std::size_t i = 0; i < c.delays.size(); ++i) {
            frames.push_back({2, 2, static_cast<std::uint8_t>(i % 3), c.delays[i]});
        }
        const auto image = animatedgif::animatedImageWithAnimatedGIFData(fx::gif(2, 2, frames));
        ASSERT_TRUE(image) << c.name;
        ASSERT_EQ(image->frames().size(), c.list.size()) << c.name;
        for (std::size_t i = 0; i < c.list.size(); ++i) {
            EXPECT_EQ(hue(image->frames()[i].bitmap().pixel(0, 0)), c.list[i]) << c.name << i;
        }
        EXPECT_NEAR(image->duration(), c.duration, 1e-9) << c.name;
    }
}

TEST(UIImageAnimatedGIFTest, WhatIsNoGif) {
    // Not a GIF: no GIF dictionary, 1 centisecond.
    const auto png = animatedgif::animatedImageWithAnimatedGIFData(fx::solidPng(3, 3, false));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->frames().size(), 1u);
    EXPECT_NEAR(png->duration(), 0.01, 1e-9);
    // A GIF without images: no frames, no time.
    const auto empty = animatedgif::animatedImageWithAnimatedGIFData(fx::gif(2, 2, {}));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->frames().empty());
    EXPECT_EQ(empty->duration(), 0.0);
    const Bytes junk{'n', 'o', 'p', 'e'};
    EXPECT_FALSE(animatedgif::animatedImageWithAnimatedGIFData(junk));
    EXPECT_FALSE(animatedgif::animatedImageWithAnimatedGIFData({}));
    // One short delay among long ones would ask for millions of entries.
    EXPECT_FALSE(animatedgif::animatedImageWithAnimatedGIFData(
        fx::gif(2, 2, {{2, 2, 0, 1}, {2, 2, 1, 65535}})));
}

TEST(UIImageAnimatedGIFTest, ReadsAFile) {
    testing_support::TempDir folder;
    const Bytes gif = fx::threeFrameGif();
    std::ofstream(folder.path() / "connecting.gif", std::ios::binary)
        .write(reinterpret_cast<const char*>(gif.data()), static_cast<long>(gif.size()));
    const auto image =
        animatedgif::animatedImageWithAnimatedGIFURL(folder.path() / "connecting.gif");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frames().size(), 6u);
    EXPECT_FALSE(animatedgif::animatedImageWithAnimatedGIFURL(folder.path() / "missing.gif"));
}

TEST(UIImageAnimatedGIFTest, CombiningDrawsTheSecondOverTheFirst) {
    const Image first(Bitmap::filled({4, 4}, 0xFFFF0000, false));
    const Image second(Bitmap::filled({4, 4}, 0xFF0000FF, false), 2.0);  // 2 x 2 points
    for (const double scale : {1.0, 2.0}) {
        const auto combined = TQUtils::imageByCombiningImage(first, second, scale);
        ASSERT_TRUE(combined);
        EXPECT_EQ(combined->size(), first.size());
        EXPECT_EQ(combined->scale(), scale);
        const int side = static_cast<int>(4 * scale);
        EXPECT_EQ(combined->bitmap().size(), (PixelSize{side, side}));
        EXPECT_EQ(hue(combined->bitmap().pixel(0, 0)), 'b');
        EXPECT_EQ(hue(combined->bitmap().pixel(side - 1, side - 1)), 'r');
        EXPECT_TRUE(combined->hasAlpha());
    }
    EXPECT_FALSE(TQUtils::imageByCombiningImage(Image(), first));
}

}  // namespace
