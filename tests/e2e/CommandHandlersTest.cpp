#include <gtest/gtest.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "http/TQAppIconLookup.h"
#include "listener/TQCommandHandlers.h"
#include "platform/foundation/Base64.h"
#include "platform/net/NetlinkSource.h"
#include "platform/net/NetworkMonitor.h"
#include "platform/net/URLLoader.h"
#include "services/ServicesWorld.h"
#include "services/TQNotificationObject.h"
#include "sim/CommandRequests.h"
#include "support/FakeNetwork.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"

namespace e2e {
namespace {

namespace requests = kavowatch::requests;
using listener_test::kNow;
using listener_test::kVendorIdentifier;
using Reply = listener_test::ListenerWorld::Reply;
using testing_support::FakeNetwork;
using testing_support::LoopbackServer;

constexpr const char* kModel = services_test::ServicesWorld::kModel;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string base64Of(std::string_view bytes) {
    return platform::base64::encode(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// The phone's link and dispatch with the phone services and the listener's own handlers, the
// icon lookup against a loopback server, a scripted network, and the simulated watch.
class CommandHandlersTest : public ::testing::Test {
public:  // the table's checks reach in
    CommandHandlersTest() {
        auto& registry = world().handlers.registry;
        // The listener's own handlers in place of the recorders.
        registry.watchAppIcons = nullptr;
        registry.buddies = nullptr;
        registry.generalMessage = nullptr;
        registry.networkStatus = nullptr;
        registry.webSearch = nullptr;
        registry.powerSaving = nullptr;
        registry.timeSync = nullptr;
        registry.notiIndicator = nullptr;
        registry.numberSyncReplies = nullptr;
        registry.hfp = nullptr;
        commands.fillIn(registry);
        registry.appIcons = &lookup;
        world().host.navigator.navigation = {"TQViewController"};
        services.connect();
        // The initialisation sequence made the watch's folder.
        std::filesystem::create_directories(world().container.documents() / kModel);
    }

    listener_test::ListenerWorld& world() { return services.world; }

    // The watch asks; returns once the phone had it and `settle` more seconds passed.
    void ask(const requests::Request& request, double settle = 0.2) {
        const int handled = world().events.count("note:onDataReceivedNotification");
        ASSERT_TRUE(world().watch.sendJson(request.body, request.appId).ok());
        ASSERT_TRUE(world().watch.waitUntil(
            [&] { return world().events.count("note:onDataReceivedNotification") > handled; }, 5));
        world().loop.advance(settle);
    }
    std::vector<Reply> repliesTo(const requests::Request& request, double settle = 0.2) {
        const std::size_t from = services.mark();
        ask(request, settle);
        return world().repliesSince(from);
    }
    // Drives the loop until the icon lookups ended, then lets the answer reach the watch.
    void awaitLookups() {
        ASSERT_TRUE(
            testing_support::runLoopUntil(world().loop, [&] { return lookup.pending() == 0; }));
        world().loop.advance(0.5);
    }
    std::filesystem::path icons() const {
        return services.world.container.documents() / kModel / TQWatchAppIcons::kFolder;
    }
    platform::UserDefaults& defaults() { return world().defaults; }

    services_test::ServicesWorld services;
    // Set up by the next member's initialiser, over the scripted source it keeps.
    std::unique_ptr<platform::net::NetworkMonitor> network;
    platform::net::ScriptedNetlinkSource* netlink = [this] {
        auto source = std::make_unique<platform::net::ScriptedNetlinkSource>();
        auto* raw = source.get();
        raw->setPicture({FakeNetwork::link(2, FakeNetwork::Kind::wired),
                         FakeNetwork::address(2, {192, 168, 1, 5}, 24),
                         FakeNetwork::defaultRoute(2)});
        network = std::make_unique<platform::net::NetworkMonitor>(world().loop, std::move(source));
        return raw;
    }();
    TQCommandHandlers commands{*world().ap, world().loop, *network};
    LoopbackServer server;
    platform::net::URLLoader loader;
    TQAppIconLookup lookup{*world().ap, world().loop, server.url("/scripted"), &loader};
};

struct Case {
    const char* name;
    requests::Request request;
    std::vector<Reply> replies;
    // Defaults, files, notifications and screens after the replies.
    std::function<void(CommandHandlersTest&)> check = nullptr;
    double settle = 0.2;
};

Reply general(platform::Value json) {
    return {1, 1, std::move(json)};
}

const std::string kIconA = "\x89PNG\r\n\x1a\n-first icon";
const std::string kIconC = "\x89PNG\r\n\x1a\n-third icon";

TEST_F(CommandHandlersTest, EveryRequestThroughTheSimulatedWatchWithItsExactReply) {
    using Value = platform::Value;
    // Base64 with a line break and spaces in it, as some watches send it.
    std::string encodedA = base64Of(kIconA);
    encodedA.insert(4, "\r\n ");
    const std::vector<Case> cases{
        {"find-my-phone start rings the one alarm",
         {Value{{"msgId", "fmp-startalert-req"}}, 2},
         {{2, 1,
           Value{{"cmd", "findMyDevice"},
                 {"msgId", "fmp-startalert-rsp"},
                 {"reason", 0},
                 {"result", 0}}}},
         [](CommandHandlersTest& t) {
             ASSERT_EQ(t.services.loader.pending.size(), 1U);
             t.services.loader.finish(0, services_test::soundOf(1.5));
             EXPECT_TRUE(t.services.sink.isSounding());
             EXPECT_TRUE(t.services.findMyDevice.isAlertShowing());
             ASSERT_EQ(t.world().host.app.alerts.size(), 1U);
             EXPECT_EQ(t.world().host.app.alerts[0].alert.title, "Find my phone");
             EXPECT_EQ(t.world().host.app.alertsShowing(), 1U);
         }},
        {"find-my-phone stop request is only answered",
         {Value{{"msgId", "fmp-stopalert-req"}}, 2},
         {{2, 1,
           Value{{"cmd", "findMyDevice"},
                 {"msgId", "fmp-stopalert-rsp"},
                 {"reason", "0"},
                 {"result", "success"}}}},
         [](CommandHandlersTest& t) { EXPECT_TRUE(t.services.alarm.isPlaying()); }},
        {"find-my-phone stop command silences the alarm",
         requests::findMyPhoneStop(),
         {},
         [](CommandHandlersTest& t) {
             EXPECT_FALSE(t.services.alarm.isPlaying());
             EXPECT_FALSE(t.services.sink.isSounding());
             EXPECT_FALSE(t.services.findMyDevice.isAlertShowing());
             EXPECT_EQ(t.world().host.app.alertsShowing(), 0U);
         }},
        {"blocked application by category",
         {Value{{"msgId", "msg_notification_block_info_req"},
                {"app_name", "Phone"},
                {"bundle_id", "com.apple.mobilephone"},
                {"category_id", "2"}},
          7},
         {{7, 1,
           Value{{"msgId", "msg_notification_block_info_res"},
                 {"bundle_id", "com.apple.mobilephone"},
                 {"category_id", "2"}}}},
         [](CommandHandlersTest& t) {
             const auto list = t.defaults().object("BLOCKED_APPS_LIST");
             ASSERT_TRUE(list && list->arrayIf() && list->arrayIf()->size() == 1);
             const auto entry = TQNotificationObject::decodedWithObject(list->arrayIf()->front());
             ASSERT_TRUE(entry);
             EXPECT_EQ(entry->name, "Missed Call");
         }},
        {"watch application icons by position, a hostile name refused",
         requests::watchAppIcons({"com.kavo.clock", "../../evil", "com.kavo.weather", "extra"},
                                 {encodedA, base64Of(kIconC), "@@@", base64Of(kIconC)}),
         {},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(readFile(t.icons() / "com.kavo.clock.png"), kIconA);
             EXPECT_FALSE(std::filesystem::exists(t.icons() / "com.kavo.weather.png"));
             EXPECT_EQ(readFile(t.icons() / "extra.png"), kIconC);
             const auto documents = t.world().container.documents();
             EXPECT_FALSE(std::filesystem::exists(documents / "evil.png"));
             EXPECT_FALSE(std::filesystem::exists(documents.parent_path() / "evil.png"));
             EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.icons()),
                                     std::filesystem::directory_iterator()),
                       2);
             EXPECT_EQ(t.defaults().integer("sync_app_icon_flag"), 1);
             EXPECT_EQ(t.world().events.count("note:preloaded_app_icon_received_notif"), 1);
         }},
        {"buddy synchronisation",
         requests::getBuddies(),
         {},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.world().logs->count("receive get buddy message from kavo"), 1);
         }},
        {"buddy list opens",
         requests::launchBuddies(),
         {general(Value{{"msgId", "contacts-launchbuddy-rsp"}, {"requestId", "0"}})},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.world().host.navigator.navigation.back(),
                       "TQBuddyListTableViewController");
         }},
        {"general messages open",
         requests::showGeneralMessages(),
         {general(Value{{"msgId", "mgr_show_on_device_res"},
                        {"reason", 0},
                        {"result", "success"},
                        {"data", "texttemplate_setting"}})},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.world().host.navigator.navigation.back(),
                       "TQGeneralMessagesTableViewController");
         }},
        {"data network over a wired link counts as Wi-Fi",
         requests::dataNetwork(),
         {general(Value{{"msgId", "mgr_datanetwork_res"}, {"data", 2}})}},
        {"web search opens the link",
         requests::webSearch("rain", "https://example.org/search?q=rain"),
         {},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.world().host.app.openedURLs,
                       (std::vector<std::string>{"https://example.org/search?q=rain"}));
         }},
        {"a web search that is no web link is not opened",
         requests::webSearch("x", "file:///etc/passwd"),
         {},
         [](CommandHandlersTest& t) { EXPECT_EQ(t.world().host.app.openedURLs.size(), 1U); }},
        {"power saving",
         requests::powerSaving(Value(1)),
         {},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.defaults().object("POWER_SAVING_STATUS"), Value(1));
             EXPECT_EQ(t.world().events.count("note:power_noti_change"), 1);
         }},
        {"time, zone, then the clock format a second later",
         requests::syncTime(),
         {general(Value{{"msgId", "mgr_only_sync_date_time_req"},
                        {"datetimeepoch", std::to_string(kNow)}}),
          general(Value{{"msgId", "mgr_sync_time_zone_req"}, {"data", "UTC"}}),
          general(Value{{"msgId", "mgr_sync_time_1224_time"}, {"data", "24"}})},
         nullptr,
         1.5},
        {"system time",
         requests::systemTime(1'699'999'999'000),
         {general(Value{{"msgId", "mgr_systemtime_res"},
                        {"t1", 1'699'999'999'000},
                        {"t2", kNow},
                        {"t3", kNow}})}},
        {"notification indicator on",
         requests::notificationIndicator(Value("YES")),
         {general(Value{{"msgId", "mgr_noti_indicator_res"}, {"result", "success"}})},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.defaults().boolean("NOTI_INDICATOR_ON_OFF"), true);
         }},
        {"notification indicator without a state is off",
         requests::notificationIndicator(Value()),
         {general(Value{{"msgId", "mgr_noti_indicator_res"}, {"result", "success"}})},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.defaults().boolean("NOTI_INDICATOR_ON_OFF"), false);
         }},
        {"number sync register result",
         requests::numberSyncRegisterResult("success"),
         {general(Value{{"msgId", "mgr_numbersync_register_result_res"},
                        {"deviceid", kVendorIdentifier},
                        {"result", "success"},
                        {"reason", 1}}),
          general(
              Value{{"msgId", "mgr_numbersync_register_req"}, {"deviceid", kVendorIdentifier}})}},
        {"number sync registered",
         requests::numberSyncRegistered("on"),
         {general(Value{{"msgId", "mgr_numbersync_state_req"}, {"deviceid", kVendorIdentifier}})},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.defaults().string("number_sync_register"), "on");
         }},
        {"number sync post set-up",
         requests::numberSyncPostSetup("https://carrier.example/numbersync"),
         {general(Value{{"msgId", "mgr_numbersync_post_setup_res"},
                        {"deviceid", kVendorIdentifier},
                        {"result", "success"},
                        {"reason", 1}})},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.world().host.app.openedURLs.back(), "https://carrier.example/numbersync");
         }},
        {"calling profile",
         requests::pairCallingProfile(),
         {},
         [](CommandHandlersTest& t) {
             EXPECT_EQ(t.world().host.app.openedURLs.back(), TQHFPRequest::kBluetoothSettings);
         }},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.name);
        EXPECT_EQ(repliesTo(one.request, one.settle), one.replies);
        if (one.check) {
            one.check(*this);
        }
    }
}

