// The scan screen, the watch information page, the firmware-update page and the no-watch help
// page, driven as a person would on the offscreen platform, with simulated watches on the air.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "link/TQAP.h"
#include "platform/foundation/Value.h"
#include "platform/host/AppHost.h"
#include "platform/host/BluetoothSettings.h"
#include "platform/ui/Controls.h"
#include "platform/ui/LinkLabel.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Table.h"
#include "screens/pairing/TQKavoUpdateViewController.h"
#include "screens/pairing/TQScanScreenViewController.h"
#include "screens/support/ScreenDriver.h"
#include "screens/support/PairingAir.h"
#include "ui/TQStoryboard.h"
#include "ui/TQWindowHost.h"

namespace {

using platform::Value;
using platform::ui::Page;
using screens_test::ScreenDriver;
using screens_test::PairingAir;

constexpr const char* kScanScreen = "TQScanScreenViewController";
constexpr const char* kHelpPage = "TQKavoUpdateViewController";
constexpr const char* kFirmwarePage = "TQHiddenConditionPageViewController";

// Moves the virtual clock in small steps until done holds; whether it did within timeout.
bool until(ScreenDriver& driver, const std::function<bool()>& done, double timeout = 20) {
    for (double waited = 0; waited < timeout && !done(); waited += 0.1) {
        driver.advance(0.1);
    }
    return done();
}

// A person's tap on the row of the table.
bool tapRow(ScreenDriver& driver, std::string_view table, std::size_t row) {
    auto* list = driver.find<platform::ui::TableView>(table);
    platform::ui::TableCell* cell = list != nullptr ? list->cell(0, row) : nullptr;
    if (cell == nullptr) {
        return false;
    }
    QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
    driver.settle();
    return true;
}

// A tap on the first point of the label inside (or, with inside false, outside) its run.
bool tapLinkRun(ScreenDriver& driver, platform::ui::LinkLabel& label, std::size_t run,
                bool inside = true) {
    for (int y = 1; y < label.height(); y += 2) {
        for (int x = 1; x < label.width(); x += 2) {
            const auto character = label.characterIndexAt({double(x), double(y)});
            if (!character) {
                continue;
            }
            if ((label.runAt(*character) == run) == inside) {
                QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(x, y));
                driver.settle();
                return true;
            }
        }
    }
    return false;
}

// Whether a label in the window shows exactly this text.
bool windowShows(ScreenDriver& driver, const std::string& text) {
    for (const auto* label : driver.window->findChildren<platform::ui::Label*>()) {
        if (label->isVisible() && label->text() == text) {
            return true;
        }
    }
    return false;
}

Value discovered(std::vector<std::pair<std::string, Value>> devices) {
    platform::Array list;
    for (auto& [identifier, name] : devices) {
        Value entry{{"identifier", identifier}};
        if (!name.isNull()) {
            entry["name"] = name;
        }
        list.push_back(std::move(entry));
    }
    return list;
}

// ---- The scan screen ----

TEST(ScanScreenTest, ListsEveryReportedDeviceByNameAndOneWithoutAName) {
    ScreenDriver driver;
    ASSERT_NE(driver.show(kScanScreen), nullptr);
    EXPECT_TRUE(driver.rows("kavoListTable").empty());
    driver.linkEvent("onDiscoverDevicesNotification",
                     discovered({{"A", Value("Kavo R5 (1A2B)")},
                                 {"B", Value("")},
                                 {"C", Value("Bedroom lamp")},
                                 {"D", Value()}}));
    EXPECT_EQ(driver.rows("kavoListTable"),
              (std::vector<std::string>{"Kavo R5 (1A2B)", "Unknown Device", "Bedroom lamp",
                                        "Unknown Device"}));
    auto* list = driver.find<platform::ui::TableView>("kavoListTable");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->cell(0, 0)->rowHeight(), 44);

    // Another name for the notification, or no list at all, changes nothing.
    driver.linkEvent("onDiscoverDevicesNotification", Value());
    EXPECT_EQ(driver.rows("kavoListTable").size(), 4U);
    // A tap on a device the link does not know connects nothing and stays.
    EXPECT_TRUE(tapRow(driver, "kavoListTable", 0));
    EXPECT_EQ(driver.topScene(), kScanScreen);
}

