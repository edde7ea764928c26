#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/ui/Presentation.h"
#include "screens/pairing/PairingFixture.h"
#include "screens/pairing/TQConnectingKavoViewController.h"
#include "screens/pairing/TQDeviceTableViewController.h"

namespace screens_test {
namespace {

using platform::bluetooth::Uuid;

class ConnectingPageTest : public PairingFixture {
protected:
    // The scan list, filled, with the connecting page opened over it for the watch given
    // (none: the page chooses); beforeOpening runs just before the page is made.
    void openFor(std::optional<Uuid> watch, const std::function<void()>& beforeOpening = {}) {
        air.powerOnAll();
        ASSERT_NE(driver.show("deviceTablePageid"), nullptr);
        driver.advance(TQDeviceTableViewController::kScanSeconds);
        ASSERT_EQ(driver.rows("deviceListTable").size(), 2U);
        if (beforeOpening) {
            beforeOpening();
        }
        auto page = driver.storyboard->instantiate(TQConnectingKavoViewController::kClassName);
        ASSERT_NE(page, nullptr);
        if (watch) {
            static_cast<TQConnectingKavoViewController&>(*page).setSelectedKavo(*watch);
        }
        platform::ui::navigationOf(*driver.top())->pushPage(std::move(page), true);
        driver.settle();
    }

    // The watch connects and then never answers: the page waits.
    static void silence(kavowatch::Watch& watch) {
        watch.answer("mgr_watch_info_req",
                     [](const kavowatch::ReceivedMessage&) -> std::optional<platform::Value> {
                         return std::nullopt;
                     });
    }
};

// Given the first watch (not the nearest), the page connects that one, writes the
// notification and block-list defaults only, and goes on to the consent page for a new watch.
TEST_F(ConnectingPageTest, TheGivenWatchIsConnectedAndANewWatchGoesToTheConsentPage) {
    openFor(PairingAir::kFirstWatch);
    ASSERT_TRUE(runUntilScene("termsPageid"));
    EXPECT_TRUE(air.first.isPaired());
    EXPECT_FALSE(air.second.isLinkUp());
    EXPECT_EQ(driver.defaults.boolean("NOTI_NOTIFICATIONS_ON_OFF"), true);
    EXPECT_EQ(driver.defaults.object("WEATHER_REFRESH_TIME"), std::nullopt);
    EXPECT_EQ(driver.defaults.object("deviceUUID"), std::nullopt);
}

TEST_F(ConnectingPageTest, WithoutAChosenWatchTheFirstKeptWatchIsConnected) {
    openFor(std::nullopt);
    ASSERT_FALSE(air.ap->scannedDeviceNames().empty());
    const Uuid kept = air.ap->scannedDeviceNames().front()->identifier();
    ASSERT_TRUE(runUntilScene("termsPageid"));
    EXPECT_TRUE((kept == PairingAir::kFirstWatch ? air.first : air.second).isPaired());
}

// A device that is no watch at the head of the kept list is passed over for the first watch.
TEST_F(ConnectingPageTest, WithoutAChosenWatchOnlyAWatchIsConnected) {
    openFor(std::nullopt, [&] {
        const Uuid stranger[] = {PairingAir::kStranger};
        const auto found = air.ap->getConnectedPeripherals(stranger);
        ASSERT_EQ(found.size(), 1U);
        auto& kept = air.ap->scannedDeviceNames();
        kept.insert(kept.begin(), found.front());
    });
    const Uuid watch = air.ap->scannedDeviceNames().at(1)->identifier();
    ASSERT_TRUE(runUntilScene("termsPageid"));
    EXPECT_TRUE((watch == PairingAir::kFirstWatch ? air.first : air.second).isPaired());
    EXPECT_FALSE(air.stranger.isLinkUp());
}

// The link drops: the page offers to try again, and "OK" connects the same watch anew.
TEST_F(ConnectingPageTest, ADropOffersToTryAgain) {
    silence(air.first);
    openFor(PairingAir::kFirstWatch);
    ASSERT_TRUE(air.runUntil([&] { return air.first.isPaired(); }, 10));
    air.first.vanish();
    ASSERT_TRUE(air.runUntil([&] { return alertName() == "connectionFailedPopUp"; }, 30));
    EXPECT_EQ(driver.alert()->title(), "No connection");
    EXPECT_EQ(driver.alert()->message(), "Tap OK to try again.");
    air.powerOn(air.first);
    ASSERT_TRUE(driver.answerAlert("OK"));
    EXPECT_TRUE(air.runUntil([&] { return air.first.isPaired(); }, 20));
    EXPECT_EQ(driver.topScene(), TQConnectingKavoViewController::kClassName);
}

// Cancel unwinds to the scan list at once and asks the watch to drop the link; the scan list
// then hears the link again.
TEST_F(ConnectingPageTest, CancelUnwindsAndDisconnects) {
    silence(air.first);
    openFor(PairingAir::kFirstWatch);
    ASSERT_TRUE(air.runUntil([&] { return air.first.isPaired(); }, 10));
    ASSERT_TRUE(driver.tap("cancelButton"));
    EXPECT_EQ(driver.topScene(), "deviceTablePageid");
    EXPECT_TRUE(air.runUntil([&] { return air.first.counters().disconnectRequests == 1; }, 10));
    // Back on the scan list, the list holds the link again: Bluetooth turned off reaches it.
    air.setPhoneBluetooth(false);
    EXPECT_TRUE(runUntilScene("TQKavoUpdateViewController", 5));
}

}  // namespace
}  // namespace screens_test
