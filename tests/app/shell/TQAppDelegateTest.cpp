#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ShellWorld.h"
#include "platform/ui/Appearance.h"
#include "ui/TQCustomNavigationViewController.h"
#include "utils/TQKeyChainWrapper.h"

namespace {

using shell_test::RecordingPage;
using shell_test::ShellWorld;

class TQAppDelegateTest : public ::testing::Test {
protected:
    // A launch after the set-up, with the home screen's navigation as the main one.
    TQAppDelegate& launchedHome() {
        world.defaults.set("isCompletedSetupWizard", true);
        delegate->didFinishLaunching();
        home = dynamic_cast<TQCustomNavigationViewController*>(world.window->rootView());
        delegate->setNavigationController(home);
        return *delegate;
    }
    [[nodiscard]] RecordingPage* top() const {
        return home != nullptr ? dynamic_cast<RecordingPage*>(home->topPage()) : nullptr;
    }
    [[nodiscard]] std::size_t depth() const { return home != nullptr ? home->pages().size() : 0; }

    ShellWorld world;
    std::unique_ptr<TQAppDelegate> delegate = world.makeDelegate();
    TQCustomNavigationViewController* home = nullptr;
};

TEST_F(TQAppDelegateTest, TheFirstScreenAndItsWrapperFollowTheSetUpAndAFirstLaunchDropsTheToken) {
    struct Case {
        bool setupCompleted;
        const char* rootClass;
        bool wrapped;
        bool tokenKept;
    };
    // The set-up scene is a stack of pages too, so its first page is wrapped as well.
    for (const Case& c : {Case{false, "TQSetupViewController", true, false},
                          Case{true, "TQViewController", true, true}}) {
        SCOPED_TRACE(c.rootClass);
        ShellWorld world;
        ASSERT_TRUE(TQKeyChainWrapper::createKeychainValue("token", "hasAccessToken"));
        world.defaults.set("isCompletedSetupWizard", c.setupCompleted);
        auto delegate = world.makeDelegate();
        EXPECT_TRUE(delegate->didFinishLaunching());

        auto* navigation =
            dynamic_cast<TQCustomNavigationViewController*>(world.window->rootView());
        EXPECT_EQ(navigation != nullptr, c.wrapped);
        auto* page = navigation != nullptr
                         ? navigation->topPage()
                         : dynamic_cast<platform::ui::Page*>(world.window->rootView());
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->className(), c.rootClass);
        // Shown, whether as the root itself or inside the navigation.
        EXPECT_EQ(dynamic_cast<RecordingPage&>(*page).loads, 1);
        EXPECT_EQ(dynamic_cast<RecordingPage&>(*page).appearances, 1);
        EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("hasAccessToken")
                      .has_value(),
                  c.tokenKept);
        EXPECT_TRUE(world.window->isVisible());
        EXPECT_TRUE(world.window->isKey());
        // Until a screen sets it there is no main navigation.
        EXPECT_EQ(delegate->navigationController(), nullptr);
    }
}

TEST_F(TQAppDelegateTest, TheLaunchRunsInOrderWithTheConnectionFlagClearedBeforeTheCoreManager) {
    world.defaults.set("isWMSConnected", 1);
    world.defaults.set("oobe_is_completed", true);
    world.coreManagerComes = false;
    delegate->didFinishLaunching({"other", TQAppDelegate::kPeripheralRestoreIdentifier});

    ASSERT_TRUE(world.connectedWhenCoreManagerMade.has_value());
    EXPECT_EQ(world.connectedWhenCoreManagerMade->intValue(), 0);
    EXPECT_EQ(world.steps, (std::vector<std::string>{"loggers", "coreManager", "crashHandlers",
                                                     "push", "loadingView", "appLaunch",
                                                     "updateCheck"}));
    // A core manager that did not come is only logged.
    EXPECT_TRUE(world.logs->contains("Failed to create TQCoreManager singleton object"));
    EXPECT_TRUE(world.logs->contains("APP_DELEGATE: will restore"));
    // The bars made from now on wear the application's colours.
    const auto& bar = platform::ui::Appearance::current().navigationBar;
    EXPECT_EQ(bar.barTintColor, (platform::ui::Color{249 / 255.0, 168 / 255.0, 37 / 255.0, 1}));
    EXPECT_EQ(bar.titleColor, (platform::ui::Color{1, 1, 1, 1}));
    EXPECT_EQ(platform::ui::NavigationBar().backgroundColor(), bar.barTintColor);
    delegate.reset();
    EXPECT_FALSE(platform::ui::Appearance::current().navigationBar.titleColor.has_value())
        << "the look goes with the delegate";
}