TEST(ScanScreenTest, ScansTheWatchesInReachConnectsTheTappedOneAndGoesHome) {
    ScreenDriver driver;
    PairingAir air(driver);
    air.settleLink();
    air.powerOnAll();
    ASSERT_NE(driver.show(kScanScreen), nullptr);

    auto* scan = driver.find<platform::ui::Button>("scanButton");
    ASSERT_NE(scan, nullptr);
    QTest::mouseClick(scan, Qt::LeftButton);
    driver.advance(0.05);
    EXPECT_EQ(scan->state(), platform::ui::Button::State::selected) << "selected on touch down";
    driver.advance(0.1);
    EXPECT_NE(scan->state(), platform::ui::Button::State::selected) << "deselected 0.1 s later";

    ASSERT_TRUE(until(driver, [&] { return driver.rows("kavoListTable").size() == 2; }));
    auto rows = driver.rows("kavoListTable");
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{PairingAir::kFirstName, PairingAir::kSecondName}))
        << "the link lists watches only";

    const std::size_t row = driver.rows("kavoListTable")[0] == PairingAir::kSecondName ? 0 : 1;
    ASSERT_TRUE(tapRow(driver, "kavoListTable", row));
    ASSERT_TRUE(until(driver, [&] { return driver.topScene() == "homePageid"; }, 30));
    EXPECT_TRUE(air.second.isPaired());
    EXPECT_FALSE(air.first.isPaired());
    EXPECT_EQ(driver.defaults.string("deviceUUID"), PairingAir::kSecondWatch.toLongString());
    EXPECT_EQ(driver.top()->title(), PairingAir::kSecondName)
        << "the home page is titled with the watch";
}

TEST(ScanScreenTest, AwayFromTheScreenItsListStaysAndErrorsOfEveryCodeReachTheBanner) {
    ScreenDriver driver;
    auto* page = dynamic_cast<TQScanScreenViewController*>(driver.show(kScanScreen));
    ASSERT_NE(page, nullptr);
    driver.linkEvent("onErrorNotification",
                     Value{{"errorCode", 7}, {"errorDescription", "The watch went away"}});
    EXPECT_TRUE(until(driver, [&] { return windowShows(driver, "The watch went away"); }, 2));

    driver.linkEvent("onDiscoverDevicesNotification", discovered({{"A", Value("Kavo R5 (1A2B)")}}));
    ASSERT_EQ(page->kavos().size(), 1U);
    platform::ui::navigationOf(*page)->pushPage(
        driver.storyboard->instantiate("TQKavoInfoViewController"), true);
    driver.settle();
    driver.linkEvent("onDiscoverDevicesNotification",
                     discovered({{"A", Value("x")}, {"B", Value("y")}, {"C", Value("z")}}));
    EXPECT_EQ(page->kavos().size(), 1U) << "a discovery while away changes nothing";
    driver.linkEvent("onErrorNotification", Value{{"errorCode", 1}, {"errorDescription", "Away"}});
    driver.settle();
    EXPECT_FALSE(windowShows(driver, "Away"));
}

// ---- The watch information page ----

TEST(KavoInfoTest, DisconnectAsksTheConnectedWatchToDropTheLink) {
    ScreenDriver driver;
    PairingAir air(driver);
    air.settleLink();
    air.powerOn(air.first);
    auto& watch = air.first;
    ASSERT_NE(driver.show(kScanScreen), nullptr);
    ASSERT_TRUE(driver.tap("scanButton"));
    ASSERT_TRUE(until(driver, [&] { return driver.rows("kavoListTable").size() == 1; }));
    ASSERT_TRUE(tapRow(driver, "kavoListTable", 0));
    ASSERT_TRUE(until(driver, [&] { return watch.isPaired(); }, 30));

    ASSERT_NE(driver.show("TQKavoInfoViewController"), nullptr);
    const auto* name = driver.find<platform::ui::Label>("deviceName");
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->text().empty()) << "nothing fills the labels";
    ASSERT_TRUE(driver.tap("disconnectButton"));
    EXPECT_TRUE(until(driver, [&] { return !watch.isLinkUp(); }, 10));
    EXPECT_EQ(watch.counters().disconnectRequests, 1);
}

TEST(KavoInfoTest, WithoutALinkDisconnectDoesNothing) {
    ScreenDriver driver;
    ASSERT_NE(driver.show("TQKavoInfoViewController"), nullptr);
    EXPECT_TRUE(driver.tap("disconnectButton"));
    EXPECT_EQ(driver.topScene(), "TQKavoInfoViewController");
}

// ---- The firmware-update page ----

