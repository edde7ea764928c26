#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "platform/host/AppHost.h"
#include "platform/telephony/Telephony.h"
#include "platform/ui/Presentation.h"
#include "screens/pairing/PairingFixture.h"
#include "screens/pairing/TQConnectingPopup.h"
#include "screens/pairing/TQDeviceListViewController.h"
#include "ui/TQPopUpviewUtils.h"

namespace screens_test {
namespace {

using Welcome = TQDeviceListViewController;

class WelcomePageTest : public PairingFixture {
protected:
    // Connect, then the 3-second scan: the offer stands.
    void offerTheNearestWatch() {
        air.powerOnAll();
        ASSERT_NE(driver.show("setupView"), nullptr);
        ASSERT_TRUE(driver.tap("connectToKavoOutlet"));
        driver.advance(Welcome::kScanSeconds);
        ASSERT_EQ(alertName(), "easyConnectAlert");
    }
};

// The nearest device in setup mode is not a watch (its name only holds the words); the
// offer names the nearest watch, accepting it connects and sets it up, and the page goes on
// to the permissions page, since permissions are left to ask.
TEST_F(WelcomePageTest, TheNearestWatchIsOfferedConnectedAndSetUp) {
    offerTheNearestWatch();
    EXPECT_EQ(driver.alert()->title(), "Connect to Kavo R5 (3C4D)?");
    EXPECT_EQ(driver.alert()->message(), "Confirm to connect via Bluetooth.");
    EXPECT_NE(driver.find("connectToKavoOutlet"), nullptr);
    EXPECT_EQ(driver.find("searchingIndicator"), nullptr);

    ASSERT_TRUE(driver.answerAlert("Connect"));
    ASSERT_TRUE(runUntilScene("TQAllowPrivacyViewController"));
    EXPECT_EQ(driver.alert(), nullptr);
    EXPECT_TRUE(air.second.isPaired());
    EXPECT_FALSE(air.first.isLinkUp());
    EXPECT_EQ(driver.defaults.string("deviceUUID"), PairingAir::kSecondWatch.toLongString());
    EXPECT_EQ(driver.defaults.string("connectedDeviceName"), PairingAir::kSecondName);
    EXPECT_EQ(driver.defaults.boolean("hiddenConditionBitSet"), true);
    EXPECT_EQ(driver.defaults.boolean("NOTI_NOTIFICATIONS_ON_OFF"), true);
    EXPECT_EQ(driver.defaults.integer("WEATHER_REFRESH_TIME"), 6);
    const auto requests = PairingAir::requests(air.second);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), "mgr_watch_info_req");
    EXPECT_NE(std::find(requests.begin(), requests.end(), "mgr_sync_init_setting_req"),
              requests.end());
}

TEST_F(WelcomePageTest, WithNoPermissionLeftToAskTheNextSetupPageFollows) {
    decideEveryPermission();
    offerTheNearestWatch();
    ASSERT_TRUE(driver.answerAlert("Connect"));
    EXPECT_TRUE(runUntilScene("termsPageid"));
}

// What the user chose before stays: a connection writes defaults only where none is stored.
TEST_F(WelcomePageTest, AConnectionKeepsTheSettingsTheUserChose) {
    driver.defaults.set("NOTI_AUTO_SHOW_DETAILS_ON_OFF", false);
    driver.defaults.set("WEATHER_REFRESH_TIME", 3);
    offerTheNearestWatch();
    ASSERT_TRUE(driver.answerAlert("Connect"));
    ASSERT_TRUE(runUntilScene("TQAllowPrivacyViewController"));
    EXPECT_EQ(driver.defaults.boolean("NOTI_AUTO_SHOW_DETAILS_ON_OFF"), false);
    EXPECT_EQ(driver.defaults.integer("WEATHER_REFRESH_TIME"), 3);
}

// How many pages the root navigation holds.
std::size_t pagesOnStack(const ScreenDriver& screens) {
    const auto* navigation =
        dynamic_cast<const platform::ui::NavigationController*>(screens.window->rootView());
    return navigation == nullptr ? 0 : navigation->pages().size();
}