TEST_F(TQAppDelegateTest, URLsOpenTheStoreOnlyInTheirKnownForms) {
    struct Case {
        const char* url;
        bool answer;
        bool pushes;
        std::optional<std::string> appID;
        std::optional<std::string> referID;
    };
    const Case cases[] = {
        {"quorvelapps://ProductDetail/12345", false, true, "12345", std::nullopt},
        {"quorvelapps://Product_detail/77", false, true, "77", std::nullopt},
        {"QuorvelApps://ProductDetail/9", false, true, "9", std::nullopt},
        {"quorvelapps://Product_detail", false, false, std::nullopt, std::nullopt},
        {"quorvelapps://ProductDetail/", false, false, std::nullopt, std::nullopt},
        {"quorvelapps://MainCategoryList", false, true, std::nullopt, std::nullopt},
        {"quorvelapps://Elsewhere/1", false, false, std::nullopt, std::nullopt},
        {"kavo://Details?appID=1&referID=2", true, true, "1", "2"},
        {"kavo://Details?appID=1", true, true, "", ""},
        {"https://example.com/other?appID=1&referID=2", false, false, std::nullopt, std::nullopt},
        {"Details appID=1&referID=2", false, false, std::nullopt, std::nullopt},
        {"", false, false, std::nullopt, std::nullopt},
    };
    launchedHome();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const std::size_t before = depth();
        EXPECT_EQ(delegate->handleOpenURL(c.url), c.answer);
        ASSERT_EQ(depth(), before + (c.pushes ? 1 : 0));
        if (c.pushes) {
            ASSERT_NE(top(), nullptr);
            EXPECT_EQ(top()->className(), TQAppDelegate::kStoreScene);
            EXPECT_EQ(top()->appID, c.appID);
            EXPECT_EQ(top()->referID, c.referID);
        }
    }
    EXPECT_TRUE(world.logs->contains("store link incomplete: no application identifier...!"));
}

TEST_F(TQAppDelegateTest, AStoreURLBeforeAnyScreenSetTheMainNavigationShowsNothing) {
    world.defaults.set("isCompletedSetupWizard", true);
    delegate->didFinishLaunching();
    auto* root = dynamic_cast<TQCustomNavigationViewController*>(world.window->rootView());
    ASSERT_NE(root, nullptr);
    EXPECT_FALSE(delegate->handleOpenURL("quorvelapps://ProductDetail/12345"));
    EXPECT_TRUE(delegate->handleOpenURL("kavo://Details?appID=1&referID=2"));
    EXPECT_EQ(root->pages().size(), 1u);
}

TEST_F(TQAppDelegateTest, NotificationActionsNeverStackASecondCopyOfTheScreenOnTop) {
    launchedHome();
    const auto action = [](const char* name) {
        return platform::Dictionary{{"actionToHandle", name}};
    };
    delegate->didReceiveLocalNotification(action("buddyAction"));
    ASSERT_EQ(depth(), 2u);
    EXPECT_EQ(top()->className(), TQAppDelegate::kBuddyListScene);
    delegate->didReceiveLocalNotification(action("buddyAction"));
    EXPECT_EQ(depth(), 2u) << "the buddy list was already on top";
    delegate->didReceiveLocalNotification(action("weatherAction"));
    delegate->didReceiveLocalNotification(action("weatherAction"));
    EXPECT_EQ(depth(), 3u);
    EXPECT_EQ(top()->className(), TQAppDelegate::kWeatherScene);
    delegate->didReceiveLocalNotification(action("numberSyncAction"));
    delegate->didReceiveLocalNotification(action("unknownAction"));
    delegate->didReceiveLocalNotification({});
    EXPECT_EQ(depth(), 3u);
    EXPECT_TRUE(world.logs->contains("TQAppDelegate: NUMBER_SYNC_ACTION"));
    EXPECT_TRUE(world.host.openedURLs.empty());
}

