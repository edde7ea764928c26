#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "e2e/StoreWorld.h"
#include "http/HCURLConnectionOperation.h"
#include "platform/foundation/FileSystem.h"

namespace listener_test {
namespace {

class StoreOperationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(t.connect()); }

    // The watch keeps quiet about installs: the operation waits in its install phase.
    void silenceInstalls() {
        t.world.watch.answerAll("mgr_wapps_install_req", [](const kavowatch::ReceivedMessage&) {
            return kavowatch::Watch::Replies{};
        });
    }
    bool reached(Operation::Phase phase) {
        return t.runUntil([&] {
            return !t.operations.empty() && t.operations.back()->operationProcess() == phase;
        });
    }
    long count(char letter) const {
        return std::count(t.bar.letters.begin(), t.bar.letters.end(), letter);
    }

    StoreWorld t;
};

TEST_F(StoreOperationTest, ATransferPausedByALostLinkResumesAndInstalls) {
    t.download(t.app("com.kavo.steps"));
    // One segment through, so the transfer counts as under way.
    ASSERT_TRUE(t.runUntil([&] { return count('2') > 0; }));
    ASSERT_TRUE(t.vanishAndReturn());
    // The pause hid the bar and said so; the operation holds its slot.
    const std::string atPause = t.bar.letters;
    EXPECT_EQ(atPause.back(), 'H');
    ASSERT_EQ(t.world.host.app.alerts.size(), 1U);
    EXPECT_EQ(t.world.host.app.alerts[0].alert.title, "Step Counter");
    EXPECT_EQ(t.world.host.app.alerts[0].alert.message,
              "The watch has been disconnected. The installation of Step Counter has been paused.");
    EXPECT_EQ(t.manager.getSharedQueue().operationCount(), 1U);

    // The home screen asks for the rest once the watch is back; the bar comes back with it.
    t.world.ap->resumeFileRequest();
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    const std::string resumed = t.bar.letters.substr(atPause.size());
    EXPECT_EQ(collapsed(resumed, "SC2"), "SC2c2IH") << resumed;
    ASSERT_NE(t.apps.find("com.kavo.steps"), nullptr);
    EXPECT_EQ(t.world.watch.files().counters().resumeRequests, 1);
    EXPECT_EQ(count('X'), 0);
    EXPECT_EQ(t.world.host.app.alerts.size(), 1U);
}

TEST_F(StoreOperationTest, ADisconnectionBeforeAnySegmentHidesTheBarWithoutANotice) {
    // Nothing acknowledged yet: the watch never answers a segment.
    t.world.watch.stopAcknowledging();
    t.download(t.app("com.kavo.steps"));
    ASSERT_TRUE(reached(Operation::transferring));
    t.world.watch.vanish();
    ASSERT_TRUE(t.runUntil([&] { return t.bar.letters.back() == 'H'; }, 10));
    EXPECT_TRUE(t.world.host.app.alerts.empty());
    EXPECT_EQ(t.manager.getSharedQueue().operationCount(), 1U);
    EXPECT_EQ(count('X'), 0);
}

TEST_F(StoreOperationTest, ACancelPressAfterAnInstallBelongsToTheNextOperationAlone) {
    t.download(t.app("com.kavo.stopwatch"));
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    // The finished operation is still around (the test holds it) but hears nothing more.
    silenceInstalls();
    t.download(t.app("com.kavo.steps"));
    ASSERT_TRUE(reached(Operation::installing));
    t.bar.letters.clear();
    t.world.center.post(TQActivityBar::kCancel);
    EXPECT_EQ(t.bar.letters, "XH");
    EXPECT_TRUE(t.queueIsFree());
    EXPECT_EQ(t.operations.size(), 2U);
}

TEST_F(StoreOperationTest, ALateResultOfAStoppedOperationLeavesTheNextOneAlone) {
    silenceInstalls();
    t.download(t.app("com.kavo.stopwatch"));
    ASSERT_TRUE(reached(Operation::installing));
    const std::string stoppedId = t.operations.back()->installRequestId();
    t.world.center.post(TQActivityBar::kCancel);
    ASSERT_TRUE(t.queueIsFree());
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);

    t.download(t.app("com.kavo.steps"));
    ASSERT_TRUE(reached(Operation::installing));
    t.bar.letters.clear();
    // The watch answers the first install after all.
    ASSERT_TRUE(t.world.watch
                    .sendJson(Value{{"msgId", "mgr_wapps_install_res"},
                                    {"returncode", 1},
                                    {"packagename", "com.kavo.stopwatch"},
                                    {"isclock", false},
                                    {"appname", "Stopwatch"},
                                    {"classname", "StopwatchApp"},
                                    {"version", "1.2.0"},
                                    {"reqId", stoppedId}})
                    .ok());
    ASSERT_TRUE(t.runUntil([&] { return count('I') == 1; }, 5));
    // Recorded all the same, and nothing of the running operation changed.
    EXPECT_EQ(t.bar.letters, "I");
    const auto listed = TQAppManager::uninstallObjects(t.manager.appItems());
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [](const TQUninstallObject& object) {
        return object.packageName == "com.kavo.stopwatch";
    }));
    EXPECT_EQ(t.manager.getSharedQueue().operationCount(), 1U);
    EXPECT_TRUE(std::filesystem::exists(t.documents() / "Step+Counter.wgt"));
    EXPECT_EQ(t.sequence.pendingInstallations(), 1U);
}