TEST_F(CommandHandlersTest, TheAlertsButtonStopsTheAlarmAndTellsTheWatch) {
    ask(kavowatch::requests::findMyPhoneStart());
    services.loader.finish(0, services_test::soundOf(1.5));
    ASSERT_TRUE(services.sink.isSounding());
    const std::size_t from = services.mark();
    world().host.app.pressAlertButton(0, 0);
    world().loop.advance(0.5);
    EXPECT_FALSE(services.sink.isSounding());
    EXPECT_FALSE(services.findMyDevice.isAlertShowing());
    const auto told = world().repliesSince(from);
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0].appId, 2);
    EXPECT_EQ(services_test::ServicesWorld::fields(told[0].json),
              (platform::Value{{"cmd", "findMyDevice"}, {"subcmd", "stop"}}));
    // It rings again, with a new alert.
    ask(kavowatch::requests::findMyPhoneStart());
    EXPECT_EQ(world().host.app.alertsShowing(), 1U);
}

TEST_F(CommandHandlersTest, WhileInTheBackgroundTheUserIsNotified) {
    using Value = platform::Value;
    world().host.app.state = platform::ApplicationState::background;
    const auto search = requests::webSearch("rain", "https://example.org/?q=rain");
    EXPECT_EQ(repliesTo(requests::launchBuddies()),
              (std::vector<Reply>{
                  general(Value{{"msgId", "contacts-launchbuddy-rsp"}, {"requestId", "0"}})}));
    EXPECT_TRUE(repliesTo(search).empty());
    EXPECT_TRUE(repliesTo(requests::pairCallingProfile()).empty());
    const auto& notes = world().host.app.notifications;
    ASSERT_EQ(notes.size(), 3U);
    EXPECT_EQ(notes[0].userInfo, (platform::Dictionary{{"actionToHandle", "buddyAction"}}));
    EXPECT_EQ(notes[1].body, "View website on your phone.");
    EXPECT_EQ(notes[1].fireDelay, 0);
    EXPECT_EQ(Value(notes[1].userInfo), search.body);
    EXPECT_EQ(notes[2].userInfo, (platform::Dictionary{{"actionToHandle", "hfpAction"}}));
    EXPECT_TRUE(world().host.app.openedURLs.empty());
    EXPECT_TRUE(world().host.navigator.pushes.empty());
}

