#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "platform/image/NamedImage.h"
#include "support/RecordingLogSink.h"

namespace {

using platform::image::Image;
using platform::image::namedAnimation;
using platform::image::namedImage;
using platform::image::namedImageNames;
using platform::image::namedImageSize;
using platform::image::PixelSize;
using platform::image::Size;

// The lookup with nothing but this layer linked: no application object, no display.
class NamedImageTest : public ::testing::Test {
protected:
    std::shared_ptr<testing_support::RecordingLogSink> sink =
        std::make_shared<testing_support::RecordingLogSink>();
    testing_support::ScopedLogSink installSink{sink};
};

TEST_F(NamedImageTest, ANameWithOrWithoutPngIsOnePicture) {
    for (const char* name : {"minus", "minus.png"}) {
        SCOPED_TRACE(name);
        const Image image = namedImage(name);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), (Size{25, 25}));
    }
    EXPECT_TRUE(sink->lines().empty());
}

TEST_F(NamedImageTest, UnknownOrPathLikeNamesAreAbsentWithALogLine) {
    for (const char* name : {"no_such_picture", "", ".png", "minus.svg", "minus.png.png", "MINUS",
                             "../images/minus", "images/minus", ":/kavo/images/minus", "minus\n"}) {
        SCOPED_TRACE(name);
        const auto before = sink->lines().size();
        EXPECT_TRUE(namedImage(name).isNull());
        EXPECT_TRUE(namedImage(name, Size{10, 10}).isNull());
        EXPECT_FALSE(namedImageSize(name).has_value());
        EXPECT_EQ(sink->lines().size(), before + 3);
    }
    EXPECT_TRUE(sink->contains("No image named \"no_such_picture\""));
}

TEST_F(NamedImageTest, DrawsAtTheAskedSizeAndScale) {
    const struct {
        Size points;
        double scale;
        PixelSize pixels;
    } cases[] = {
        {{32, 32}, 1, {32, 32}},     {{32, 32}, 3, {96, 96}},
        {{64, 16}, 1, {64, 16}},  // stretched to fill
        {{0.2, 0.2}, 1, {1, 1}},  // never below one pixel
        {{22.5, 22.5}, 2, {45, 45}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.points.width << "x" << c.points.height << "@" << c.scale);
        const Image image = namedImage("kavomanager_home_main_bg_01", c.points, c.scale);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.bitmap().size(), c.pixels);
        EXPECT_EQ(image.scale(), c.scale);
    }
}

TEST_F(NamedImageTest, RefusesSizesAndScalesNoScreenHas) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        Size points;
        double scale;
    } cases[] = {
        {{0, 10}, 1},    {{10, -1}, 1}, {{nan, 10}, 1}, {{10, inf}, 1},  {{5000, 10}, 1},
        {{2000, 10}, 3}, {{10, 10}, 0}, {{10, 10}, -2}, {{10, 10}, nan}, {{10, 10}, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.points.width << "x" << c.points.height << "@" << c.scale);
        EXPECT_TRUE(namedImage("minus", c.points, c.scale).isNull());
    }
    EXPECT_EQ(sink->lines().size(), std::size(cases));
}

// The drawing's own colours come through: the application's orange inside the disc, nothing
// outside it.
TEST_F(NamedImageTest, KeepsTheDrawingsColoursAndTransparency) {
    const Image image = namedImage("kavomanager_home_main_bg_01", Size{32, 32});
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.bitmap().pixel(16, 16), 0xFFF9A825U);
    EXPECT_EQ(image.bitmap().pixel(0, 0) >> 24, 0U);
    EXPECT_TRUE(image.hasAlpha());
}

TEST_F(NamedImageTest, AnAnimationTakesItsNumberedFramesInOrder) {
    const Image spinner = namedAnimation("350", Size{40, 40}, 0.8, 2);
    ASSERT_TRUE(spinner.isAnimated());
    ASSERT_EQ(spinner.frames().size(), 8U);
    EXPECT_EQ(spinner.duration(), 0.8);
    EXPECT_EQ(spinner.size(), (Size{40, 40}));
    for (std::size_t i = 0; i < spinner.frames().size(); ++i) {
        const Image frame = namedImage("350_" + std::to_string(i + 1), Size{40, 40}, 2);
        EXPECT_EQ(spinner.frames()[i].bitmap().pixel(40, 12), frame.bitmap().pixel(40, 12)) << i;
    }
    EXPECT_EQ(namedAnimation("350.png", 1).frames().size(), 8U);
    EXPECT_TRUE(sink->lines().empty());

    for (const char* name : {"minus", "loading", "../350", ""}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(namedAnimation(name, 1).isNull());
    }
    EXPECT_EQ(sink->lines().size(), 4U);
}

TEST_F(NamedImageTest, ListsEveryNameOnceSortedWithoutExtension) {
    const auto names = namedImageNames();
    ASSERT_FALSE(names.empty());
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    for (const auto& name : names) {
        EXPECT_EQ(name.find('.'), std::string::npos) << name;
    }
}

}  // namespace
