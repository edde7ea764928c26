#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/host/FreedesktopNotifier.h"
#include "support/LoopWait.h"
#include "support/PrivateBusTest.h"
#include "support/notify/FakeNotificationServer.h"

namespace platform {
namespace {

using testing_support::FakeNotificationServer;

// The real notifier against the tests' own server on a bus of the test's own. The loop runs on
// the real clock, since the bus's answers come when they come; every wait is for an event,
// bounded.
class FreedesktopNotifierTest : public testing_support::PrivateBusTest {
protected:
    void SetUp() override {
        PrivateBusTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        notifier = std::make_unique<FreedesktopNotifier>(loop, bus->address());
        ASSERT_TRUE(notifier->hasBus());
        notifier->setEvents({.opened = [this](NoticeId id) { opened.push_back(id); },
                             .closed = [this](NoticeId id) { closed.push_back(id); }});
    }

    void startServer(bool withActions = true) {
        std::string whyNot;
        server = FakeNotificationServer::start(bus->address(), withActions, whyNot);
        ASSERT_NE(server, nullptr) << whyNot;
        ASSERT_TRUE(bus->waitForName("org.freedesktop.Notifications"));
    }

    bool runUntil(const std::function<bool()>& done) {
        return testing_support::runLoopUntil(loop, done, 10);
    }

    // Shows notice and waits for the answer.
    Result<NoticeId> show(const DesktopNotice& notice) {
        std::optional<Result<NoticeId>> answer;
        notifier->show(notice, [&](Result<NoticeId> shown) { answer = std::move(shown); });
        EXPECT_TRUE(runUntil([&] { return answer.has_value(); }));
        return answer.value_or(Error{"test", 0, "no answer"});
    }

    RunLoop loop{RunLoop::Clock::real};
    std::unique_ptr<FakeNotificationServer> server;
    std::unique_ptr<FreedesktopNotifier> notifier;
    std::vector<NoticeId> opened;
    std::vector<NoticeId> closed;
};

TEST_F(FreedesktopNotifierTest, NotifiesWithTheProgramsNameIconAndActions) {
    startServer();
    const auto shown = show({"Quorvel Kavo", "Open the store", "View", true});
    ASSERT_TRUE(shown.ok()) << shown.error().message;
    const auto plain = show({"Quorvel Kavo", "Installed", std::nullopt, false});
    ASSERT_TRUE(plain.ok());
    EXPECT_NE(*shown, *plain);

    const auto notices = server->notices();
    ASSERT_EQ(notices.size(), 2U);
    EXPECT_EQ(notices[0].id, *shown);
    EXPECT_EQ(notices[0].appName, "KavoManager");
    EXPECT_EQ(notices[0].replacesId, 0U);
    EXPECT_EQ(notices[0].icon, "kavomanager");
    EXPECT_EQ(notices[0].summary, "Quorvel Kavo");
    EXPECT_EQ(notices[0].body, "Open the store");
    EXPECT_EQ(notices[0].actions, (std::vector<std::string>{"default", "View", "open", "View"}));
    EXPECT_EQ(notices[0].textHints.at("desktop-entry"), "kavomanager");
    EXPECT_TRUE(notices[0].textHints.contains("sound-name"));
    EXPECT_EQ(notices[0].timeout, -1);
    EXPECT_EQ(notices[1].actions, (std::vector<std::string>{"default", "Open"}));
    EXPECT_FALSE(notices[1].textHints.contains("sound-name"));
}

TEST_F(FreedesktopNotifierTest, AServerWithoutActionsGetsNone) {
    startServer(false);
    ASSERT_TRUE(show({"t", "b", "View", true}).ok());
    EXPECT_TRUE(server->notices().at(0).actions.empty());
}

TEST_F(FreedesktopNotifierTest, OnlyOpeningActionsOnOurOwnNoticesCount) {
    startServer();
    const NoticeId id = *show({"t", "b", "View", true});
    const NoticeId other = *show({"t", "b", std::nullopt, true});
    // The server's signals come in the order it sends them: waiting for the last is enough.
    server->invokeAction(id, "snooze");         // no action of ours
    server->invokeAction(id + 100, "default");  // another program's notice
    server->invokeAction(id, "default");
    server->invokeAction(id, "open");
    server->close(id + 100);
    server->close(id);
    server->invokeAction(id, "default");  // closed: leads nowhere
    server->invokeAction(other, "default");
    ASSERT_TRUE(runUntil([&] { return opened.size() >= 3; }));
    EXPECT_EQ(opened, (std::vector<NoticeId>{id, id, other}));
    EXPECT_EQ(closed, std::vector<NoticeId>{id});
}

TEST_F(FreedesktopNotifierTest, WithoutAServerShowingFails) {
    const auto shown = show({"t", "b", std::nullopt, true});
    ASSERT_FALSE(shown.ok());
    EXPECT_EQ(shown.error().domain, "kavo.notify");
    EXPECT_NE(shown.error().message.find("no desktop notification server"), std::string::npos);

    // A server that comes later is used.
    startServer();
    EXPECT_TRUE(show({"t", "b", std::nullopt, true}).ok());
}

TEST_F(FreedesktopNotifierTest, AServerThatLeavesClosesItsNotices) {
    startServer();
    const NoticeId first = *show({"t", "one", std::nullopt, true});
    const NoticeId second = *show({"t", "two", std::nullopt, true});
    server->vanish();
    ASSERT_TRUE(runUntil([&] { return closed.size() == 2; }));
    EXPECT_EQ(closed, (std::vector<NoticeId>{first, second}));
    EXPECT_FALSE(show({"t", "three", std::nullopt, true}).ok());
}

}  // namespace
}  // namespace platform