TEST_F(CommandHandlersTest, TheBuddyNotificationComesASecondLaterNamingTheBuddySettings) {
    world().host.app.state = platform::ApplicationState::background;
    EXPECT_EQ(repliesTo(requests::launchBuddies()).size(), 1U);
    const auto& notes = world().host.app.notifications;
    ASSERT_EQ(notes.size(), 1U);
    EXPECT_EQ(notes[0].fireDelay, 1.0);
    EXPECT_EQ(notes[0].title, "Quorvel Kavo");
    EXPECT_EQ(notes[0].body, "View Buddy settings on your phone.");
    EXPECT_TRUE(notes[0].defaultSound);
}

TEST_F(CommandHandlersTest, TheClockFormatFollowsOneSecondAfterEachRequestOnTheVirtualClock) {
    world().device.setShowsAmPm(true);
    const std::size_t from = services.mark();
    const auto formats = [&] {
        std::vector<double> times;
        for (const auto& message : world().watch.messages().all()) {
            if (message.msgId == "mgr_sync_time_1224_time") {
                EXPECT_EQ((*message.json)["data"], platform::Value("12"));
                times.push_back(message.time);
            }
        }
        return times;
    };
    const double asked = world().loop.now();
    ask(requests::syncTime(), 0.1);
    ask(requests::syncTime(), 0.1);
    world().loop.advance(0.5);
    EXPECT_TRUE(formats().empty()) << "not before a second";
    EXPECT_EQ(commands.timeSync().pendingFormatSends(), 2U);
    world().loop.advance(1.0);
    // Each request has its own timer, and each sends.
    const auto times = formats();
    ASSERT_EQ(times.size(), 2U);
    EXPECT_GE(times[0] - asked, 1.0);
    EXPECT_LT(times[0] - asked, 1.5);
    EXPECT_EQ(commands.timeSync().pendingFormatSends(), 0U);
    EXPECT_GT(world().repliesSince(from).size(), 4U);

    // The link went before the timer: nothing is sent.
    ask(requests::syncTime(), 0.1);
    world().watch.disconnect();
    world().loop.advance(2.0);
    EXPECT_EQ(formats().size(), 2U);
    EXPECT_EQ(world().logs->count("expire1224Timer"), 3);
}

