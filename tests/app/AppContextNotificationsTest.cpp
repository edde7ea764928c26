#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppContext.h"
#include "platform/host/AppHost.h"
#include "support/LoopWait.h"
#include "support/PrivateBusTest.h"
#include "support/TempDir.h"
#include "support/notify/FakeNotificationServer.h"

namespace {

using testing_support::FakeNotificationServer;

// The program's context on a session bus of the test's own, with the tests' notification
// server on it.
class AppContextNotificationsTest : public testing_support::PrivateBusTest {};

TEST_F(AppContextNotificationsTest, TheSessionsServerShowsTheHostsNoticesAndOpeningsComeBack) {
    std::string whyNot;
    const auto server = FakeNotificationServer::start(bus->address(), true, whyNot);
    ASSERT_NE(server, nullptr) << whyNot;
    ASSERT_TRUE(bus->waitForName("org.freedesktop.Notifications"));

    testing_support::TempDir folder;
    AppContext::Settings settings{platform::RunLoop::Clock::virtualTime, folder.path() / "home"};
    settings.sessionNotifications = true;
    AppContext context(settings);
    std::vector<std::string> links;
    platform::AppHost::current().onLocalNotificationOpened([&](const platform::Dictionary& info) {
        const platform::Value* link = info.find("KavoAppsURILink");
        links.push_back(link != nullptr ? link->stringValue().value_or("") : "");
    });

    platform::LocalNotification notification;
    notification.fireDelay = 1.0;
    notification.title = "Quorvel Kavo";
    notification.body = "View it on your phone";
    notification.userInfo.set("actionToHandle", platform::Value("kavoAppsWeb"));
    notification.userInfo.set("KavoAppsURILink", platform::Value("quorvelapps://ProductDetail/7"));
    platform::AppHost::current().scheduleLocalNotification(notification);
    context.loop().runUntilIdle();
    EXPECT_TRUE(server->notices().empty());
    context.loop().advance(1.0);
    ASSERT_TRUE(testing_support::runLoopUntil(context.loop(),
                                              [&] { return !server->notices().empty(); }, 10));
    const auto shown = server->notices().front();
    EXPECT_EQ(shown.summary, "Quorvel Kavo");

    server->invokeAction(shown.id, "default");
    ASSERT_TRUE(testing_support::runLoopUntil(context.loop(), [&] { return !links.empty(); }, 10));
    EXPECT_EQ(links, std::vector<std::string>{"quorvelapps://ProductDetail/7"});
}

}  // namespace