TEST(WelcomePageFlowTest, DeclineSilenceOrNoWatchLeadToTheScanListOnce) {
    const struct {
        const char* name;
        bool watchesOn;
        std::optional<const char*> answer;
        double wait;
        std::size_t pages;
    } cases[] = {
        {"declined", true, "Cancel", 0, 2},
        {"ten seconds without a choice", true, std::nullopt, Welcome::kOfferSeconds, 2},
        {"accepted, then ten seconds", true, "Connect", Welcome::kOfferSeconds, 1},
        {"no watch in setup mode", false, std::nullopt, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScreenDriver screens;
        PairingAir world{screens};
        world.settleLink();
        if (c.watchesOn) {
            world.powerOn(world.stranger);
            world.powerOn(world.first);
        }
        // Connected, the watch never answers: the page waits under its pop-up.
        world.first.answer("mgr_watch_info_req",
                           [](const kavowatch::ReceivedMessage&) -> std::optional<platform::Value> {
                               return std::nullopt;
                           });
        ASSERT_NE(screens.show("setupView"), nullptr);
        ASSERT_TRUE(screens.tap("connectToKavoOutlet"));
        screens.advance(Welcome::kScanSeconds);
        if (c.answer) {
            ASSERT_TRUE(screens.answerAlert(*c.answer));
        }
        screens.advance(c.wait);
        EXPECT_EQ(pagesOnStack(screens), c.pages);
        // The offer's timer was stopped on leaving: no second segue.
        screens.advance(Welcome::kOfferSeconds);
        EXPECT_EQ(pagesOnStack(screens), c.pages);
    }
}

// A watch that connects but never answers: the connect event keeps the pop-up at the first
// look (60 s), and the next look (90 s later) finds none since and closes it.
TEST_F(WelcomePageTest, TheConnectingPopupIsLookedAtAfterSixtyThenNinetySeconds) {
    air.second.answer("mgr_watch_info_req",
                      [](const kavowatch::ReceivedMessage&) -> std::optional<platform::Value> {
                          return std::nullopt;
                      });
    offerTheNearestWatch();
    const double shownAt = driver.loop.now();
    ASSERT_TRUE(driver.answerAlert("Connect"));
    ASSERT_TRUE(air.runUntil([&] { return air.second.isPaired(); }, 10));
    const auto until = [&](double seconds) { driver.advance(shownAt + seconds - driver.loop.now()); };
    until(TQConnectingPopup::kFirstLook + 1);
    EXPECT_EQ(alertName(), "connectingPopup");
    until(TQConnectingPopup::kFirstLook + TQConnectingPopup::kNextLook - 1);
    EXPECT_EQ(alertName(), "connectingPopup");
    until(TQConnectingPopup::kFirstLook + TQConnectingPopup::kNextLook + 1);
    EXPECT_EQ(driver.alert(), nullptr);
    EXPECT_EQ(driver.topScene(), "setupView");
}

TEST_F(WelcomePageTest, AWatchThatNeverConnectsClosesThePopupAtTheFirstLook) {
    offerTheNearestWatch();
    air.second.vanish();
    ASSERT_TRUE(driver.answerAlert("Connect"));
    driver.advance(TQConnectingPopup::kFirstLook - 2);
    EXPECT_EQ(alertName(), "connectingPopup");
    driver.advance(2);
    EXPECT_EQ(driver.alert(), nullptr);
    // The scan started again.
    EXPECT_TRUE(air.manager->central().centralManager().isScanning());
}

// After coming back from the scan list the welcome page holds the link again: what the link
// reports reaches it, and it goes on.
TEST_F(WelcomePageTest, BackFromTheScanListThePageHearsTheLinkAgain) {
    offerTheNearestWatch();
    ASSERT_TRUE(driver.answerAlert("Cancel"));
    ASSERT_EQ(driver.topScene(), "deviceTablePageid");
    driver.advance(3);
    ASSERT_TRUE(platform::ui::navigationOf(*driver.top())->popPage(true));
    driver.settle();
    ASSERT_EQ(driver.topScene(), "setupView");
    ASSERT_TRUE(driver.tap("connectToKavoOutlet"));
    driver.advance(Welcome::kScanSeconds);
    ASSERT_TRUE(driver.answerAlert("Connect"));
    EXPECT_TRUE(runUntilScene("TQAllowPrivacyViewController"));
}

// Declining the offer, the scan list shows the watches the welcome page kept at once, without
// scanning first.
TEST_F(WelcomePageTest, TheScanListShowsTheKeptWatchesAtOnce) {
    offerTheNearestWatch();
    ASSERT_TRUE(driver.answerAlert("Cancel"));
    ASSERT_EQ(driver.topScene(), "deviceTablePageid");
    EXPECT_EQ(driver.find("scanning"), nullptr);
    EXPECT_NE(driver.find("selectReloadButton"), nullptr);
    auto rows = driver.rows("deviceListTable");
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"Kavo R5 (1A2B)", "Kavo R5 (3C4D)"}));
}