TEST_F(StoreOperationTest, CancellingTheDownloadStopsItWithoutAFailureNotice) {
    const auto file = platform::fs::readFile(t.store->packagePath(t.app("com.kavo.stopwatch")));
    ASSERT_TRUE(file.ok());
    // The store holds its answer until the test lets it go.
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> open = gate->get_future().share();
    auto asked = std::make_shared<std::atomic<bool>>(false);
    t.store->addRoute("/packages/Stopwatch.wgt",
                      [open, asked, package = file.value()](const kavostore::StoreRequest&) {
                          asked->store(true);
                          open.wait();
                          return kavostore::StoreAnswer{200, "application/widget", package};
                      });
    int transfersOver = 0;
    const auto token = t.world.center.addObserver(
        HCNetworkingOperationDidFinishNotification,
        [&](const platform::Notification&) { ++transfersOver; });
    t.download(t.app("com.kavo.stopwatch"));
    const bool arrived = t.runUntil([&] { return asked->load(); });
    t.world.center.post(TQActivityBar::kCancel);
    gate->set_value();
    ASSERT_TRUE(arrived);
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    // The cancelled transfer ends on this loop, not after it. Its end comes from the network
    // thread: the clock waits for its news instead of running ahead of it.
    t.busy = [&] { return transfersOver == 0; };
    EXPECT_TRUE(t.runUntil([&] { return transfersOver == 1; }, 5));
    t.busy = nullptr;
    t.world.center.removeObserver(token);
    EXPECT_EQ(t.bar.letters, "SXH");
    EXPECT_TRUE(t.world.host.app.alerts.empty());
    EXPECT_FALSE(std::filesystem::exists(t.documents() / "Stopwatch.wgt"));
}

// In the background a notice is a local notification: a success says so, a failure too,
// and no alert waits for the user.
TEST_F(StoreOperationTest, NoticesInTheBackgroundAreLocalNotifications) {
    t.world.host.app.state = platform::ApplicationState::background;
    t.download(t.app("com.kavo.stopwatch"));
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    t.apps.failNextInstall(3);
    t.download(t.app("com.kavo.tides"));
    ASSERT_TRUE(t.runUntil([&] { return t.settled() && t.operations.size() == 2; }));
    EXPECT_TRUE(t.world.host.app.alerts.empty());
    const auto& shown = t.world.host.app.notifications;
    ASSERT_EQ(shown.size(), 2U);
    EXPECT_EQ(shown[0].title, "Stopwatch");
    EXPECT_EQ(shown[0].body, "Installed.");
    EXPECT_EQ(shown[1].title, "Tide Tables");
    EXPECT_EQ(shown[1].body, "Failed to install app.");
    EXPECT_EQ(shown[1].fireDelay, 0);
}

// A package name from the watch becomes the icon's file name only when it is one safe path
// component.
TEST_F(StoreOperationTest, AnUnsafePackageNameFromTheWatchWritesNoIcon) {
    // The watch asks for the file but the test answers the install.
    t.world.watch.answerAll("mgr_wapps_install_req", [](const kavowatch::ReceivedMessage& m) {
        return kavowatch::Watch::Replies{
            {Value{{"msgId", "mgr_wapps_install_data_req"}, {"result", (*m.json)["reqID"]}},
             std::nullopt, std::nullopt}};
    });
    t.download(t.app("com.kavo.stopwatch"));
    ASSERT_TRUE(t.runUntil([&] { return !t.world.watch.files().received().empty(); }));
    ASSERT_TRUE(t.world.watch
                    .sendJson(Value{{"msgId", "mgr_wapps_install_res"},
                                    {"returncode", 1},
                                    {"packagename", "../../escaped"},
                                    {"isclock", false},
                                    {"appname", "Stopwatch"},
                                    {"reqId", t.operations.back()->installRequestId()}})
                    .ok());
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    EXPECT_EQ(t.bar.letters.substr(t.bar.letters.size() - 2), "IH");
    EXPECT_FALSE(fs::exists(t.documents() / "escaped.png"));
    EXPECT_FALSE(fs::exists(t.documents() / kModel / "escaped.png"));
    EXPECT_FALSE(fs::exists(t.documents() / kModel / "AppIcons"));
    EXPECT_FALSE(fs::exists(t.documents() / "Stopwatch.wgt"));
}

