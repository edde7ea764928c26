#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/StoreWorld.h"

namespace listener_test {
namespace {

// The message sequence on its own, against the watch's messages as they arrive on the link.
class StoreSequenceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(t.connect()); }

    void fromWatch(const Value& message, std::uint8_t appId = 1) {
        const int received = t.world.events.count("note:onDataReceivedNotification");
        ASSERT_TRUE(t.world.watch.sendJson(message, appId).ok());
        ASSERT_TRUE(t.runUntil(
            [&] { return t.world.events.count("note:onDataReceivedNotification") > received; },
            5));
        t.world.loop.advance(1);
    }
    static Value result(const char* idKey, const char* id, bool clock, int code = 1) {
        return Value{{"msgId", "mgr_wapps_install_res"}, {"returncode", code},
                     {"packagename", clock ? "com.kavo.face.new" : "com.kavo.new"},
                     {"isclock", clock},  {"appname", "New"},
                     {idKey, id}};
    }

    StoreWorld t;
};

TEST_F(StoreSequenceTest, AnswersAreMatchedByTheirRequestsIdentifierOnIdentifierOneOnly) {
    std::vector<std::string> dataRequests;
    std::vector<std::pair<std::int32_t, std::string>> results;
    // The watch's own answers stay out of it: the test speaks for the watch.
    t.world.watch.answerAll("mgr_wapps_install_req", [](const kavowatch::ReceivedMessage&) {
        return kavowatch::Watch::Replies{};
    });
    t.sequence.startInstallation(
        "42", "/Documents/New.wgt", [&](const std::string& id) { dataRequests.push_back(id); },
        [&](std::int32_t code, const std::string& package) { results.emplace_back(code, package); });
    const Value dataRequest{{"msgId", "mgr_wapps_install_data_req"}, {"result", "42"}};
    fromWatch(dataRequest);
    fromWatch(dataRequest);
    EXPECT_EQ(dataRequests, (std::vector<std::string>{"42", "42"}));

    // Another channel, and the request's own spelling of the key, reach nobody.
    fromWatch(result("reqId", "42", false), 3);
    fromWatch(result("reqID", "42", false, 2));
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(t.sequence.pendingInstallations(), 1U);

    fromWatch(result("reqId", "42", true));
    ASSERT_EQ(results.size(), 1U);
    EXPECT_EQ(results[0], std::make_pair(1, std::string("com.kavo.face.new")));
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
    // A face: recorded, no order asked.
    EXPECT_EQ(t.manager.clockItems().size(), 3U);
    EXPECT_TRUE(t.messagesToWatch("mgr_apps_order_req").empty());

    // An answer nobody waits for still records a successful install and asks for the order.
    fromWatch(result("reqId", "7", false));
    EXPECT_EQ(t.manager.appItems().size(), 4U);
    EXPECT_EQ(t.messagesToWatch("mgr_apps_order_req").size(), 1U);
}

TEST_F(StoreSequenceTest, TheListRefreshStoresBothListsAndAsksForTheFacesWithoutAResult) {
    t.sequence.processWearableStatusInd(Value{});
    ASSERT_TRUE(t.runUntil([&] { return t.messagesToWatch("mgr_wapps_list_req").size() == 1; },
                           5));
    const auto& all = t.world.watch.messages().all();
    const auto list = std::find_if(all.begin(), all.end(), [](const auto& message) {
        return message.msgId == "mgr_wapps_list_req";
    });
    EXPECT_EQ(*list->json,
              (Value{{"msgId", "mgr_wapps_list_req"}, {"result", ""}, {"locale", ""}}));

    t.sequence.processWappsListRes(Value{{"clocklist", "<Wapp></Wapp>"}});
    t.sequence.processClocksListRes(Value{{"clocklist", "<Clock></Clock>"}});
    EXPECT_EQ(TQUtils::retrieveXml(kModel, "wapplist.xml"), "<Wapp></Wapp>");
    EXPECT_EQ(TQUtils::retrieveXml(kModel, "clocklist.xml"), "<Clock></Clock>");
    ASSERT_TRUE(t.runUntil([&] { return t.messagesToWatch("mgr_clocks_list_req").size() == 1; },
                           5));
    const auto faces = std::find_if(all.begin(), all.end(), [](const auto& message) {
        return message.msgId == "mgr_clocks_list_req";
    });
    EXPECT_EQ(*faces->json, (Value{{"msgId", "mgr_clocks_list_req"}}));
}

// The watch removed an application itself: the dispatch has both lists forget it.
TEST_F(StoreSequenceTest, AnUninstallReportedByTheWatchLeavesBothLists) {
    int apps = 0;
    int faces = 0;
    const auto appsToken = t.world.center.addObserver(TQAppManager::kUninstallAppCompleted,
                                                      [&](const auto&) { ++apps; });
    const auto facesToken = t.world.center.addObserver(TQAppManager::kUninstallClockCompleted,
                                                       [&](const auto&) { ++faces; });
    fromWatch(Value{{"msgId", "mgr_wapps_uninstall_req"}, {"packageName", "com.kavo.timer"}});
    EXPECT_EQ(apps, 1);
    EXPECT_EQ(faces, 1);
    const auto left = TQAppManager::uninstallObjects(t.manager.appItems());
    EXPECT_EQ(left.size(), 2U);
    t.world.center.removeObserver(appsToken);
    t.world.center.removeObserver(facesToken);
}

}  // namespace
}  // namespace listener_test
