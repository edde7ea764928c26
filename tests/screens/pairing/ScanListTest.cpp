#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/DataTable.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/Table.h"
#include "screens/pairing/PairingFixture.h"
#include "screens/pairing/TQDeviceTableViewController.h"

namespace screens_test {
namespace {

using ScanList = TQDeviceTableViewController;

class ScanListTest : public PairingFixture {
protected:
    std::vector<std::string> sortedRows() const {
        auto rows = driver.rows("deviceListTable");
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    // How many pages are presented over the top of the root navigation.
    [[nodiscard]] int presented() const {
        int count = 0;
        const auto* navigation =
            dynamic_cast<const platform::ui::NavigationController*>(driver.window->rootView());
        for (const platform::ui::Page* page = navigation ? navigation->topPage() : nullptr;
             page != nullptr && (page = platform::ui::presentedPage(*page)) != nullptr;) {
            ++count;
        }
        return count;
    }
};

// Two watches and a device whose name only holds the watch's words: the list holds the two
// watches, each under its shown name, and keeps following the scan.
TEST_F(ScanListTest, OnlyTheWatchesAreListed) {
    air.powerOnAll();
    ASSERT_NE(driver.show("deviceTablePageid"), nullptr);
    EXPECT_NE(driver.find("scanning"), nullptr);
    driver.advance(ScanList::kScanSeconds);
    EXPECT_EQ(sortedRows(), (std::vector<std::string>{"Kavo R5 (1A2B)", "Kavo R5 (3C4D)"}));
    EXPECT_EQ(driver.find("scanning"), nullptr);
    EXPECT_NE(driver.find("selectReloadButton"), nullptr);
    EXPECT_EQ(presented(), 0);
}

// A row made again for another watch shows that watch's name, never the one before.
TEST_F(ScanListTest, ARowShowsItsOwnWatchAfterTheListChanges) {
    air.powerOn(air.first);
    ASSERT_NE(driver.show("deviceTablePageid"), nullptr);
    driver.advance(ScanList::kScanSeconds);
    ASSERT_EQ(driver.rows("deviceListTable"), std::vector<std::string>{"Kavo R5 (1A2B)"});
    air.first.vanish();
    air.powerOn(air.second);
    driver.settle();
    ASSERT_TRUE(driver.tap("selectReloadButton"));
    driver.advance(ScanList::kScanSeconds);
    EXPECT_EQ(driver.rows("deviceListTable"), std::vector<std::string>{"Kavo R5 (3C4D)"});
}

// The header lines up with the rows' names, and a pressed row shows the page's pale orange
// over its own ground rather than the system's grey.
TEST_F(ScanListTest, TheHeaderLinesUpWithTheRowsAndAPressedRowIsPaleOrange) {
    air.powerOn(air.first);
    ASSERT_NE(driver.show("deviceTablePageid"), nullptr);
    driver.advance(ScanList::kScanSeconds);
    auto* table = driver.find<platform::ui::DataTableView>("deviceListTable");
    auto* header = driver.find<QWidget>("selectYourKavoLabel");
    ASSERT_NE(table, nullptr);
    ASSERT_NE(header, nullptr);
    platform::ui::TableCell* cell = table->cell({0, 0});
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(header->mapToGlobal(QPoint(0, 0)).x(),
              cell->textLabel().mapToGlobal(QPoint(0, 0)).x());
    QTest::mousePress(cell, Qt::LeftButton, {}, QPoint(cell->width() - 4, 4));
    EXPECT_EQ(cell->grab().toImage().pixelColor(cell->width() - 4, 4), QColor(255, 224, 178));
}

// Nothing found: the help page comes, and only once however often the list is found empty.
TEST_F(ScanListTest, AnEmptyScanPresentsTheHelpPageOnce) {
    ASSERT_NE(driver.show("deviceTablePageid"), nullptr);
    driver.advance(ScanList::kScanSeconds);
    EXPECT_EQ(driver.topScene(), "TQKavoUpdateViewController");
    EXPECT_EQ(presented(), 1);
    air.setPhoneBluetooth(false);
    driver.settle();
    EXPECT_EQ(presented(), 1);
}

// The help page's "scan again" brings the list back, which scans again and lists what came
// near meanwhile.
TEST_F(ScanListTest, ScanAgainOnTheHelpPageScansAgainAndListsWhatCameNear) {
    ASSERT_NE(driver.show("deviceTablePageid"), nullptr);
    driver.advance(ScanList::kScanSeconds);
    ASSERT_EQ(driver.topScene(), "TQKavoUpdateViewController");
    air.powerOn(air.first);
    ASSERT_TRUE(driver.tap("scanAgainOutlet"));
    EXPECT_EQ(driver.topScene(), "deviceTablePageid");
    EXPECT_NE(driver.find("scanning"), nullptr);
    driver.advance(ScanList::kScanSeconds);
    EXPECT_EQ(driver.rows("deviceListTable"), std::vector<std::string>{"Kavo R5 (1A2B)"});
    EXPECT_EQ(presented(), 0);
}

TEST_F(ScanListTest, TurningBluetoothOffEmptiesTheListAndShowsTheHelpPage) {
    air.powerOnAll();
    ASSERT_NE(driver.show("deviceTablePageid"), nullptr);
    driver.advance(ScanList::kScanSeconds);
    ASSERT_EQ(driver.rows("deviceListTable").size(), 2U);
    air.setPhoneBluetooth(false);
    driver.settle();
    EXPECT_EQ(presented(), 1);
    EXPECT_EQ(driver.topScene(), "TQKavoUpdateViewController");
}

// Bluetooth goes off while a watch connects: the help page comes, and the connecting pop-up,
// which has no button, goes with the list rather than stand over the help page.
TEST_F(ScanListTest, BluetoothOffWhileConnectingLeavesNoPopupOverTheHelpPage) {
    air.first.answer("mgr_watch_info_req",
                     [](const kavowatch::ReceivedMessage&) -> std::optional<platform::Value> {
                         return std::nullopt;
                     });
    air.powerOn(air.first);
    ASSERT_NE(driver.show("deviceTablePageid"), nullptr);
    driver.advance(ScanList::kScanSeconds);
    auto* table = driver.find<platform::ui::DataTableView>("deviceListTable");
    ASSERT_NE(table, nullptr);
    QTest::mouseClick(table->cell({0, 0}), Qt::LeftButton);
    driver.settle();
    ASSERT_EQ(alertName(), "connectingPopup");
    air.setPhoneBluetooth(false);
    driver.settle();
    EXPECT_EQ(driver.topScene(), "TQKavoUpdateViewController");
    EXPECT_EQ(driver.alert(), nullptr);
}

// A tap connects that watch; once its settings are synchronised the page goes to the
// permissions page, or with none left to ask to the consent page.
TEST_F(ScanListTest, ATapConnectsTheWatchAndRoutesByTheSyncResult) {
    for (const bool decided : {false, true}) {
        SCOPED_TRACE(decided ? "no permission left to ask" : "permissions left to ask");
        ScreenDriver screens;
        PairingAir world{screens};
        world.settleLink();
        if (decided) {
            for (const platform::Feature feature :
                 {platform::Feature::contacts, platform::Feature::calendars}) {
                screens.defaults.set(platform::Permissions::defaultsKey(feature),
                                     static_cast<int>(platform::Decision::denied));
            }
        }
        world.powerOnAll();
        ASSERT_NE(screens.show("deviceTablePageid"), nullptr);
        screens.advance(ScanList::kScanSeconds);
        const auto rows = screens.rows("deviceListTable");
        const auto first = std::find(rows.begin(), rows.end(), "Kavo R5 (1A2B)");
        ASSERT_NE(first, rows.end());
        auto* table = screens.find<platform::ui::DataTableView>("deviceListTable");
        ASSERT_NE(table, nullptr);
        auto* cell = table->cell({0, static_cast<std::size_t>(first - rows.begin())});
        ASSERT_NE(cell, nullptr);
        QTest::mouseClick(cell, Qt::LeftButton);
        screens.settle();
        EXPECT_TRUE(world.runUntil(
            [&] {
                return screens.topScene() ==
                       (decided ? "termsPageid" : "TQAllowPrivacyViewController");
            },
            60));
        EXPECT_TRUE(world.first.isPaired());
        EXPECT_FALSE(world.second.isLinkUp());
        EXPECT_EQ(screens.defaults.string("deviceUUID"), PairingAir::kFirstWatch.toLongString());
        EXPECT_EQ(screens.defaults.boolean("hiddenConditionBitSet"), false);
        EXPECT_EQ(screens.alert(), nullptr);
    }
}

}  // namespace
}  // namespace screens_test