TEST_F(StoreOperationTest, ResettingTheQueueStopsTheRunningOperationThroughItsOwnStop) {
    silenceInstalls();
    t.download(t.app("com.kavo.stopwatch"));
    ASSERT_TRUE(reached(Operation::installing));
    t.bar.letters.clear();
    t.manager.defaultBlockAppList();
    EXPECT_EQ(t.bar.letters, "XH");
    EXPECT_TRUE(t.queueIsFree());
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
    // The next download runs at once.
    t.world.watch.answerAll("mgr_wapps_install_req", [&](const kavowatch::ReceivedMessage& m) {
        return kavowatch::Watch::Replies{
            {Value{{"msgId", "mgr_wapps_install_data_req"},
                   {"result", (*m.json)["reqID"]}},
             std::nullopt, std::nullopt}};
    });
    t.download(t.app("com.kavo.stopwatch"));
    EXPECT_EQ(t.manager.getSharedQueue().operationCount(), 1U);
}

TEST_F(StoreOperationTest, ASecondDownloadWhileOneRunsIsDropped) {
    silenceInstalls();
    t.download(t.app("com.kavo.stopwatch"));
    t.download(t.app("com.kavo.steps"));
    EXPECT_EQ(t.operations.size(), 1U);
    EXPECT_EQ(t.manager.getSharedQueue().operationCount(), 1U);
}

// The download's fraction: the size the URL gives, else the answer's length, else nothing
// to divide by, which leaves the bar at 0.
TEST_F(StoreOperationTest, DownloadProgressWithAndWithoutAKnownSize) {
    const StoreApp& entry = t.app("com.kavo.stopwatch");
    const auto file = platform::fs::readFile(t.store->packagePath(entry));
    ASSERT_TRUE(file.ok());
    const std::string package = file.value();
    t.store->addRoute("/chunked/Stopwatch.wgt", [package](const kavostore::StoreRequest&) {
        return kavostore::StoreAnswer{200, "application/widget", package, true};
    });
    struct Case {
        std::string url;
        double last;
    };
    const double half = static_cast<double>(package.size()) / (2.0 * package.size());
    for (const Case& c : std::vector<Case>{{t.store->secureURL("/chunked/Stopwatch.wgt"), 0.0},
                                           {t.store->secureURL("/chunked/Stopwatch.wgt?x=1&bsize=" +
                                                               std::to_string(package.size() * 2)),
                                            half},
                                           {t.store->packageURL(entry), 1.0}}) {
        SCOPED_TRACE(c.url);
        t.bar.progress.clear();
        t.manager.performDownload(c.url, "Stopwatch", "Stopwatch.wgt", entry.productId);
        ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
        std::vector<double> downloads;
        for (const Value& info : t.bar.progress) {
            if (info[TQActivityBar::kProgressTypeKey] == Value(1U)) {
                downloads.push_back(*info[TQActivityBar::kProgressValueKey].doubleValue());
            }
        }
        ASSERT_FALSE(downloads.empty());
        EXPECT_NEAR(downloads.back(), c.last, 1e-6);
        // Uninstalled again for the next round.
        t.manager.uninstallAppWithPackageName("com.kavo.stopwatch");
    }
}

// The install request carries exactly its schema's fields, and the answers are matched by
// the request's own identifier.
TEST_F(StoreOperationTest, TheInstallExchangeOnTheWire) {
    t.download(t.app("com.kavo.stopwatch"));
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    const auto request = std::find_if(
        t.world.watch.messages().all().begin(), t.world.watch.messages().all().end(),
        [](const auto& message) { return message.msgId == "mgr_wapps_install_req"; });
    ASSERT_NE(request, t.world.watch.messages().all().end());
    EXPECT_EQ(request->appId, 1);
    EXPECT_EQ(request->priority, 1);
    EXPECT_EQ(*request->json, (Value{{"msgId", "mgr_wapps_install_req"},
                                     {"reqID", t.operations.back()->installRequestId()},
                                     {"appData", ""},
                                     {"from_where", 1},
                                     {"filePath", (t.documents() / "Stopwatch.wgt").string()}}));
    ASSERT_EQ(t.world.watch.files().received().size(), 1U);
    EXPECT_EQ(t.world.watch.files().received()[0].name, "Stopwatch.wgt");
    EXPECT_EQ(t.world.watch.files().received()[0].appId, 1);
}

}  // namespace
}  // namespace listener_test
