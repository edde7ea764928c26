#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ui/TQLoadingView.h"
#include "ui/TQPopUpviewUtils.h"
#include "ui/TQWindowHost.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::Layer;
using ui_test::UiWorld;

// The application window as the loading window sees it: counts how often it became key.
class CountingWindow : public platform::Window {
public:
    void makeKeyAndVisible() override { ++keyed; }
    int keyed = 0;
};

class LoadingViewTest : public ::testing::Test {
protected:
    UiWorld world;
    TQLoadingView loading{*world.window, world.loop};
    std::shared_ptr<CountingWindow> application = std::make_shared<CountingWindow>();
};

TEST_F(LoadingViewTest, ItCoversAlertsAndHidesOnItsTimeOut) {
    TQWindowAppHost host(*world.window, world.host);
    host.showAlert(TQPopUpviewUtils::keepRunningKMAlert());
    loading.setApplicationWindow(application);
    EXPECT_FALSE(loading.isShow());
    loading.showWithTimeout(60.0);
    EXPECT_TRUE(loading.isShow());
    ASSERT_NE(loading.content(), nullptr);
    EXPECT_EQ(world.window->frontView(), loading.content()) << "above the alert";
    EXPECT_EQ(world.window->overlays(Layer::loading).size(), 1U);

    world.loop.advance(5.0);
    loading.hideLoading();
    EXPECT_FALSE(loading.isShow());
    EXPECT_TRUE(world.window->overlays(Layer::loading).empty());
    EXPECT_EQ(application->keyed, 1);
    world.loop.advance(55.0);
    EXPECT_EQ(application->keyed, 2) << "the late time-out hides once more";
    EXPECT_FALSE(loading.isShow());
}

TEST_F(LoadingViewTest, AShowCancelsTheEarlierTimeOutAndEachShowBuildsFreshContent) {
    loading.setApplicationWindow(application);
    loading.showWithTimeout(60.0);
    world.loop.advance(10.0);
    const platform::ui::ViewGuard<TQLoadingViewController> first(loading.content());
    loading.showLoading();
    EXPECT_NE(loading.content(), nullptr);
    EXPECT_EQ(world.window->overlays(Layer::loading).size(), 1U);
    EXPECT_TRUE(first.isNull()) << "the earlier content is gone";
    world.loop.advance(120.0);
    EXPECT_TRUE(loading.isShow());
    EXPECT_EQ(application->keyed, 0);
    EXPECT_TRUE(loading.content()->spinner().isAnimating());
    loading.hideLoading();
    EXPECT_FALSE(loading.isShow());
}

TEST_F(LoadingViewTest, HidingBeforeTheApplicationWindowIsGivenStillHides) {
    loading.showLoading();
    loading.hideLoading();
    EXPECT_FALSE(loading.isShow());
    EXPECT_EQ(loading.content(), nullptr);
}

