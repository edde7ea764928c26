#include <gtest/gtest.h>

#include <memory>
#include <string_view>

#include "platform/host/AppHost.h"
#include "platform/host/Banner.h"
#include "platform/host/LoadingWindow.h"
#include "support/RecordingAppHost.h"

namespace platform {
namespace {

TEST(AppHostTest, InteractionTypesHaveNamesOnlyForTheKnownValues) {
    struct Case {
        int type;
        std::optional<std::string_view> name;
    };
    const Case cases[] = {
        {banner_interaction::swipeUp, "Swipe Up"},
        {banner_interaction::swipeLeft, "Swipe Left"},
        {banner_interaction::swipeDown, "Swipe Down"},
        {banner_interaction::swipeRight, "Swipe Right"},
        {banner_interaction::swipeAnyDirection, "Swipe Any Direction"},
        {banner_interaction::tapOnce, "Tap Once"},
        {banner_interaction::tapTwice, "Tap Twice"},
        {banner_interaction::twoFingersTapOnce, "Two Fingers Tap Once"},
        {banner_interaction::twoFingersTapTwice, "Two Fingers Tap Twice"},
        {banner_interaction::anyTap, "Any Tap"},
        {0, std::nullopt},
        {3, std::nullopt},
        {255, std::nullopt},
        {-1, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(banner_interaction::name(c.type), c.name) << c.type;
    }
    EXPECT_EQ(banner_interaction::swipeAnyDirection,
              banner_interaction::swipeUp | banner_interaction::swipeLeft |
                  banner_interaction::swipeDown | banner_interaction::swipeRight);
    EXPECT_EQ(banner_interaction::anyTap,
              banner_interaction::tapOnce | banner_interaction::tapTwice |
                  banner_interaction::twoFingersTapOnce | banner_interaction::twoFingersTapTwice);
}

TEST(AppHostTest, WithoutAScreenTheDefaultsAreHarmless) {
    AppHost& app = AppHost::current();
    EXPECT_EQ(app.applicationState(), ApplicationState::active);
    EXPECT_EQ(app.userInterfaceLayoutDirection(), LayoutDirection::leftToRight);
    // Text that is no link is refused before any program would be started.
    EXPECT_FALSE(app.openURL("not a link"));
    app.scheduleLocalNotification(LocalNotification{1.0, "title", "body", {}, true, {}});
    // No window, no top bar to show network activity in.
    app.setNetworkActivityIndicatorVisible(true);
    EXPECT_FALSE(app.isNetworkActivityIndicatorVisible());

    // A banner nobody can see has gone at once.
    int completions = 0;
    Banner banner;
    banner.text = "hello";
    BannerPresenter::current().showBanner(banner, [&completions] { ++completions; });
    EXPECT_EQ(completions, 1);
    BannerPresenter::current().showBanner(Banner{}, nullptr);

    // The loading window owns the application window it is given.
    struct NullWindow : Window {
        void makeKeyAndVisible() override {}
    };
    auto window = std::make_shared<NullWindow>();
    const std::weak_ptr<Window> watch = window;
    LoadingWindow::shared().setApplicationWindow(std::move(window));
    EXPECT_FALSE(watch.expired());
    LoadingWindow::shared().setApplicationWindow(nullptr);
    EXPECT_TRUE(watch.expired());
}

TEST(AppHostTest, InstalledDoublesServeUntilTheyAreRemoved) {
    AppHost* const headlessApp = &AppHost::current();
    BannerPresenter* const headlessBanners = &BannerPresenter::current();
    LoadingWindow* const headlessLoading = &LoadingWindow::shared();
    {
        testing_support::ScopedRecordingHost host;
        EXPECT_EQ(&AppHost::current(), &host.app);
        EXPECT_EQ(&BannerPresenter::current(), &host.banners);
        EXPECT_EQ(&LoadingWindow::shared(), &host.loadingWindow);

        host.app.state = ApplicationState::background;
        EXPECT_EQ(AppHost::current().applicationState(), ApplicationState::background);
        EXPECT_TRUE(AppHost::current().openURL("quorvelapps://MainCategoryList"));
        EXPECT_EQ(host.app.openedURLs, std::vector<std::string>{"quorvelapps://MainCategoryList"});

        // A nested double stands in for the outer one and hands back to it.
        {
            testing_support::ScopedRecordingHost inner;
            EXPECT_EQ(&AppHost::current(), &inner.app);
        }
        EXPECT_EQ(&AppHost::current(), &host.app);
    }
    EXPECT_EQ(&AppHost::current(), headlessApp);
    EXPECT_EQ(&BannerPresenter::current(), headlessBanners);
    EXPECT_EQ(&LoadingWindow::shared(), headlessLoading);
}

TEST(AppHostTest, OnlyWebLinksCanBeOpenedOnThisMachine) {
    const struct {
        std::string_view url;
        bool canOpen;
    } cases[] = {
        {"https://example.com/a?b=c#d", true},
        {"http://example.com", true},
        {"HTTPS://EXAMPLE.COM", true},
        {"hTtP://example.com", true},
        {"https:", true},
        {"tel://5551234", false},  // no telephony here
        {"tel:+15551234", false},
        {"mailto:someone@example.com", false},
        {"quorvelapps://MainCategoryList", false},
        {"file:///etc/passwd", false},
        {"httpx://example.com", false},
        {"htt://example.com", false},
        {"https", false},
        {"", false},
        {"//example.com", false},
        {" https://example.com", false},
        {"https://example.com/a b", false},
        {"https://example.com/\n", false},
        {"-https://example.com", false},
        {"https\xFF://example.com", false},
    };
    const AppHost& headless = AppHost::current();
    testing_support::RecordingAppHost recording;
    for (const auto& c : cases) {
        EXPECT_EQ(headless.canOpenURL(c.url), c.canOpen) << c.url;
        // The double answers as this machine does until a test gives it other applications.
        EXPECT_EQ(recording.canOpenURL(c.url), c.canOpen) << c.url;
    }
}

TEST(AppHostTest, TheRecordingHostCanBeAPhoneThatPlacesCalls) {
    testing_support::ScopedRecordingHost host;
    host.app.openableSchemes.insert("tel");
    EXPECT_TRUE(AppHost::current().canOpenURL("tel://5551234"));
    EXPECT_TRUE(AppHost::current().canOpenURL("TEL:5551234"));
    EXPECT_TRUE(AppHost::current().canOpenURL("https://example.com"));
    EXPECT_FALSE(AppHost::current().canOpenURL("tel 5551234"));
    EXPECT_FALSE(AppHost::current().canOpenURL("mailto:someone@example.com"));
    // Asking opens nothing.
    EXPECT_TRUE(host.app.openedURLs.empty());

    host.app.openableSchemes.clear();
    EXPECT_FALSE(AppHost::current().canOpenURL("https://example.com"));
}

TEST(AppHostTest, TheRecordingPresenterCompletesEachBannerOnce) {
    testing_support::RecordingBannerPresenter presenter;
    int completions = 0;
    int taps = 0;
    Banner banner;
    banner.interactionResponders.push_back(
        {banner_interaction::anyTap, true, [&taps](int type) { taps += type; }});
    presenter.showBanner(banner, [&completions] { ++completions; });
    presenter.interact(0, banner_interaction::swipeUp);  // not a tap: no responder
    presenter.interact(0, banner_interaction::tapOnce);
    presenter.finish(0);
    presenter.finish(0);
    EXPECT_EQ(taps, banner_interaction::tapOnce);
    EXPECT_EQ(completions, 1);
}

}  // namespace
}  // namespace platform
