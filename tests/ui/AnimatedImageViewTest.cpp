#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "image/support/ImageFixtures.h"
#include "platform/ui/AnimatedImageView.h"
#include "ui/UiWorld.h"

namespace {

using image_fixtures::GifFrame;
using platform::ui::AnimatedImage;
using platform::ui::AnimatedImageView;
using ui_test::UiWorld;

std::span<const std::uint8_t> span(const platform::Bytes& bytes) {
    return {bytes.data(), bytes.size()};
}

// Keeps each request for the test to answer.
class HeldLoader : public platform::ui::ImageLoader {
public:
    void load(std::string_view url,
              std::function<void(platform::Result<AnimatedImage>)> done) override {
        urls.emplace_back(url);
        answers.push_back(std::move(done));
    }
    std::vector<std::string> urls;
    std::vector<std::function<void(platform::Result<AnimatedImage>)>> answers;
};

AnimatedImage still(std::uint8_t color) {
    return platform::ui::decodeAnimatedImage(span(image_fixtures::gif(2, 2, {{2, 2, color, std::nullopt}})))
        .value();
}

TEST(AnimatedImageDecode, EachGifFrameKeepsItsOwnDelay) {
    const auto decoded = platform::ui::decodeAnimatedImage(span(image_fixtures::gif(
        2, 2, {{2, 2, 0, 10}, {2, 2, 1, 20}, {2, 2, 2, 0}, {2, 2, 3, 1}, {2, 2, 0, std::nullopt}})));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->delays, (std::vector<double>{0.1, 0.2, 0.1, 0.1, 0.1}))
        << "0 s and 0.01 s frames, and a frame stating none, last 0.1 s";
    EXPECT_TRUE(decoded->isAnimated());
    EXPECT_FALSE(platform::ui::decodeAnimatedImage(span(image_fixtures::bytes("not an image"))).ok());
}

TEST(AnimatedImageViewTest, PlaysFramesAtTheirOwnDelaysOnTheVirtualClock) {
    UiWorld world;
    AnimatedImageView view;
    view.setAnimatedImage(
        platform::ui::decodeAnimatedImage(span(image_fixtures::threeFrameGif())).value());
    EXPECT_TRUE(view.isPlaying());
    struct Step {
        double advance;
        std::size_t frame;
    };
    for (const Step& step : {Step{0.0, 0}, Step{0.1, 1}, Step{0.19, 1}, Step{0.01, 2},
                             Step{0.29, 2}, Step{0.01, 0}}) {
        world.loop.advance(step.advance);
        EXPECT_EQ(view.frameIndex(), step.frame) << "at " << world.loop.now();
    }
    EXPECT_EQ(image_fixtures::hue(view.image().bitmap().pixel(0, 0)), 'r');
    view.stopPlaying();
    world.loop.advance(1);
    EXPECT_EQ(view.frameIndex(), 0u);

    // Delays given by hand that would spin the loop play at 0.1 s.
    AnimatedImage odd{{still(0).frames[0], still(1).frames[0], still(2).frames[0]},
                      {std::nan(""), -1}};
    view.setAnimatedImage(odd);
    for (const std::size_t frame : {1u, 2u, 0u}) {
        world.loop.advance(0.1);
        EXPECT_EQ(view.frameIndex(), frame);
    }
}

TEST(AnimatedImageViewTest, AFileThatCannotBeShownLeavesTheViewEmptyAndSaysWhy) {
    UiWorld world;
    const auto folder = std::filesystem::path(testing::TempDir()) / "animated_image_view";
    std::filesystem::create_directories(folder);
    const auto write = [&](const char* name, const platform::Bytes& bytes) {
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return folder / name;
    };
    AnimatedImageView view;
    ASSERT_TRUE(view.setImageFile(write("ok.gif", image_fixtures::threeFrameGif())).ok());
    EXPECT_TRUE(view.isPlaying());
    for (const auto& bad : {folder / "missing.gif", write("text.gif", image_fixtures::bytes("GIF89a?")),
                            folder}) {
        SCOPED_TRACE(bad.string());
        EXPECT_FALSE(view.setImageFile(bad).ok());
        EXPECT_TRUE(view.image().isNull());
        EXPECT_FALSE(view.isPlaying());
    }
    std::filesystem::remove_all(folder);
}

TEST(AnimatedImageViewTest, OnlyTheAnswerForTheLastURLShows) {
    UiWorld world;
    HeldLoader loader;
    std::vector<bool> done;
    auto view = std::make_unique<AnimatedImageView>();
    view->setImageURL("https://example.invalid/a.png", loader, [&](bool ok) { done.push_back(ok); });
    view->setImageURL("https://example.invalid/b.png", loader, [&](bool ok) { done.push_back(ok); });
    loader.answers[1](still(1));
    loader.answers[0](still(0));
    EXPECT_EQ(done, (std::vector<bool>{true}));
    EXPECT_EQ(image_fixtures::hue(view->image().bitmap().pixel(0, 0)), 'g');

    view->setImageURL("https://example.invalid/c.png", loader, [&](bool ok) { done.push_back(ok); });
    EXPECT_TRUE(view->image().isNull()) << "empty while it loads";
    loader.answers[2](platform::Error{"test", 1, "gone"});
    EXPECT_EQ(done.back(), false);
    view->setImageURL("https://example.invalid/d.png", loader);
    view.reset();
    loader.answers[3](still(2));  // the view went: dropped
    EXPECT_EQ(loader.urls.size(), 4u);
}

TEST(AnimatedImageViewTest, TurnsOnceEveryPeriodAboutItsAnchor) {
    UiWorld world;
    AnimatedImageView view;
    view.setFrame({0, 0, 60, 60});
    view.setAnimatedImage(still(0));
    view.startRotating(4.0, {1, 1});
    world.loop.advance(1.0);
    EXPECT_NEAR(view.rotationAngle(), std::numbers::pi / 2, 0.03);
    world.loop.advance(3.5);
    EXPECT_NEAR(view.rotationAngle(), std::numbers::pi / 4, 0.03) << "round again";
    UiWorld::shoot(view, "animated_image_rotated");
    view.stopRotating();
    EXPECT_EQ(view.rotationAngle(), 0);
    for (const double period : {0.0, -1.0, std::nan("")}) {
        view.startRotating(period);
        EXPECT_FALSE(view.isRotating()) << period;
    }
}

}  // namespace