TEST_F(WelcomePageTest, BluetoothOffAsksToTurnItOn) {
    air.setPhoneBluetooth(false);
    ASSERT_NE(driver.show("setupView"), nullptr);
    ASSERT_TRUE(driver.tap("connectToKavoOutlet"));
    ASSERT_EQ(alertName(), "bluetoothOnOffAlert");
    EXPECT_EQ(driver.alert()->title(), "Turn on Bluetooth");
    EXPECT_EQ(driver.find("searchingIndicator"), nullptr);
    // "Settings" leaves the rest to the window's Bluetooth settings; the page stays.
    ASSERT_TRUE(driver.answerAlert("Settings"));
    EXPECT_NE(alertName(), "bluetoothOnOffAlert");
    EXPECT_EQ(driver.topScene(), "setupView");
    while (driver.alert() != nullptr && driver.alert()->buttonCount() > 0) {
        driver.alert()->button(0).click();
        driver.settle();
    }
    // Cancel only closes it.
    ASSERT_TRUE(driver.tap("connectToKavoOutlet"));
    ASSERT_TRUE(driver.answerAlert("Cancel"));
    EXPECT_EQ(driver.alert(), nullptr);
    EXPECT_EQ(driver.topScene(), "setupView");
}

// Bluetooth sharing is the application's own Bluetooth permission: refused, the page asks
// (11011); "Don't allow" tells why it is needed (11021); going to the background closes both.
TEST_F(WelcomePageTest, RefusedBluetoothSharingIsAskedForAndTheAlertsGoInTheBackground) {
    driver.defaults.set(platform::Permissions::defaultsKey(platform::Feature::bluetooth),
                        static_cast<int>(platform::Decision::denied));
    ASSERT_NE(driver.show("setupView"), nullptr);
    ASSERT_TRUE(driver.tap("connectToKavoOutlet"));
    ASSERT_EQ(alertName(), "firstAlert");
    EXPECT_EQ(driver.alert()->tag(), TQPopUpviewUtils::kBluetoothSharingRequestTag);
    ASSERT_TRUE(driver.answerAlert("Don't allow"));
    ASSERT_EQ(alertName(), "secondAlert");
    EXPECT_EQ(driver.alert()->tag(), TQPopUpviewUtils::kBluetoothSharingRequiredTag);
    driver.center.post(platform::kApplicationDidEnterBackgroundNotification);
    driver.settle();
    EXPECT_EQ(driver.alert(), nullptr);

    ASSERT_TRUE(driver.tap("connectToKavoOutlet"));
    ASSERT_EQ(alertName(), "firstAlert");
    driver.center.post(platform::kApplicationDidEnterBackgroundNotification);
    driver.settle();
    EXPECT_EQ(driver.alert(), nullptr);
    driver.center.post(platform::kApplicationWillEnterForegroundNotification);
    driver.settle();
    EXPECT_EQ(driver.alert(), nullptr);
}

TEST_F(WelcomePageTest, AKnownUnsupportedPhoneIsRefusedButThisComputerIsNot) {
    ASSERT_NE(driver.show("setupView"), nullptr);
    EXPECT_EQ(driver.alert(), nullptr);

    air.device.setMachineIdentifier("iPhone3,1");
    ASSERT_NE(driver.show("setupView"), nullptr);
    ASSERT_EQ(alertName(), "unSupportedDeviceAlert");
    EXPECT_EQ(driver.alert()->message(),
              "Unable to open the Quorvel Kavo R5 Lite app. Your iPhone 4 does not support it.");
    ASSERT_TRUE(driver.answerAlert("OK"));
    ASSERT_TRUE(driver.tap("connectToKavoOutlet"));
    EXPECT_EQ(alertName(), "unSupportedDeviceAlert");
}

TEST_F(WelcomePageTest, LearnMoreOpensTheStorePageWithTheCarriersCountry) {
    ASSERT_NE(driver.show("setupView"), nullptr);
    ASSERT_TRUE(driver.tap("LearnMoreBtnOutlet"));
    platform::FixedTelephony telephony{platform::Carrier{"262", "01"}};
    platform::ScopedInstall<platform::Telephony> install{&telephony};
    driver.defaults.set("kavo.store.webHost", "127.0.0.1:8080");
    ASSERT_TRUE(driver.tap("LearnMoreBtnOutlet"));
    EXPECT_EQ(driver.host.openedURLs,
              (std::vector<std::string>{"http://www.kavoapps.com/main/learnMore.as",
                                        "http://127.0.0.1:8080/main/learnMore.as?mcc=262"}));
}

}  // namespace
}  // namespace screens_test