TEST_F(CommandHandlersTest, TheDataNetworkFollowsTheRoutes) {
    using Value = platform::Value;
    const auto status = [&] {
        const auto replies = repliesTo(requests::dataNetwork());
        return replies.size() == 1 ? replies[0].json["data"] : Value();
    };
    EXPECT_EQ(status(), Value(2));
    netlink->push({FakeNetwork::link(4, FakeNetwork::Kind::modem), FakeNetwork::defaultRoute(4),
                   FakeNetwork::removed(FakeNetwork::defaultRoute(2))});
    world().loop.runUntilIdle();
    EXPECT_EQ(status(), Value(1));
    netlink->push({FakeNetwork::removed(FakeNetwork::defaultRoute(4))});
    world().loop.runUntilIdle();
    EXPECT_EQ(status(), Value(0));
}

// ---- the icon of a phone application, looked up over HTTP ----

std::string lookupAnswer(const std::string& artwork) {
    return R"({"resultCount":1,"results":[{"artworkUrl60":")" + artwork + R"("}]})";
}

std::string patternOf(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(LoopbackServer::patternByte(i));
    }
    return bytes;
}

platform::Value iconReply(const std::string& bundleId, platform::Value icon) {
    return platform::Value{
        {"msgId", "msg_notification_app_icon_res"}, {"bundle_id", bundleId}, {"icon", icon}};
}

