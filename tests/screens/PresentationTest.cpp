#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>

#include "platform/host/AppHost.h"
#include "platform/ui/Presentation.h"
#include "screens/RecordingPage.h"
#include "screens/support/ScreenDriver.h"
#include "ui/TQPageAlert.h"

namespace {

using platform::ui::Page;
using platform::ui::PresentationStyle;
using screens_test::addRecordingScene;
using screens_test::Journal;
using screens_test::RecordingPage;
using screens_test::ScreenDriver;

class PresentationTest : public ::testing::Test {
protected:
    PresentationTest() {
        for (const char* name : {"A", "B", "C"}) {
            addRecordingScene(driver, name, name, journal);
        }
    }
    RecordingPage& show(const char* scene) {
        auto* page = dynamic_cast<RecordingPage*>(driver.show(scene));
        journal->clear();
        return *page;
    }
    std::unique_ptr<Page> make(const char* scene) { return driver.storyboard->instantiate(scene); }
    bool logged(const std::string& line) const {
        return std::find(journal->begin(), journal->end(), line) != journal->end();
    }

    ScreenDriver driver;
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
};

// A screen that asks for an alert and a presentation in its viewWillAppear gets them once it
// is up, not while it is still coming.
TEST_F(PresentationTest, WhatIsAskedForBeforeThePresenterIsOnScreenWaitsForIt) {
    driver.storyboard->registerScene(TQScene{"eager", "Eager", [this] {
        auto page = std::make_unique<RecordingPage>("Eager", journal);
        page->onWillAppear = [this](RecordingPage& self) {
            if (std::count(journal->begin(), journal->end(), "Eager willAppear") != 1) {
                return;  // the first time only
            }
            self.whenOnScreen([this, &self] {
                self.note("asks for the alert");
                platform::AppHost::current().showAlert(platform::Alert{"Hello", "", {"OK"}, {}});
            });
            EXPECT_TRUE(platform::ui::presentPage(self, make("B"), PresentationStyle::cover, false));
        };
        return page;
    }});
    driver.show("eager");
    const Journal expected = {"Eager load",          "Eager willAppear",   "Eager didAppear",
                              "Eager asks for the alert", "B load",       "Eager willDisappear",
                              "B willAppear",        "Eager didDisappear", "B didAppear"};
    EXPECT_EQ(*journal, expected);
    EXPECT_EQ(driver.top()->className(), "B");
    ASSERT_NE(driver.alert(), nullptr);
    EXPECT_EQ(driver.alert()->title(), "Hello");
}

TEST_F(PresentationTest, DismissingAPresenterTakesEverythingAboveAndCompletesOnce) {
    RecordingPage& a = show("A");
    ASSERT_TRUE(platform::ui::presentPage(a, make("B"), PresentationStyle::crossDissolve, true));
    driver.settle();
    Page* b = platform::ui::presentedPage(a);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(platform::ui::presentPage(*b, make("C"), PresentationStyle::cover, true));
    driver.settle();
    ASSERT_EQ(driver.top()->className(), "C");
    journal->clear();

    int completions = 0;
    platform::ui::dismissPage(a, true, [&] {
        EXPECT_TRUE(logged("A didAppear")) << "completion comes once the presenter is back";
        ++completions;
    });
    // Asked again while on its way out: the same end, each completion once.
    platform::ui::dismissPage(a, true, [&] { ++completions; });
    EXPECT_EQ(completions, 0);
    driver.settle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(completions, 2);
    EXPECT_EQ(driver.top(), &a);
    EXPECT_EQ(platform::ui::presentedPage(a), nullptr);
    // B was covered by C: only C was on screen to disappear.
    const Journal expected = {"C willDisappear", "A willAppear", "C didDisappear",
                              "A didAppear",     "C gone",       "B gone"};
    EXPECT_EQ(*journal, expected);

    // Nothing presented: the completion runs at once.
    bool done = false;
    platform::ui::dismissPage(a, true, [&] { done = true; });
    EXPECT_TRUE(done);
}

TEST_F(PresentationTest, OverTheCurrentContextThePresenterStaysAndOnePresentationAtATime) {
    RecordingPage& a = show("A");
    ASSERT_TRUE(
        platform::ui::presentPage(a, make("B"), PresentationStyle::overCurrentContext, true));
    driver.settle();
    EXPECT_TRUE(a.isOnScreen());
    EXPECT_FALSE(platform::ui::presentPage(a, make("C"), PresentationStyle::cover, true))
        << "already presenting";
    platform::ui::dismissPage(*platform::ui::presentedPage(a), true);
    driver.settle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const Journal expected = {"B load",          "B willAppear",   "B didAppear",    "C gone",
                              "B willDisappear", "B didDisappear", "B gone"};
    EXPECT_EQ(*journal, expected) << "the presenter never left the screen";
}

// The pop-up a page puts up while it works (a progress alert) must not outlive the page, even
// when the page goes by a new root without taking it down first.
TEST_F(PresentationTest, APagesAlertWaitsForThePageAndGoesWithIt) {
    RecordingPage& a = show("A");
    ASSERT_TRUE(platform::ui::presentPage(a, make("B"), PresentationStyle::cover, true));
    Page* b = platform::ui::presentedPage(a);
    ASSERT_NE(b, nullptr);
    TQPageAlert::present(*b, platform::Alert{"Registering", "", {}, {}});
    EXPECT_EQ(driver.alert(), nullptr) << "not before the page is up";
    driver.settle();
    ASSERT_NE(driver.alert(), nullptr);
    EXPECT_EQ(driver.alert()->title(), "Registering");

    platform::ui::replaceRootView(*driver.window,
                                  new platform::ui::NavigationController(make("C")));
    driver.settle();
    EXPECT_EQ(driver.alert(), nullptr) << "it went with its page";

    auto again = TQPageAlert::present(*driver.top(), platform::Alert{"Again", "", {"OK"}, {}});
    ASSERT_NE(driver.alert(), nullptr);
    again->dismiss();
    driver.settle();
    EXPECT_EQ(driver.alert(), nullptr);
    auto answered = TQPageAlert::present(*driver.top(), platform::Alert{"Once", "", {"OK"}, {}});
    EXPECT_TRUE(driver.answerAlert("OK"));
    answered->dismiss();  // already gone: nothing happens
    EXPECT_EQ(driver.alert(), nullptr);
}

// However a page leaves, what it handed out and what it observes through itself go with it.
TEST_F(PresentationTest, APageThatLeftGetsNoCallbackAndNoNotification) {
    struct Case {
        const char* how;
        std::function<void(ScreenDriver&, RecordingPage& root, Page& leaving)> leave;
        bool presented;
    };
    const Case cases[] = {
        {"popped", [](ScreenDriver&, RecordingPage&, Page& leaving) {
             platform::ui::navigationOf(leaving)->popPage(true);
         }, false},
        {"dismissed", [](ScreenDriver&, RecordingPage&, Page& leaving) {
             platform::ui::dismissPage(leaving, true);
         }, true},
        {"root replaced", [](ScreenDriver& d, RecordingPage&, Page&) {
             platform::ui::replaceRootView(
                 *d.window, new platform::ui::NavigationController(d.storyboard->instantiate("C")));
         }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        RecordingPage& root = show("A");
        Page* leaving = nullptr;
        if (c.presented) {
            ASSERT_TRUE(platform::ui::presentPage(root, make("B"), PresentationStyle::cover, true));
            driver.settle();
            leaving = platform::ui::presentedPage(root);
        } else {
            platform::ui::navigationOf(root)->pushPage(make("B"), true);
            driver.settle();
            leaving = driver.top();
        }
        ASSERT_NE(leaving, nullptr);
        int calls = 0;
        leaving->observe("onDisconnectDeviceNotification",
                         [&](const platform::Notification&) { ++calls; });
        // Observed in the page's name straight on the centre, as the root change removes.
        driver.center.addObserver("onDisconnectDeviceNotification",
                                  [&](const platform::Notification&) { ++calls; }, leaving);
        auto callback = leaving->guarded([&](int add) { calls += add; });
        driver.linkEvent("onDisconnectDeviceNotification");
        callback(10);
        EXPECT_EQ(calls, 12) << "while it is there";

        c.leave(driver, root, *leaving);
        driver.settle();
        EXPECT_TRUE(driver.window->overlays(platform::ui::Layer::pageOverlay).empty())
            << "nothing presented stays over what comes next";
        driver.linkEvent("onDisconnectDeviceNotification");
        callback(10);
        EXPECT_EQ(calls, 12);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        callback(10);
        EXPECT_EQ(calls, 12) << "nor once it is freed";
    }
}

// A new root may come while the old one's navigation is still sliding a page out (an unwind
// and then a replace-root segue): the old root and the page it popped are freed first, and the
// pop that ends afterwards must find them gone.
TEST_F(PresentationTest, ARootReplacedWhileItsNavigationPopsLeavesNothingToTheEndingPop) {
    RecordingPage& a = show("A");
    platform::ui::navigationOf(a)->pushPage(make("B"), true);
    driver.settle();
    platform::ui::navigationOf(a)->popPage(true);
    platform::ui::replaceRootView(*driver.window,
                                  new platform::ui::NavigationController(make("C")));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(logged("B gone"));
    journal->clear();
    driver.settle();
    EXPECT_TRUE(journal->empty()) << "the ended pop tells nobody anything";
    ASSERT_NE(driver.top(), nullptr);
    EXPECT_EQ(driver.top()->className(), "C");
}

}  // namespace
