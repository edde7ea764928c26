#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/host/AppHost.h"
#include "platform/host/LocalNotifications.h"
#include "support/RecordingNotifier.h"

namespace platform {
namespace {

LocalNotification notificationFor(std::string action, double fireDelay = 1.0) {
    LocalNotification notification;
    notification.fireDelay = fireDelay;
    notification.title = "Quorvel Kavo";
    notification.body = "View " + action + " on your phone";
    notification.userInfo.set("actionToHandle", Value(std::move(action)));
    return notification;
}

std::string actionOf(const Dictionary& userInfo) {
    const Value* action = userInfo.find("actionToHandle");
    return action != nullptr ? action->stringValue().value_or("") : "";
}

class LocalNotificationsTest : public ::testing::Test {
protected:
    RunLoop loop{RunLoop::Clock::virtualTime};
    testing_support::RecordingNotifier desktop;
    std::vector<std::string> unshown;
    std::vector<Dictionary> opened;
    std::optional<LocalNotifications> notifications{
        std::in_place, loop, desktop, [this](const LocalNotification& n, const Error&) {
            unshown.push_back(n.title);
        }};

    void SetUp() override {
        notifications->onOpened([this](const Dictionary& info) { opened.push_back(info); });
    }
};

TEST_F(LocalNotificationsTest, ShowsOnceDueAndOpeningHandsBackItsUserInfo) {
    notifications->schedule(notificationFor("weatherAction"));
    loop.advance(0.999);
    EXPECT_TRUE(desktop.notices.empty());
    EXPECT_EQ(notifications->pending(), 1U);
    loop.advance(0.001);
    ASSERT_EQ(desktop.notices.size(), 1U);
    EXPECT_EQ(desktop.notices[0].notice.title, "Quorvel Kavo");
    EXPECT_EQ(desktop.notices[0].notice.body, "View weatherAction on your phone");
    EXPECT_EQ(desktop.notices[0].notice.actionLabel, std::nullopt);
    EXPECT_EQ(notifications->pending(), 0U);

    desktop.open(0);
    ASSERT_EQ(opened.size(), 1U);
    EXPECT_EQ(actionOf(opened[0]), "weatherAction");
    // A notice the desktop keeps can be opened again; once closed it leads nowhere.
    desktop.open(0);
    desktop.close(0);
    desktop.open(0);
    EXPECT_EQ(opened.size(), 2U);
    EXPECT_EQ(notifications->shown(), 0U);
    EXPECT_TRUE(unshown.empty());
}

TEST_F(LocalNotificationsTest, EachNoticeLeadsToItsOwnUserInfo) {
    auto withButton = notificationFor("kavoAppsWeb", 0);
    withButton.alertAction = "Open store";
    notifications->schedule(notificationFor("buddyAction", 2.0));
    notifications->schedule(withButton);
    loop.advance(2.0);
    ASSERT_EQ(desktop.notices.size(), 2U);
    // Shown in the order they fall due, not as scheduled.
    EXPECT_EQ(desktop.notices[0].notice.actionLabel, "Open store");
    desktop.open(1);
    desktop.open(0);
    ASSERT_EQ(opened.size(), 2U);
    EXPECT_EQ(actionOf(opened[0]), "buddyAction");
    EXPECT_EQ(actionOf(opened[1]), "kavoAppsWeb");
}

TEST_F(LocalNotificationsTest, DelaysThatAreNoPositiveNumberMeanNow) {
    const double cases[] = {0.0, -5.0, std::nan(""), -std::numeric_limits<double>::infinity()};
    for (const double delay : cases) {
        notifications->schedule(notificationFor("hfpAction", delay));
    }
    loop.runUntilIdle();
    EXPECT_EQ(desktop.notices.size(), std::size(cases));

    // A delay past any sense still leaves the notice waiting, not shown at once.
    notifications->schedule(
        notificationFor("numberSyncAction", std::numeric_limits<double>::infinity()));
    loop.advance(3600);
    EXPECT_EQ(desktop.notices.size(), std::size(cases));
    EXPECT_EQ(notifications->pending(), 1U);
}

TEST_F(LocalNotificationsTest, WithoutADesktopServerTheNoticeIsReportedNotLost) {
    desktop.available = false;
    notifications->schedule(notificationFor("buddyAction", 1.0));
    loop.advance(1.0);
    EXPECT_EQ(unshown, std::vector<std::string>{"Quorvel Kavo"});
    EXPECT_EQ(notifications->shown(), 0U);
}

TEST_F(LocalNotificationsTest, KeepsOnlyTheNewestNoticesForOpening) {
    for (std::size_t i = 0; i <= LocalNotifications::kMaxKept; ++i) {
        notifications->schedule(notificationFor("numberSyncAction", 0));
    }
    loop.runUntilIdle();
    EXPECT_EQ(notifications->shown(), LocalNotifications::kMaxKept);
    desktop.open(0);
    EXPECT_TRUE(opened.empty());
    desktop.open(LocalNotifications::kMaxKept);
    EXPECT_EQ(opened.size(), 1U);
}

TEST_F(LocalNotificationsTest, NothingFiresOrOpensOnceGone) {
    notifications->schedule(notificationFor("weatherAction", 0));
    notifications->schedule(notificationFor("buddyAction", 5));
    loop.runUntilIdle();
    notifications.reset();
    loop.advance(10);
    EXPECT_EQ(desktop.notices.size(), 1U);
    desktop.open(0);
    EXPECT_TRUE(opened.empty());
}

TEST(HeadlessAppHostNotificationsTest, TheHostShowsOnTheDesktopAndHandsOpeningsToItsHandler) {
    RunLoop loop{RunLoop::Clock::virtualTime};
    testing_support::RecordingNotifier desktop;
    HeadlessAppHost host(loop, desktop);
    std::vector<std::string> actions;
    host.onLocalNotificationOpened(
        [&](const Dictionary& info) { actions.push_back(actionOf(info)); });
    host.scheduleLocalNotification(notificationFor("hfpAction", 1.0));
    loop.advance(1.0);
    ASSERT_EQ(desktop.notices.size(), 1U);
    desktop.open(0);
    EXPECT_EQ(actions, std::vector<std::string>{"hfpAction"});

    // No desktop: the line on standard error, and nothing to open.
    desktop.available = false;
    testing::internal::CaptureStderr();
    host.scheduleLocalNotification(notificationFor("buddyAction", 0));
    loop.runUntilIdle();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("kavomanager: notification: Quorvel Kavo: View buddyAction on your phone"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("actionToHandle"), std::string::npos);
    EXPECT_EQ(desktop.notices.size(), 1U);
}

}  // namespace
}  // namespace platform