TEST(FirmwarePageTest, PresentedItLeavesOnlyByItsOkWhichAsksToKeepTheAppRunning) {
    ScreenDriver driver;
    Page* below = driver.show("TQKavoInfoViewController");
    ASSERT_NE(below, nullptr);
    platform::ui::presentPage(*below, driver.storyboard->instantiate(kFirmwarePage),
                              platform::ui::PresentationStyle::cover, true);
    driver.settle();
    ASSERT_EQ(driver.topScene(), kFirmwarePage);
    const auto* title = driver.find<platform::ui::Label>("navigationTitle");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "Update watch");
    EXPECT_EQ(driver.find("backButton"), nullptr);
    const auto* text = driver.find<platform::ui::Label>("kavoUpdateLabel");
    ASSERT_NE(text, nullptr);
    EXPECT_NE(text->text().find("additional firmware update"), std::string::npos);

    ASSERT_TRUE(driver.tap("okButton"));
    EXPECT_EQ(driver.topScene(), "TQKavoInfoViewController");
    ASSERT_NE(driver.alert(), nullptr);
    EXPECT_EQ(driver.alert()->title(), "Keep the Quorvel Kavo R5 Lite app active");
    EXPECT_TRUE(driver.answerAlert("OK"));
    EXPECT_EQ(driver.alert(), nullptr);
}

TEST(FirmwarePageTest, InANavigationNeitherTheBackButtonNorASwipeLeavesIt) {
    ScreenDriver driver;
    Page* below = driver.show("TQKavoInfoViewController");
    ASSERT_NE(below, nullptr);
    auto* navigation = platform::ui::navigationOf(*below);
    navigation->pushPage(driver.storyboard->instantiate(kFirmwarePage), true);
    driver.settle();
    ASSERT_EQ(driver.topScene(), kFirmwarePage);
    EXPECT_EQ(driver.find("backButton"), nullptr) << "no back button on this page";
    navigation->goBack();
    driver.settle();
    EXPECT_EQ(driver.topScene(), kFirmwarePage);
    EXPECT_EQ(driver.find<platform::ui::Label>("navigationTitle")->text(), "Update watch");
}

// ---- The no-watch help page ----

class HelpPageTest : public ::testing::Test {
protected:
    // The help page over a page of the scan list's kind, on screen.
    void SetUp() override {
        presenter = driver.show(kScanScreen);
        ASSERT_NE(presenter, nullptr);
        ASSERT_TRUE(TQKavoUpdateViewController::presentOver(*presenter));
        driver.settle();
        ASSERT_EQ(driver.topScene(), kHelpPage);
    }
    TQKavoUpdateViewController* help() {
        return dynamic_cast<TQKavoUpdateViewController*>(driver.top());
    }
    platform::ui::LinkLabel& stepOne() {
        return *driver.find<platform::ui::LinkLabel>("textViewiPhoneSettings");
    }

    ScreenDriver driver;
    Page* presenter = nullptr;
};

TEST_F(HelpPageTest, ShowsItsFiveNumberedStepsWithTheSettingsWordsAsALink) {
    const auto* heading = driver.find<platform::ui::Label>("noKavoDeviceFound");
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text(), "No watches found");
    EXPECT_EQ(stepOne().text(),
              "1. On your phone, go to Bluetooth settings, then connect to your watch. A watch "
              "that can use 3G is listed twice: connect to both.");
    ASSERT_EQ(stepOne().runs().size(), 3U);
    EXPECT_EQ(stepOne().runs()[1].text, "Bluetooth settings");
    EXPECT_EQ(stepOne().runs()[1].color, (platform::ui::Color{1, 251 / 255.0, 144 / 255.0, 1}));
    for (const auto& [name, start] :
         std::vector<std::pair<std::string, std::string>>{{"secondLabel", "2. On your watch"},
                                                          {"thirdLabel", "3. Once your watch"},
                                                          {"fourthLabel", "4. If your watch can"},
                                                          {"fifthLabel", "5. Use this app"}}) {
        const auto* label = driver.find<platform::ui::Label>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_TRUE(label->text().starts_with(start)) << label->text();
    }
    const auto* button = driver.find<platform::ui::Button>("scanAgainOutlet");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->title(), "SCAN AGAIN");
    EXPECT_EQ(help()->backgroundColor(), (platform::ui::Color{0.98, 0.66, 0.15, 1}));
}

