#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../ui/UiWorld.h"
#include "app/AppContext.h"
#include "app/TQWindowedApp.h"
#include "platform/ui/Animator.h"
#include "platform/foundation/Process.h"
#include "platform/host/BluetoothSettings.h"
#include "platform/host/InstanceChannel.h"
#include "platform/permissions/Permissions.h"
#include "support/LoopWait.h"
#include "support/RecordingAppHost.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"
#include "ui/TQCustomNavigationViewController.h"
#include "ui/TQStoryboard.h"

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
    const auto* stack = dynamic_cast<platform::ui::NavigationController*>(window.rootView());
    ASSERT_NE(stack, nullptr) << "a first launch shows the set-up stack as the root";
    EXPECT_EQ(TQStoryboard::sceneOf(*stack->topPage()), "setupView");

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

// The set-up scene is a stack: the welcome page goes on to the scan list on the same
// navigation, and back.
TEST_F(TQWindowedAppTest, TheSetUpPagesFollowEachOtherOnOneStack) {
    app->launch();
    auto* stack = dynamic_cast<platform::ui::NavigationController*>(app->window().rootView());
    ASSERT_NE(stack, nullptr);
    platform::ui::Page* welcome = stack->topPage();
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(TQStoryboard::sceneOf(*welcome), "setupView");
    ASSERT_TRUE(TQStoryboard::perform(*welcome, "deviceListSegue"));
    context.loop().advance(1);
    ASSERT_EQ(stack->pages().size(), 2u);
    EXPECT_EQ(TQStoryboard::sceneOf(*stack->topPage()), "deviceTablePageid");
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

// Bluetooth sharing turned off leads, at the next return to the foreground, to the question,
// its settings button to the application's settings page, and the page turns sharing back
// on. The page makes the application inactive while it covers the window.
TEST_F(TQWindowedAppTest, TheSettingsPageTurnsBluetoothSharingOnWhileTheApplicationIsInactive) {
    app->launch();
    focus(Qt::ApplicationActive);
    auto& window = app->window();
    auto& host = app->services().host();
    std::vector<std::string> activity;
    for (const char* name : {platform::kApplicationWillResignActiveNotification,
                             platform::kApplicationDidBecomeActiveNotification}) {
        context.center().addObserver(name, [&activity, name](const platform::Notification&) {
            activity.emplace_back(name);
        });
    }
    platform::Permissions& permissions = platform::Permissions::current();
    ASSERT_TRUE(permissions.setDecision(platform::Feature::bluetooth, platform::Decision::denied));
    window.showMinimized();
    window.showNormal();
    ASSERT_EQ(hostState(), platform::ApplicationState::active);
    activity.clear();

    const auto question = app->delegate().alert(TQAppDelegate::kFirstAlertTag);
    ASSERT_NE(question, platform::kAlertNone);
    ASSERT_NE(host.alertView(question), nullptr);
    QTest::mouseClick(&host.alertView(question)->button(1), Qt::LeftButton);  // "Settings"
    platform::ui::PermissionsPage* page = host.settingsPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(hostState(), platform::ApplicationState::inactive);
    EXPECT_EQ(activity,
              std::vector<std::string>{platform::kApplicationWillResignActiveNotification});

    auto* sharing = page->findChild<QAbstractButton*>("permissionSwitch.bluetooth");
    ASSERT_NE(sharing, nullptr);
    EXPECT_FALSE(sharing->isChecked());
    QTest::mouseClick(sharing, Qt::LeftButton);
    EXPECT_EQ(permissions.decision(platform::Feature::bluetooth), platform::Decision::granted);
    auto* contacts = page->findChild<QAbstractButton*>("permissionSwitch.contacts");
    ASSERT_NE(contacts, nullptr);
    QTest::mouseClick(contacts, Qt::LeftButton);
    EXPECT_EQ(permissions.decision(platform::Feature::contacts), platform::Decision::granted);

    QTest::mouseClick(page->findChild<QAbstractButton*>("permissionsClose"), Qt::LeftButton);
    EXPECT_EQ(host.settingsPage(), nullptr);
    EXPECT_EQ(hostState(), platform::ApplicationState::active);
    EXPECT_EQ(activity, (std::vector<std::string>{
                            platform::kApplicationWillResignActiveNotification,
                            platform::kApplicationDidBecomeActiveNotification}));
    ui_test::UiWorld::flushDeletes();

    // Sharing is on: the next return to the foreground asks nothing.
    window.showMinimized();
    window.showNormal();
    EXPECT_EQ(app->delegate().alert(TQAppDelegate::kFirstAlertTag), platform::kAlertNone);
}

// The Bluetooth settings link starts the desktop's panel; without one an alert says where to
// go. The phone's other settings pages have nothing here.
TEST_F(TQWindowedAppTest, TheBluetoothSettingsStartTheDesktopsPanelOrAnAlertSaysWhereToGo) {
    app->launch();
    auto& host = app->services().host();
    const auto panel = folder.path() / "bin" / "gnome-control-center";
    std::filesystem::create_directories(panel.parent_path());
    std::ofstream(panel) << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$0.args\"\n";
    std::filesystem::permissions(panel, std::filesystem::perms::owner_all);
    testing_support::ScopedEnvironment path("PATH", panel.parent_path().string());
    // Waited for, so that what the panel wrote can be read.
    host.setBluetoothSettings(platform::DesktopBluetoothSettings(
        nullptr, [](std::span<const std::string> arguments) {
            const auto child = platform::startProgram(arguments);
            return child && platform::waitForExit(*child) == 0;
        }));
    const auto alerts = [&] { return app->window().overlays(platform::ui::Layer::alert).size(); };
    const std::size_t before = alerts();

    EXPECT_TRUE(host.canOpenURL("prefs:root=Bluetooth"));
    EXPECT_TRUE(host.openURL("prefs:root=Bluetooth"));
    std::ifstream recorded(panel.string() + ".args");
    std::string argument;
    EXPECT_TRUE(std::getline(recorded, argument));
    EXPECT_EQ(argument, "bluetooth");
    EXPECT_EQ(alerts(), before);

    std::filesystem::remove(panel);
    EXPECT_FALSE(host.openURL("prefs:root=Bluetooth"));
    ASSERT_EQ(alerts(), before + 1);
    auto* alert = dynamic_cast<platform::ui::AlertView*>(
        app->window().overlays(platform::ui::Layer::alert).back());
    ASSERT_NE(alert, nullptr);
    EXPECT_NE(alert->message().find("turn Bluetooth on there, then come back"), std::string::npos);

    EXPECT_FALSE(host.canOpenURL("prefs:root=General"));
    EXPECT_FALSE(host.openURL("prefs:root=General"));
    EXPECT_EQ(host.settingsPage(), nullptr);
}

}  // namespace