TEST_F(CommandHandlersTest, TheIconIsLookedUpAndSentInBase64Lines) {
    server.script("/lookup", {.body = lookupAnswer(server.url("/bytes?size=100"))});
    const std::string bundleId = "com.example.app&x=1 y";
    const std::size_t from = services.mark();
    ask(requests::phoneAppIcon(bundleId));
    awaitLookups();
    const auto sent = services.received(from, "msg_notification_app_icon_res");
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0].appId, 7);
    EXPECT_EQ(sent[0].priority, 1);
    const std::string pattern = patternOf(100);
    const std::string expected = TQAppIconLookup::encodeIcon(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(pattern.data()), pattern.size()));
    EXPECT_EQ(sent[0].json, iconReply(bundleId, platform::Value(expected)));
    EXPECT_EQ(expected.substr(64, 2), "\r\n");
    const auto asked = server.received();
    ASSERT_EQ(asked.size(), 2U);
    EXPECT_EQ(asked[0].target, "/scripted/lookup?bundleId=com.example.app%26x%3D1%20y");
}

TEST_F(CommandHandlersTest, ASlowLookupLeavesTheLinkRunning) {
    server.script("/lookup", {.body = lookupAnswer(server.url("/bytes?size=10")), .held = true});
    const std::size_t from = services.mark();
    ask(requests::phoneAppIcon("com.example.slow"));
    // The lookup hangs; the next message is answered at once.
    EXPECT_EQ(repliesTo(requests::notificationIndicator(platform::Value("1"))),
              (std::vector<Reply>{general(
                  platform::Value{{"msgId", "mgr_noti_indicator_res"}, {"result", "success"}})}));
    EXPECT_EQ(lookup.pending(), 1U);
    EXPECT_TRUE(services.received(from, "msg_notification_app_icon_res").empty());
    server.releaseHeld();
    awaitLookups();
    const auto sent = services.received(from, "msg_notification_app_icon_res");
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_FALSE(sent[0].json["icon"].isNull());
}

TEST_F(CommandHandlersTest, AFailingLookupGivesTheMissingIconReply) {
    struct Failure {
        const char* name;
        LoopbackServer::ScriptedAnswer lookupAnswer;
    };
    const std::vector<Failure> failures{
        {"the lookup fails", {.status = 500, .body = "{}"}},
        {"no result", {.body = R"({"resultCount":0,"results":[]})"}},
        {"no artwork", {.body = R"({"results":[{"trackName":"x"}]})"}},
        {"not JSON", {.contentType = "text/html", .body = "<html>"}},
        {"the icon cannot be fetched", {.body = lookupAnswer(server.url("/status/404"))}},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.name);
        server.script("/lookup", failure.lookupAnswer);
        const std::size_t from = services.mark();
        ask(requests::phoneAppIcon("com.example.app"));
        awaitLookups();
        const auto sent = services.received(from, "msg_notification_app_icon_res");
        ASSERT_EQ(sent.size(), 1U);
        EXPECT_EQ(sent[0].json, iconReply("com.example.app", platform::Value()));
    }
}

TEST_F(CommandHandlersTest, NoLookupServiceAnswers) {
    // A port nobody listens on.
    auto gone = std::make_unique<LoopbackServer>();
    const std::string address = gone->url("");
    gone.reset();
    TQAppIconLookup unreachable{*world().ap, world().loop, address, &loader};
    world().handlers.registry.appIcons = &unreachable;
    const std::size_t from = services.mark();
    ask(requests::phoneAppIcon("com.example.app"));
    ASSERT_TRUE(
        testing_support::runLoopUntil(world().loop, [&] { return unreachable.pending() == 0; }));
    world().loop.advance(0.5);
    const auto sent = services.received(from, "msg_notification_app_icon_res");
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_TRUE(sent[0].json["icon"].isNull());
}

}  // namespace
}  // namespace e2e