TEST_F(HelpPageTest, IsPresentedAtMostOnceAtATime) {
    Page* first = driver.top();
    EXPECT_FALSE(TQKavoUpdateViewController::presentOver(*presenter));
    driver.settle();
    EXPECT_EQ(driver.top(), first);
    EXPECT_EQ(platform::ui::presentedPage(*first), nullptr);

    ASSERT_TRUE(driver.tap("scanAgainOutlet"));
    EXPECT_EQ(driver.topScene(), kScanScreen) << "scan again closes the page";
    EXPECT_TRUE(presenter->isOnScreen());
    driver.settle();
    EXPECT_EQ(driver.topScene(), kScanScreen) << "no second page comes after the first";

    // Once it is gone the next empty scan shows it again; two asks in a row, one page.
    EXPECT_TRUE(TQKavoUpdateViewController::presentOver(*presenter));
    EXPECT_FALSE(TQKavoUpdateViewController::presentOver(*presenter));
    driver.settle();
    ASSERT_EQ(driver.topScene(), kHelpPage);
    EXPECT_EQ(platform::ui::presentedPage(*driver.top()), nullptr);
}

TEST_F(HelpPageTest, TheSettingsWordsOpenTheBluetoothSettingsAndComingBackClosesThePage) {
    // The window opens the Bluetooth settings as the desktop's panel; here a panel is found
    // and its start recorded.
    std::vector<std::vector<std::string>> panelsStarted;
    auto* window = dynamic_cast<TQWindowAppHost*>(&platform::AppHost::current());
    ASSERT_NE(window, nullptr);
    window->setBluetoothSettings(platform::DesktopBluetoothSettings(
        [](std::string_view program) { return std::filesystem::path("/opt/panels") / program; },
        [&](std::span<const std::string> arguments) {
            panelsStarted.emplace_back(arguments.begin(), arguments.end());
            return true;
        }));

    // Coming back without having used the link leaves the page open.
    driver.center.post(platform::kApplicationDidBecomeActiveNotification);
    driver.center.post(platform::kApplicationWillEnterForegroundNotification);
    driver.settle();
    EXPECT_EQ(driver.topScene(), kHelpPage);

    // A tap beside the words opens nothing.
    ASSERT_TRUE(tapLinkRun(driver, stepOne(), 1, false));
    EXPECT_TRUE(panelsStarted.empty());
    EXPECT_FALSE(help()->isGoToSettings());

    ASSERT_TRUE(tapLinkRun(driver, stepOne(), 1));
    ASSERT_EQ(panelsStarted.size(), 1U) << "the Bluetooth settings opened";
    EXPECT_EQ(driver.alert(), nullptr);
    EXPECT_TRUE(help()->isGoToSettings());
    EXPECT_EQ(driver.topScene(), kHelpPage) << "the page stays while the user is away";

    driver.center.post(platform::kApplicationDidBecomeActiveNotification);
    driver.settle();
    EXPECT_EQ(driver.topScene(), kScanScreen) << "back from the settings, the page is gone";
}

TEST_F(HelpPageTest, ReturningToTheForegroundAfterTheLinkClosesItToo) {
    ASSERT_TRUE(tapLinkRun(driver, stepOne(), 1));
    driver.center.post(platform::kApplicationWillEnterForegroundNotification);
    driver.settle();
    EXPECT_EQ(driver.topScene(), kScanScreen);
}

TEST(HelpPageLayoutTest, OnASmallScreenTheStepsScrollAboveTheButton) {
    // A low window: the scale follows the longer side, so the steps keep their size.
    ScreenDriver driver({600, 320});
    Page* presenter = driver.show(kScanScreen);
    ASSERT_NE(presenter, nullptr);
    ASSERT_TRUE(TQKavoUpdateViewController::presentOver(*presenter));
    driver.settle();
    auto* scroll = driver.find<platform::ui::ScrollView>("scrollveiw");
    auto* button = driver.find<platform::ui::Button>("scanAgainOutlet");
    ASSERT_NE(scroll, nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_LE(scroll->frame().y + scroll->frame().height, button->frame().y);
    EXPECT_GT(scroll->contentHeight(), scroll->frame().height) << "more than the screen holds";
    const auto* last = driver.find<platform::ui::Label>("fifthLabel");
    ASSERT_NE(last, nullptr);
    EXPECT_LE(last->frame().y + last->frame().height, scroll->contentHeight());
    EXPECT_LE(button->frame().y + button->frame().height, driver.top()->height());
}

}  // namespace
