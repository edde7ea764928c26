#include <gtest/gtest.h>

#include <QApplication>
#include <string>
#include <vector>

#include "../../ui/UiWorld.h"
#include "app/AppContext.h"
#include "app/TQWindowedApp.h"
#include "platform/ui/Animator.h"
#include "platform/host/InstanceChannel.h"
#include "support/LoopWait.h"
#include "support/RecordingAppHost.h"
#include "support/TempDir.h"
#include "ui/TQCustomNavigationViewController.h"

namespace {

// The program with a window over a context of its own, on the offscreen platform, without a
// link; the life-cycle notifications it posts are counted.
class TQWindowedAppTest : public ::testing::Test {
protected:
    TQWindowedAppTest() {
        for (const char* name : {platform::kApplicationDidEnterBackgroundNotification,
                                 platform::kApplicationWillEnterForegroundNotification}) {
            context.center().addObserver(name, [this, name](const platform::Notification&) {
                posted.emplace_back(name);
            });
        }
    }
    ~TQWindowedAppTest() override {
        app.reset();
        ui_test::UiWorld::flushDeletes();
    }

    [[nodiscard]] platform::ApplicationState hostState() const {
        return platform::AppHost::current().applicationState();
    }
    static void focus(Qt::ApplicationState state) {
        // What Qt tells when the desktop moves the focus to or from the application.
        emit qApp->applicationStateChanged(state);
    }

    QApplication& qt = ui_test::application();
    testing_support::TempDir folder;
    AppContext context{{.clock = platform::RunLoop::Clock::virtualTime,
                        .home = folder.path() / "home"}};
    // Page transitions run on the virtual loop, not on Qt's wall-clock timers that would still
    // hold a running animation when the test ends.
    platform::ui::RecordingAnimator animator{context.loop()};
    platform::ScopedInstall<platform::ui::Animator> installAnimator{&animator};
    std::unique_ptr<TQWindowedApp> app = std::make_unique<TQWindowedApp>(
        context, TQWindowedApp::Settings{
                     .startLink = [] { return false; },
                     .channel = platform::InstanceChannel::pathFor(folder.path() / "home")});
    std::vector<std::string> posted;
};

TEST_F(TQWindowedAppTest, MinimisingRestoringAndTheFocusReachTheDelegateTheHostAndTheCentre) {
    app->launch();
    auto& window = app->window();
    ASSERT_TRUE(window.isVisible());
    EXPECT_NE(dynamic_cast<platform::ui::Page*>(window.rootView()), nullptr)
        << "a first launch shows the set-up scene as the root";

    focus(Qt::ApplicationActive);
    EXPECT_EQ(hostState(), platform::ApplicationState::active);
    focus(Qt::ApplicationInactive);
    EXPECT_EQ(hostState(), platform::ApplicationState::inactive);
    focus(Qt::ApplicationActive);
    EXPECT_TRUE(posted.empty()) << "focus alone is no trip to the background";

    window.showMinimized();
    EXPECT_EQ(hostState(), platform::ApplicationState::background);
    EXPECT_EQ(posted, std::vector<std::string>{platform::kApplicationDidEnterBackgroundNotification});
    window.showMinimized();
    window.showNormal();
    EXPECT_EQ(hostState(), platform::ApplicationState::active);
    window.hide();
    EXPECT_EQ(hostState(), platform::ApplicationState::background);
    window.show();
    EXPECT_EQ(posted, (std::vector<std::string>{
                          platform::kApplicationDidEnterBackgroundNotification,
                          platform::kApplicationWillEnterForegroundNotification,
                          platform::kApplicationDidEnterBackgroundNotification,
                          platform::kApplicationWillEnterForegroundNotification}));
}

TEST_F(TQWindowedAppTest, AURLGivenAtTheStartOrByALaterStartOpensTheStore) {
    context.defaults().set("isCompletedSetupWizard", true);
    app->launch("quorvelapps://ProductDetail/12345");
    auto* home = dynamic_cast<TQCustomNavigationViewController*>(app->window().rootView());
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(home->pages().size(), 1u) << "no screen has set the main navigation yet";

    if (!app->isListening()) {
        GTEST_SKIP() << "the instance channel is unavailable here";
    }
    app->delegate().setNavigationController(home);
    app->window().showMinimized();
    testing_support::LoopWakes wakes(context.loop());
    ASSERT_TRUE(platform::InstanceChannel::send(
                    platform::InstanceChannel::pathFor(folder.path() / "home"),
                    "quorvelapps://ProductDetail/12345")
                    .ok());
    EXPECT_TRUE(testing_support::runLoopUntil(context.loop(),
                                              [home] { return home->pages().size() == 2; }));
    EXPECT_EQ(home->topPage()->className(), TQAppDelegate::kStoreScene);
    EXPECT_FALSE(app->window().isMinimized()) << "the store shows in a window in sight";

    // A later start without a URL only brings the window back.
    app->window().showMinimized();
    ASSERT_TRUE(platform::InstanceChannel::send(
                    platform::InstanceChannel::pathFor(folder.path() / "home"), "")
                    .ok());
    EXPECT_TRUE(testing_support::runLoopUntil(
        context.loop(), [this] { return !app->window().isMinimized(); }));
    EXPECT_EQ(home->pages().size(), 2u);
}

// A host that keeps the handler openings of its notices go to.
class OpeningHost : public testing_support::RecordingAppHost {
public:
    void onLocalNotificationOpened(
        std::function<void(const platform::Dictionary& userInfo)> handler) override {
        opened = std::move(handler);
    }
    std::function<void(const platform::Dictionary& userInfo)> opened;
};

TEST_F(TQWindowedAppTest, AnOpenedNoticeBringsTheWindowBackAndOnceItWentReachesNobody) {
    app.reset();
    OpeningHost host;
    platform::ScopedInstall<platform::AppHost> installHost{&host};
    app = std::make_unique<TQWindowedApp>(
        context, TQWindowedApp::Settings{.startLink = [] { return false; }, .channel = {}});
    app->launch();
    ASSERT_TRUE(host.opened) << "openings lead to the delegate while the window is there";
    app->window().showMinimized();
    ASSERT_EQ(hostState(), platform::ApplicationState::background);
    host.opened(platform::Dictionary{{"actionToHandle", "numberSyncAction"}});
    EXPECT_FALSE(app->window().isMinimized()) << "what the notice leads to shows in the window";
    EXPECT_NE(hostState(), platform::ApplicationState::background);
    EXPECT_EQ(posted.back(), platform::kApplicationWillEnterForegroundNotification);

    app.reset();
    ui_test::UiWorld::flushDeletes();
    // The notice outlives the window on the desktop; opening it now must find nobody.
    if (host.opened) {
        host.opened(platform::Dictionary{{"actionToHandle", "buddyAction"}});
    }
    EXPECT_FALSE(host.opened);
}

}  // namespace
