#include <gtest/gtest.h>

#include <QImage>

#include "platform/image/QtBridge.h"
#include "services/ServicesWorld.h"
#include "ui/TQCustomAlertOverlay.h"
#include "ui/UiWorld.h"

namespace {

using platform::Value;

// Frames that tell themselves apart: frame i is i × 20 red.
platform::image::Image namedImage(std::string_view name) {
    QImage pixels(80, 10, QImage::Format_ARGB32);
    if (name.starts_with("loading_")) {
        const int index = std::stoi(std::string(name.substr(8, 2))) - 30;
        pixels.fill(QColor(index * 20, 120, 200));
    } else {
        pixels = QImage(200, 120, QImage::Format_ARGB32);
        pixels.fill(QColor(90, 160, 230));
    }
    return platform::image::imageOf(pixels);
}

// The watch rings the phone; the alarm puts its overlay on screen over the window.
class FindMyPhoneOverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        services.findMyDevice.setOverlayPresenter(&presenter);
        services.connect();
        services.ask(kavowatch::requests::findMyPhoneStart());
        ASSERT_FALSE(services.loader.pending.empty());
        services.loader.finish(services.loader.pending.size() - 1, services_test::soundOf(1.5));
        ASSERT_TRUE(services.alarm.isPlaying());
        overlay = presenter.overlay();
        ASSERT_FALSE(overlay.isNull());
        EXPECT_EQ(window.overlays(platform::ui::Layer::pageOverlay).size(), 1U);
        EXPECT_EQ(services.world.host.app.alerts.size(), 0U) << "the overlay, not the host's alert";
    }
    void TearDown() override { services.findMyDevice.setOverlayPresenter(nullptr); }

    services_test::ServicesWorld services;
    QApplication& app = ui_test::application();
    platform::ui::Screen screen{{375, 667}};
    platform::ScopedInstall<platform::ui::Screen> installScreen{&screen};
    platform::ui::RecordingAnimator animator{services.world.loop};
    platform::ScopedInstall<platform::ui::Animator> installAnimator{&animator};
    platform::ui::MainWindow window;
    TQFindMyPhoneWindowPresenter presenter{window, namedImage};
    platform::ui::ViewGuard<TQCustomAlertOverlay> overlay;
};

TEST_F(FindMyPhoneOverlayTest, TheBoxAndTheButtonStripOnA375By667Screen) {
    EXPECT_EQ(overlay->frame(), (platform::ui::Rect{0, 0, 375, 667}));
    const auto box = overlay->box().frame();
    EXPECT_DOUBLE_EQ(box.width, 300);
    EXPECT_NEAR(box.height, 266.8, 1e-9);
    EXPECT_DOUBLE_EQ(box.x, 37.5);
    EXPECT_NEAR(box.y, 200.1, 1e-9);
    EXPECT_EQ(overlay->box().cornerRadius(), 6);
    const auto strip = overlay->stopButton().frame();
    EXPECT_NEAR(strip.y, 223.44, 1e-9);
    EXPECT_NEAR(strip.height, 43.36, 1e-9);
    EXPECT_EQ(strip.width, 300);
    EXPECT_EQ(overlay->stopButton().title(), "Stop");
    const auto drawing = overlay->illustration().frame();
    EXPECT_NEAR(drawing.height, 133.4, 1e-9);
    const auto animation = overlay->animation().frame();
    EXPECT_NEAR(animation.x, 0.37 * 280, 1e-9);
    EXPECT_NEAR(animation.y, 0.85 * 133.4, 1e-9);
    EXPECT_EQ(animation.width, 80);
    EXPECT_EQ(animation.height, 10);
    services.world.loop.advance(0.3);
    ui_test::UiWorld::shoot(window, "find_my_phone");
}

TEST_F(FindMyPhoneOverlayTest, TheOverlayAndItsBoxFollowTheWindowAsItIsResized) {
    window.setFrame({0, 0, 500, 400});
    EXPECT_EQ(overlay->frame(), (platform::ui::Rect{0, 0, 500, 400}));
    EXPECT_EQ(overlay->box().frame(), (platform::ui::Rect{50, 120, 400, 160}));
    EXPECT_EQ(overlay->stopButton().frame(), (platform::ui::Rect{0, 138, 400, 22}));
    EXPECT_EQ(overlay->illustration().frame(), (platform::ui::Rect{10, 45, 380, 80}));
}

TEST_F(FindMyPhoneOverlayTest, TwelveFramesLoopEvery0Point9Seconds) {
    auto& animation = overlay->animation();
    EXPECT_TRUE(animation.isAnimating());
    EXPECT_EQ(animation.animationImageCount(), 12U);
    EXPECT_EQ(animation.animationDuration(), 0.9);
    std::vector<std::size_t> seen;
    for (int step = 0; step < 24; ++step) {
        seen.push_back(animation.currentFrame());
        services.world.loop.advance(0.9 / 12 + 1e-9);
    }
    // One frame a twelfth of 0.9 s, in order, round and round.
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], (seen[0] + i) % 12) << i;
    }
}

TEST_F(FindMyPhoneOverlayTest, TouchingStopSilencesThePhoneAtOnceAndTellsTheWatch) {
    const std::size_t from = services.mark();
    auto* button = overlay->findChild<QWidget*>("stopButton");
    ASSERT_NE(button, nullptr);
    // The finger lands and slides off: the stop has already happened.
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_FALSE(services.alarm.isPlaying());
    EXPECT_FALSE(services.findMyDevice.isAlertShowing());
    EXPECT_TRUE(window.overlays(platform::ui::Layer::pageOverlay).empty());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-50, -50));
    services.world.loop.advance(1.0);
    const auto told = services.world.repliesSince(from);
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0].appId, 2);
    EXPECT_EQ(services_test::ServicesWorld::fields(told[0].json),
              (Value{{"cmd", "findMyDevice"}, {"subcmd", "stop"}}));
    ui_test::UiWorld::flushDeletes();
    EXPECT_TRUE(overlay.isNull());
}

TEST_F(FindMyPhoneOverlayTest, TheWatchsStopRemovesTheOverlayWithoutAMessage) {
    const std::size_t from = services.mark();
    services.ask(kavowatch::requests::findMyPhoneStop());
    EXPECT_FALSE(services.alarm.isPlaying());
    EXPECT_FALSE(services.findMyDevice.isAlertShowing());
    EXPECT_TRUE(window.overlays(platform::ui::Layer::pageOverlay).empty());
    services.world.loop.advance(1.0);
    EXPECT_TRUE(services.world.repliesSince(from).empty());
    ui_test::UiWorld::flushDeletes();
    EXPECT_TRUE(overlay.isNull());
    // The next ring brings a new overlay.
    services.ask(kavowatch::requests::findMyPhoneStart());
    services.loader.finish(services.loader.pending.size() - 1, services_test::soundOf(1.5));
    EXPECT_NE(presenter.overlay(), nullptr);
}

}  // namespace