TEST_F(TQAppDelegateTest, NotificationLinksOpenAfterTheCallbackAndNotOverAnAlertOrTheStore) {
    launchedHome();
    struct Case {
        const char* name;
        platform::Dictionary userInfo;
        bool alertInFront;
        bool storeOnTop;
        std::vector<std::string> opened;
    };
    const platform::Dictionary web{{"actionToHandle", "kavoAppsWeb"},
                                   {"KavoAppsURILink", "https://apps.example/1"}};
    const Case cases[] = {
        {"store link", web, false, false, {"https://apps.example/1"}},
        {"store link under an alert", web, true, false, {}},
        {"store link while the store shows", web, false, true, {}},
        {"web search", {{"msgId", "context-websearch-req"}, {"url", "https://example.com/?q=a"}},
         false, false, {"https://example.com/?q=a"}},
        {"web search that is no web link",
         {{"msgId", "context-websearch-req"}, {"url", "file:///etc/passwd"}}, false, false, {}},
        {"another message", {{"msgId", "other-req"}, {"url", "https://example.com"}}, false, false,
         {}},
        {"Bluetooth settings", {{"actionToHandle", "hfpAction"}}, false, false,
         {TQAppDelegate::kBluetoothSettingsURL}},
    };
    world.host.openableSchemes.insert("prefs");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        world.host.openedURLs.clear();
        home->popToRoot(false);
        if (c.storeOnTop) {
            home->pushPage(std::make_unique<RecordingPage>(TQAppDelegate::kStoreScene), false);
        }
        auto* alert = c.alertInFront ? new platform::ui::AlertView("", "", {"ok"}) : nullptr;
        if (alert != nullptr) {
            world.window->addOverlay(alert, platform::ui::Layer::alert);
        }
        delegate->didReceiveLocalNotification(c.userInfo);
        EXPECT_TRUE(world.host.openedURLs.empty()) << "opened within the callback";
        world.loop.runUntilIdle();
        EXPECT_EQ(world.host.openedURLs, c.opened);
        delete alert;
    }

    // A desktop without the phone's Bluetooth settings is told nothing it cannot open.
    world.host.openedURLs.clear();
    world.host.openableSchemes.erase("prefs");
    delegate->didReceiveLocalNotification({{"actionToHandle", "hfpAction"}});
    world.loop.runUntilIdle();
    EXPECT_TRUE(world.host.openedURLs.empty());
    EXPECT_TRUE(world.logs->contains("has no settings page prefs:root=Bluetooth"));
}

TEST_F(TQAppDelegateTest, AFetchCompletesOnceAndTheLateStopOnlyLogs) {
    delegate->didFinishLaunching();
    std::vector<TQAppDelegate::FetchResult> results;
    world.steps.clear();
    delegate->performFetch([&results](TQAppDelegate::FetchResult result) {
        results.push_back(result);
    });
    world.loop.advance(TQAppDelegate::kFetchStopDelay + 1);
    EXPECT_EQ(results, std::vector{TQAppDelegate::FetchResult::newData});
    EXPECT_EQ(world.steps, std::vector<std::string>{"calendarDelta"});
    EXPECT_TRUE(world.logs->contains("[STOP BACKGROUND FETCH]"));

    // The program's own timer fetches while it runs.
    world.steps.clear();
    world.loop.advance(TQAppDelegate::kFetchInterval);
    EXPECT_EQ(world.steps, std::vector<std::string>{"calendarDelta"});

    std::vector<TQAppDelegate::FetchResult> silent;
    delegate->didReceiveRemoteNotification(
        platform::Value(platform::Dictionary{{"aps", platform::Dictionary{}}}),
        [&silent](TQAppDelegate::FetchResult result) { silent.push_back(result); });
    world.loop.advance(60);
    EXPECT_EQ(silent, std::vector{TQAppDelegate::FetchResult::newData});
}