TEST(PopUpAlertsTest, TheBuildersTextsAndButtons) {
    UiWorld world;
    const platform::Alert keep = TQPopUpviewUtils::keepRunningKMAlert();
    EXPECT_EQ(keep.title, "Keep the Quorvel Kavo R5 Lite app active");
    EXPECT_EQ(keep.message,
              "\n1. To use all the functions on your watch, do not close the Quorvel Kavo R5 "
              "Lite app.\n\n2. If your watch fails to reconnect to your phone via Bluetooth "
              "automatically, open the Quorvel Kavo R5 Lite app.");
    EXPECT_EQ(keep.buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(keep.pressed) << "the button only dismisses";

    const platform::Alert update = TQPopUpviewUtils::showUpdateKavoAlert();
    EXPECT_EQ(update.title, "Update watch");
    EXPECT_EQ(update.message,
              "A watch software update is required. Download and install the update on your "
              "watch.");
    EXPECT_EQ(update.buttons, std::vector<std::string>{"OK"});
}

TEST(PopUpAlertsTest, FixedTextsAreShownAsTheyStandNeverAsFormats) {
    UiWorld world;
    const std::map<std::string, std::string, std::less<>> translation{
        {"WDS_FOTA_HEADER_UPDATE_KAVO_ABB", "Mettre %@ \u00e0 jour %d"},
        {"WDS_WMGR_POP_A_KAVO_SOFTWARE_UPDATE_IS_REQUIRED_TO_DOWNLOAD_AND_INSTALL_THE_UPDATE_ON_"
         "YOUR_KAVO_MSG",
         "100% %s %@ %%"},
        {"ok", "%@"},
        {"WDS_WMGR_HEADER_QUORVEL_KAVO_R5_LITE_ABB", "R5 %@"},
        {"WDS_WMGR_HEADER_KEEP_PS_APP_ACTIVE", "%@ %@ %@"},
    };
    const auto localized = [&](std::string_view key) {
        const auto found = translation.find(key);
        return found == translation.end() ? std::string(key) : found->second;
    };
    const platform::Alert update = TQPopUpviewUtils::showUpdateKavoAlert(localized);
    EXPECT_EQ(update.title, "Mettre %@ \u00e0 jour %d");
    EXPECT_EQ(update.message, "100% %s %@ %%");
    EXPECT_EQ(update.buttons, std::vector<std::string>{"%@"});
    const platform::Alert keep = TQPopUpviewUtils::keepRunningKMAlert(localized);
    EXPECT_EQ(keep.title, "R5 %@ %@ %@") << "a format reads only the arguments it was given";
    EXPECT_EQ(keep.buttons, std::vector<std::string>{"%@"});
}

TEST(WindowAlertsTest, AlertsAreDialogsInTheWindowWithTheirButtonsAndHandlers) {
    UiWorld world;
    TQWindowAppHost host(*world.window, world.host);
    std::vector<std::size_t> pressed;
    platform::Alert alert;
    alert.title = "Title";
    alert.message = "Message";
    alert.buttons = {"Cancel", "OK"};
    alert.pressed = [&](std::size_t button) { pressed.push_back(button); };
    const auto first = host.showAlert(alert);
    const auto second = host.showAlert(alert);
    ASSERT_NE(host.alertView(first), nullptr);
    EXPECT_EQ(host.alertView(first)->title(), "Title");
    EXPECT_EQ(host.alertView(first)->message(), "Message");
    EXPECT_EQ(host.alertView(first)->buttonCount(), 2U);
    EXPECT_EQ(world.window->overlays(Layer::alert).size(), 2U);

    QTest::mouseClick(host.alertView(second)->findChild<QWidget*>("alertButton1"), Qt::LeftButton);
    EXPECT_EQ(pressed, std::vector<std::size_t>{1});
    EXPECT_EQ(host.alertView(second), nullptr);
    host.dismissAlert(first);
    EXPECT_EQ(pressed.size(), 1U) << "taken away without a button";
    UiWorld::flushDeletes();
    EXPECT_TRUE(world.window->overlays(Layer::alert).empty());
    host.dismissAlert(first);
    EXPECT_EQ(host.applicationState(), platform::ApplicationState::active);
}

// Texts of a chosen width, for the connecting view's arithmetic.
class WidthMetrics final : public platform::ui::TextMetrics {
public:
    platform::ui::Size boundingSize(std::string_view text, double, double) const override {
        return {lineWidth(text, 15), 18};
    }
    double lineWidth(std::string_view text, double) const override {
        return text.empty() ? 0 : std::stod(std::string(text));
    }
};

TEST(ConnectingViewTest, TheSpinnerAndTheTextAreCentredOn135) {
    UiWorld world;
    WidthMetrics widths;
    platform::ScopedInstall<platform::ui::TextMetrics> install(&widths);
    const struct {
        const char* text;
        int model;
        platform::LayoutDirection direction;
        double labelWidth;
        double spinnerX;
        double labelX;
        double y;
    } cases[] = {
        {"100", 0, platform::LayoutDirection::leftToRight, 120, 80, 160, 40},
        {"100", 0, platform::LayoutDirection::rightToLeft, 120, 190, 110, 40},
        {"99.5", 8, platform::LayoutDirection::leftToRight, 120, 80, 160, 45},
        {"100", 10, platform::LayoutDirection::leftToRight, 120, 80, 160, 45},
        {"100", 9, platform::LayoutDirection::leftToRight, 120, 80, 160, 40},
        {"300", 0, platform::LayoutDirection::leftToRight, 233, 23.5, 160, 40},
        {"", 0, platform::LayoutDirection::leftToRight, 20, 130, 160, 40},
    };
    for (const auto& c : cases) {
        platform::ui::View host;
        TQPopUpviewUtils::connectingView(host, c.text, c.model, c.direction);
        auto* label = host.findChild<platform::ui::Label*>("connectingLabel");
        auto* spinner = host.findChild<platform::ui::Spinner*>("connectingSpinner");
        ASSERT_NE(label, nullptr);
        ASSERT_NE(spinner, nullptr);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(label->frame().width, c.labelWidth);
        EXPECT_EQ(label->frame().height, 80);
        EXPECT_EQ(platform::ui::center(label->frame()), (platform::ui::Point{c.labelX, c.y}));
        EXPECT_EQ(platform::ui::center(spinner->frame()), (platform::ui::Point{c.spinnerX, c.y}));
        EXPECT_TRUE(spinner->isAnimating());
        EXPECT_TRUE(label->wordWrap());
        EXPECT_EQ(host.children().indexOf(label), host.children().indexOf(spinner) - 1)
            << "the label first, then the spinner";
    }
}

}  // namespace