TEST_F(TQAppDelegateTest, TheSharingAlertsRepeatOnEachForegroundAndGoInTheBackground) {
    world.sharingAuthorized = false;
    world.defaults.set("oobe_is_completed", true);
    world.defaults.set("hiddenConditionBitSet", true);
    delegate->didFinishLaunching();
    EXPECT_TRUE(world.host.alerts.empty()) << "the launch asks nothing";

    world.steps.clear();
    delegate->willEnterForeground();
    EXPECT_EQ(world.steps, (std::vector<std::string>{"push", "appLaunch", "updateCheck"}));
    ASSERT_EQ(world.host.alertsShowing(), 2u);
    const auto& first = world.host.alerts.back().alert;
    EXPECT_EQ(first.message,
              "Quorvel Kavo R5 Lite is requesting permission to turn on Bluetooth sharing. This "
              "will allow the watch to connect to your phone.");
    EXPECT_EQ(first.buttons, (std::vector<std::string>{"Don't allow", "Settings"}));
    EXPECT_NE(delegate->alert(TQAppDelegate::kFirstAlertTag), platform::kAlertNone);

    // Going to the background takes every alert away.
    delegate->didEnterBackground();
    EXPECT_EQ(world.host.alertsShowing(), 0u);
    EXPECT_EQ(delegate->alert(TQAppDelegate::kFirstAlertTag), platform::kAlertNone);

    // Back in front, it asks again; "Don't allow" leads to the second alert.
    delegate->willEnterForeground();
    world.host.pressAlertButton(world.host.alerts.size() - 1, 0);
    EXPECT_EQ(delegate->alert(TQAppDelegate::kFirstAlertTag), platform::kAlertNone);
    ASSERT_NE(delegate->alert(TQAppDelegate::kSecondAlertTag), platform::kAlertNone);
    EXPECT_EQ(world.host.alerts.back().alert.buttons, std::vector<std::string>{"OK"});
    world.host.pressAlertButton(world.host.alerts.size() - 1, 0);
    EXPECT_EQ(delegate->alert(TQAppDelegate::kSecondAlertTag), platform::kAlertNone);

    // "Settings" opens the settings page where the desktop has one, and only then.
    delegate->didEnterBackground();
    delegate->willEnterForeground();
    world.host.pressAlertButton(world.host.alerts.size() - 1, 1);
    EXPECT_TRUE(world.host.openedURLs.empty());
    EXPECT_TRUE(world.logs->contains("has no settings page app-settings:"));
    world.host.openableSchemes.insert("app-settings");
    delegate->didEnterBackground();
    delegate->willEnterForeground();
    world.host.pressAlertButton(world.host.alerts.size() - 1, 1);
    EXPECT_EQ(world.host.openedURLs, std::vector<std::string>{TQAppDelegate::kSettingsURL});
}

TEST_F(TQAppDelegateTest, ANewRootIsWrappedKeyAndVisibleAndTheOldPageHearsNothingMore) {
    delegate->didFinishLaunching();
    auto* setup = dynamic_cast<TQCustomNavigationViewController*>(world.window->rootView());
    ASSERT_NE(setup, nullptr);
    platform::ui::Page* old = setup->topPage();
    ASSERT_NE(old, nullptr);
    int heard = 0;
    world.center.addObserver("one", [&heard](const platform::Notification&) { ++heard; }, old);
    world.center.addObserver("two", [&heard](const platform::Notification&) { ++heard; }, old);
    int kept = 0;
    world.center.addObserver("one", [&kept](const platform::Notification&) { ++kept; }, &kept);
    world.window->hide();
    world.window->setKey(false);

    delegate->changeRootViewController(std::make_unique<RecordingPage>("TQViewController"), old);
    world.center.post("one");
    world.center.post("two");
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(kept, 1);
    auto* root = dynamic_cast<TQCustomNavigationViewController*>(world.window->rootView());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->topPage()->className(), "TQViewController");
    EXPECT_TRUE(world.window->isVisible());
    EXPECT_TRUE(world.window->isKey());
}

}  // namespace
