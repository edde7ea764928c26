#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "listener/ListenerPrinters.h"
#include "listener/ListenerWorld.h"
#include "listener/TQCommandListener.h"
#include "platform/foundation/FileSystem.h"
#include "utils/TQUtils.h"

namespace listener_test {
namespace {

using Reply = ListenerWorld::Reply;

class TQCommandListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(world.connectWatch());
        // A watch in use, past its set-up, with the home screen shown and nothing on top.
        world.defaults.set("isWMSConnected", 1);
        world.defaults.set("support.app.update", "true");
        ASSERT_TRUE(
            TQUtils::setPreferenceByGroup(TQUtils::kGroupKavoInfo, {{"kavoModelNumber", "SM-R5"}}));
        world.host.navigator.navigation = {"TQViewController"};
        link = world.ap.get();
    }

    // The listener's own handler `method`.
    static Event mine(const std::string& method, Value argument = {}) {
        return call("commands." + method, std::move(argument));
    }

    struct Exchange {
        std::vector<Event> events;  // up to, not including, the data notification
        std::vector<Reply> replies;
    };
    // Sends one message and gives what followed; checks that the data notification came last.
    Exchange exchange(const Value& message, std::uint8_t appId = 1) {
        return exchangeBytes(jsonBytes(message), appId);
    }
    Exchange exchangeBytes(const Bytes& body, std::uint8_t appId) {
        const std::size_t fromEvent = world.events.size();
        const std::size_t fromReply = world.watch.messages().all().size();
        world.sendBytes(body, appId);
        auto events = world.events.since(fromEvent);
        EXPECT_FALSE(events.empty());
        if (!events.empty()) {
            EXPECT_EQ(events.back(), dataNote(body, appId));
            events.pop_back();
        }
        return {std::move(events), world.repliesSince(fromReply)};
    }

    ListenerWorld world;
    const TQAP* link = nullptr;
};

TEST_F(TQCommandListenerTest, EveryMessageOfTheTableReachesItsHandler) {
    struct Row {
        Value message;
        std::function<std::vector<Event>(const Value& sent)> expected;
        std::vector<Reply> replies = {};
    };
    const auto handledBy = [](const char* method) {
        return [method](const Value& sent) { return std::vector{mine(method, sent)}; };
    };
    const auto located = [](const Value& sent) {
        return std::vector{call("lbs.processSubCommand", sent)};
    };
    const auto calls = [](std::vector<Event> events) {
        return [events](const Value&) { return events; };
    };
    const auto nothing = [](const Value&) { return std::vector<Event>{}; };
    const auto contactSync = [](const Value& sent) {
        return std::vector{call("contacts.processResponse", sent)};
    };
    const Value appOrder = "<AppOrder><app>com.kavo.clock</app></AppOrder>";

    const Row rows[] = {
        {{{"msgId", "fmp-startalert-req"}}, handledBy("processFindMyDevice")},
        {{{"msgId", "fmp-founddevice-rsp"}}, handledBy("processFindMyDevice")},
        {{{"msgId", "fmp-stopalert-req"}}, handledBy("processFindMyDevice")},
        // The watch's find-my-phone commands have no "msgId".
        {{{"cmd", "findMyDevice"}, {"subcmd", "stop"}}, handledBy("processFindMyDevice")},
        {{{"msgId", "msg_notification_block_info_req"}, {"bundle_id", "com.example.mail"}},
         handledBy("processUpdateBlockApplicationList")},
        {{{"msgId", "msg_notification_app_icon_req"}, {"bundle_id", "com.example.mail"}},
         handledBy("processAppIcon")},
        {{{"msgId", "lbs-tracking-location-req"}}, located},
        {{{"msgId", "lbs-location-setting-check-req"}}, located},
        {{{"msgId", "lbs-exercise-info-req"}}, located},
        {{{"msgId", "contacts-getbuddy-req"}}, calls({call("contacts.performNativeSync")})},
        {{{"msgId", "contacts-launchbuddy-req"}}, calls({mine("launchBuddyView")})},
        {{{"msgId", "Request_Initial_Sync_Contact"}}, contactSync},
        {{{"msgId", "Request_Resume_Sync_Contact"}}, contactSync},
        {{{"msgId", "mgr_datanetwork_req"}}, calls({mine("sendNetworkStatus")})},
        {{{"msgId", "calendar-change-req"}}, calls({call("calendar.startCalendarEvent")})},
        {{{"msgId", "calendar-listwithoption-req"}, {"starttime", 1}, {"maxEventCnt", "20"}},
         calls({call("calendar.initializeEventDatabase"), call("calendar.cleanUpEvent"),
                call("calendar.populateCalendarData"), call("calendar.fullSyncWithChunk")})},
        {{{"msgId", "calendar-update-ack"}}, nothing},
        {{{"msgId", "calendar-sequence-req"}}, calls({call("calendar.updateSequenceNumber")})},
        {{{"msgId", "mgr_gps_changed_res"}}, nothing},
        {{{"msgId", "mgr_apps_order_res"}, {"data", appOrder}},
         calls({note("app_order_changed_notif")})},
        {{{"msgId", "mgr_wappsicon_res"}, {"packageNameArray", Value::array({"a"})}},
         [](const Value& sent) {
             return std::vector{mine("saveAppIcon", sent),
                                note("preloaded_app_icon_received_notif")};
         }},
        {{{"msgId", "mgr_show_on_device_req"}, {"data", "esimactivation_settings"}}, nothing},
        {{{"msgId", "mgr_numbersync_register_result_req"}, {"result", "success"}},
         calls({mine("processNumberSyncRegisterResultReq", "success"),
                mine("sendNumberSyncRegisterReq")})},
        {{{"msgId", "mgr_numbersync_register_res"}, {"state", true}},
         calls({mine("sendNumberSyncStateReq")})},
        {{{"msgId", "mgr_numbersync_state_res"}, {"state", "true"}},
         calls({call("numberSync.updateBlockAppForNumberSync")})},
        {{{"msgId", "mgr_numbersync_post_setup_res"}, {"deeplink", "carrier://numbersync/done"}},
         calls({mine("processNumberSyncPostSetupReq", "success")})},
        {{{"msgId", "mgr_esim_activation_status_ind"}, {"result", "added"}, {"profile_count", 2}},
         nothing},
        {{{"msgId", "mgr_hfp_connection_ind"}, {"result", "connected"}}, nothing},
        {{{"msgId", "mgr_hfp_connection_req"}}, calls({mine("processHFPConnectRequest")})},
        {{{"msgId", "mgr_app_update_req"}}, calls({call("store.checkUpdate")})},
        {{{"msgId", "mgr_push_km_reg_id_res"}}, nothing},
        {{{"msgId", "mgr_push_kavo_qppc_token_req"}}, nothing},
        {{{"msgId", "mgr_sync_time_req"}}, calls({mine("processTimeRequest")})},
        {{{"msgId", "mgr_systemtime_req"}, {"t1", 1'699'999'999'000}},
         calls({mine("processSystemTimeRequest", Value::array({1'699'999'999'000, kNow}))})},
        {{{"msgId", "mgr_noti_indicator_req"}, {"state", "true"}},
         handledBy("processNotiIndicatorRequest")},
        {{{"msgId", "mgr_noti_indicator_res"}}, nothing},
        {{{"msgId", "mgr_wapps_uninstall_req"}, {"packageName", "com.kavo.clock"}},
         calls({call("store.uninstallAppWithPackageName", "com.kavo.clock"),
                call("store.uninstallClockWithPackageName", "com.kavo.clock")}),
         {{1, 1, {{"msgId", "mgr_apps_order_req"}, {"deviceid", kVendorIdentifier}}}}},
        {{{"msgId", "mgr_wapps_uninstall_res"}}, nothing},
        {{{"msgId", "context-websearch-req"}, {"url", "https://example.com/"}},
         handledBy("processContextWebsearch")},
        {{{"msgId", "mgr_ups_mode_ind"}, {"status", 1}}, handledBy("processUPS")},
        {{{"msgId", "mgr_show_on_device_req"}, {"data", "texttemplate_setting"}},
         calls({mine("launchGeneralMessage")})},
        {{{"msgId", "mgr_show_on_device_res"}}, nothing},
        {{{"msgId", "mgr_install_host_app_req"},
          {"download_type", "kavo"},
          {"deeplink_url", "quorvelapps://ProductDetail/000000123"}},
         nothing,
         {{1, 1, {{"msgId", "mgr_install_host_app_res"}, {"result", "true"}}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message.description());
        const Exchange got = exchange(row.message);
        EXPECT_EQ(got.events, row.expected(row.message));
        EXPECT_EQ(got.replies, row.replies);
    }

    // What the rows did on their own.
    const auto& defaults = world.defaults;
    EXPECT_EQ(TQUtils::retrieveXml("SM-R5", "apporderlist.xml"), *appOrder.stringIf());
    EXPECT_EQ(defaults.integer("sync_app_icon_flag"), 1);
    EXPECT_EQ(defaults.boolean("number_sync_register"), true);
    EXPECT_EQ(defaults.string("number_sync_state"), "true");
    EXPECT_EQ(defaults.integer("profile_count"), 2);
    EXPECT_EQ(defaults.integer("isPushSettingsExchanged"), 1);
    const auto& navigator = world.host.navigator;
    EXPECT_EQ(navigator.pushes, (std::vector<testing_support::RecordingScreenNavigator::Push>{
                                    {"TQESimActivationGuideViewController", true}}));
    EXPECT_EQ(navigator.presentations,
              (std::vector<testing_support::RecordingScreenNavigator::Presentation>{
                  {"Main_iPhone", "HFPConnectingPage",
                   platform::ModalTransitionStyle::crossDissolve, true}}));
    EXPECT_EQ(world.host.app.openedURLs,
              (std::vector<std::string>{"carrier://numbersync/done",
                                        "quorvelapps://ProductDetail/000000123"}));
    EXPECT_TRUE(world.host.app.notifications.empty());
    EXPECT_EQ(world.logs->flagOf("CALENDAR_LIST_REQ"), LGLogFlagInfo);
    EXPECT_EQ(world.logs->count("maxEventCnt: 20"), 1);
    EXPECT_EQ(world.logs->flagOf("WAPPS_UNINSTALL_REQ"), LGLogFlagInfo);
    EXPECT_EQ(world.logs->flagOf("receive contact sync message from kavo"), LGLogFlagVerbose);

    // A full sync under way goes on with its next chunk.
    world.handlers.calendar.step = 1;
    const auto next = exchange({{"msgId", "calendar-listwithoption-req"}});
    EXPECT_EQ(next.events, (std::vector{call("calendar.initializeEventDatabase"),
                                        call("calendar.fullSyncWithChunk")}));
}

TEST_F(TQCommandListenerTest, ChannelsOtherThanJsonAndUnknownMessagesAreOnlyBroadcast) {
    // The web proxy takes its frames raw; health data and unknown messages go nowhere.
    const Bytes frame = {0x01, 0x00, 0x05, 'G', 'E'};
    auto got = exchangeBytes(frame, TQCommandListener::kWebProxyAppId);
    EXPECT_EQ(got.events, std::vector{call("webProxy.prepareForADPURequest", frame, link)});
    got = exchangeBytes(frame, TQCommandListener::kHealthAppId);
    EXPECT_TRUE(got.events.empty());
    EXPECT_EQ(world.logs->count("TQCommandListener: Data Recieved for Vitmoor"), 1);
    for (const Value& message :
         {Value{{"msgId", "mgr_unheard_of_req"}}, Value::array({1, 2}), Value{{"msgId", 7}}}) {
        got = exchange(message);
        EXPECT_TRUE(got.events.empty()) << message.description();
        EXPECT_TRUE(got.replies.empty());
    }
    got = exchangeBytes(Bytes{'n', 'o', 't', ' ', 'j', 's', 'o', 'n'}, 1);
    EXPECT_TRUE(got.events.empty());

    // The broadcast's identifier is an unsigned number.
    const Event& last = world.events.all().back();
    ASSERT_EQ(last.name, "note:onDataReceivedNotification");
    EXPECT_EQ(last.argument["appId"].type(), Value::Type::UInt);
}

TEST_F(TQCommandListenerTest, TheHandshakeAndTheMusicServiceGetTheirMessagesFirst) {
    const Value wappsList{{"msgId", "mgr_wapps_list_res"}, {"clocklist", "<x/>"}};
    const Value clocksList{{"msgId", "mgr_clocks_list_res"}, {"clocklist", "<y/>"}};
    const Value settings{{"msgId", "mgr_sync_init_setting_res"}};
    const Value systemTime{{"msgId", "mgr_systemtime_req"}, {"t1", 5}};
    const Value music{{"msgId", "music-remotecontrol-req"}};
    struct Case {
        Value message;
        std::uint8_t appId;
        bool home;
        bool inUse;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        // The list answers to a locale change reach the sequence whatever the screens show.
        {wappsList, 1, false, true, {"initSequence.processResponse"}},
        {clocksList, 1, true, true, {"initSequence.processResponse"}},
        {wappsList, 1, false, false, {}},
        {wappsList, 1, true, false, {"initSequence.processResponse"}},
        {settings, 1, true, false, {"initSequence.processResponse"}},
        {settings, 1, false, true, {}},
        // A general message with a row of its own goes to the sequence first.
        {systemTime,
         1,
         true,
         true,
         {"initSequence.processResponse", "commands.processSystemTimeRequest"}},
        // Music only once the set-up is over; a list answer on the music channel goes to both.
        {music, 9, true, false, {"music.processMessage"}},
        {music, 9, false, true, {}},
        {clocksList, 9, true, true, {"initSequence.processResponse", "music.processMessage"}},
        {settings, 8, true, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.description() + " app " + std::to_string(c.appId) +
                     (c.home ? " home" : "") + (c.inUse ? " in use" : ""));
        world.host.navigator.homeScreenIsRoot = c.home;
        world.defaults.set("isWMSConnected", c.inUse ? 1 : 0);
        const std::size_t from = world.events.size();
        world.send(c.message, c.appId);
        auto names = world.events.namesSince(from);
        names.pop_back();  // the data notification
        EXPECT_EQ(names, c.calls);
        for (const Event& event : world.events.since(from)) {
            if (event.name == "initSequence.processResponse" ||
                event.name == "music.processMessage") {
                EXPECT_EQ(event.argument, c.message);
            }
        }
    }
    EXPECT_EQ(world.logs->count("sequence for locale chanage"), 3);
}

TEST_F(TQCommandListenerTest, WeatherMessagesAreAnsweredByTheirTopLevelKeys) {
    world.host.navigator.navigation = {"TQViewController", "TQWeatherViewController"};
    const Value request = Value{{"WEATHER_REQUEST", Value{{"FETCH_REQ", 1}}}};
    struct Case {
        const char* what;
        Value message;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"fetch", request, {"weather.processWeatherAck", "weather.sendSettingData"}},
        {"updated",
         {{"WEATHER_REQUEST", Value{{"FETCH_REQ", 0}, {"UPDATED_BY_KAVO", "1"}}}},
         {"weather.processWeatherAck", "weather.sendSettingData"}},
        {"add city",
         {{"WEATHER_REQUEST", Value{{"ADD_CURRENT_CITY", true}}}},
         {"weather.processWeatherAck", "weather.sendSettingData"}},
        {"no key set",
         {{"WEATHER_REQUEST", Value{{"FETCH_REQ", 2}}}},
         {"weather.processWeatherAck"}},
        {"not a dictionary", {{"WEATHER_REQUEST", "FETCH_REQ"}}, {"weather.processWeatherAck"}},
        {"city", {{"WEATHER_RESPONSE", Value{{"CURRENT_CITY_NAME", "Lisbon"}}}}, {}},
        {"empty city", {{"WEATHER_RESPONSE", Value{{"CURRENT_CITY_NAME", ""}}}}, {}},
        {"request and response",
         {{"WEATHER_REQUEST", Value{{"FETCH_REQ", 1}}},
          {"WEATHER_RESPONSE", Value{{"ERROR_STATE", "SERVER_DOWN"}}}},
         {"weather.processWeatherAck", "weather.sendSettingData", "weather.sendSettingData"}},
        {"response wins over an acknowledgement",
         {{"WEATHER_RESPONSE", platform::Dictionary{}}, {"WEATHER_ACK_SEQ", "1"}},
         {}},
        {"acknowledgement", {{"WEATHER_ACK_SEQ", "1700000000000"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t from = world.events.size();
        world.send(c.message, 5);
        auto names = world.events.namesSince(from);
        names.pop_back();
        EXPECT_EQ(names, c.calls);
        for (const Event& event : world.events.since(from)) {
            if (event.name.starts_with("weather.")) {
                EXPECT_EQ(event.link, link);
            }
        }
    }
    EXPECT_EQ(world.defaults.string("WEATHER_CURRENT_CITY"), "Lisbon");
    EXPECT_EQ(world.logs->count("WEATHER_ACK_SEQ Response From Kavo"), 1);
    EXPECT_EQ(world.logs->count("WEATHER_REQUEST : FETCHUPDATED_BY_KAVO_REQ"), 1);

    // Only the two known errors clear the city and reach the screen; every error state is
    // answered with the settings.
    for (const char* state : {"GPS_ERROR", "NETWORK_ERROR"}) {
        world.defaults.set("WEATHER_CURRENT_CITY", "Lisbon");
        world.defaults.set("WEATHER_USE_CURRENT_LOCATION", true);
        const std::size_t from = world.events.size();
        world.send({{"WEATHER_RESPONSE", Value{{"ERROR_STATE", state}}}}, 5);
        EXPECT_EQ(world.events.namesSince(from).front(), "weather.sendSettingData");
        EXPECT_FALSE(world.defaults.string("WEATHER_CURRENT_CITY"));
        EXPECT_EQ(world.defaults.boolean("WEATHER_USE_CURRENT_LOCATION"), false);
        EXPECT_EQ(world.logs->flagOf(std::string("WEATHER_RESPONSE : ERROR_STATE : ") + state),
                  LGLogFlagError);
    }
    using Operation = testing_support::RecordingScreenNavigator::Operation;
    EXPECT_EQ(world.host.navigator.operations,
              (std::vector<Operation>{
                  {"TQWeatherViewController", "updateCityCell", Value()},
                  {"TQWeatherViewController", "showErrorPopupWithType:", "GPS_ERROR"},
                  {"TQWeatherViewController", "showErrorPopupWithType:", "NETWORK_ERROR"}}));
}

TEST_F(TQCommandListenerTest, TheWatchAsksToShowTheWeatherSettings) {
    const Value show{{"WEATHER_REQUEST", Value{{"SHOW_SETTING_ON_DEVICE", 1}}}};
    auto& navigator = world.host.navigator;
    // In the background a notification leads there; in front the screen is pushed once.
    world.host.app.state = platform::ApplicationState::background;
    world.send(show, 5);
    world.host.app.state = platform::ApplicationState::active;
    world.send(show, 5);
    world.send(show, 5);
    EXPECT_EQ(world.events.count("weather.createWeatherNotification"), 1);
    EXPECT_EQ(world.events.count("weather.processWeatherAck"), 3);
    EXPECT_EQ(navigator.pushes, (std::vector<testing_support::RecordingScreenNavigator::Push>{
                                    {"TQWeatherViewController", true}}));
}

TEST_F(TQCommandListenerTest, InstallRequestsAnswerOnlyForTheKnownDownloadTypes) {
    auto& app = world.host.app;
    auto& navigator = world.host.navigator;
    struct Case {
        const char* what;
        Value type;
        Value link;
        platform::ApplicationState state = platform::ApplicationState::active;
        std::optional<std::string> result;
        std::vector<std::string> opened = {};
        int notifications = 0;
        bool alertOnTop = false;
        std::string navigationTop = "TQViewController";
    };
    const Case cases[] = {
        {"store link",
         "kavo",
         "quorvelapps://ProductDetail/1",
         {},
         "true",
         {"quorvelapps://ProductDetail/1"}},
        {"store link around white space",
         "kavo",
         " \n\tquorvelapps://MainCategoryList \n",
         {},
         "true",
         {"quorvelapps://MainCategoryList"}},
        {"in the background",
         "kavo",
         "quorvelapps://ProductDetail/1",
         platform::ApplicationState::background,
         "true",
         {},
         1},
        {"under an alert", "kavo", "quorvelapps://ProductDetail/1", {}, "true", {}, 0, true},
        {"over the store",
         "kavo",
         "quorvelapps://ProductDetail/1",
         {},
         "true",
         {},
         0,
         false,
         "TQKavoAppsWebViewController"},
        {"scheme not at the start", "kavo", "https://evil.example/?quorvelapps://x", {}, "false"},
        {"no link", "kavo", Value(), {}, "false"},
        {"phone", "phone", "quorvelapps://ProductDetail/1", {}, "false"},
        {"other type", "web", "quorvelapps://ProductDetail/1", {}, std::nullopt},
        {"empty type", "", "quorvelapps://ProductDetail/1", {}, std::nullopt},
        {"no type", Value(), "quorvelapps://ProductDetail/1", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app.state = c.state;
        app.openedURLs.clear();
        app.notifications.clear();
        navigator.topMostIsAlert = c.alertOnTop;
        navigator.navigation = {c.navigationTop};
        Value message{{"msgId", "mgr_install_host_app_req"}, {"pkg_name", "com.kavo.pay"}};
        if (!c.type.isNull()) {
            message["download_type"] = c.type;
        }
        if (!c.link.isNull()) {
            message["deeplink_url"] = c.link;
        }
        const Exchange got = exchange(message);
        std::vector<Reply> expected;
        if (c.result) {
            expected.push_back(
                {1, 1, {{"msgId", "mgr_install_host_app_res"}, {"result", *c.result}}});
        }
        EXPECT_EQ(got.replies, expected);
        EXPECT_EQ(app.openedURLs, c.opened);
        ASSERT_EQ(app.notifications.size(), static_cast<std::size_t>(c.notifications));
        if (c.notifications > 0) {
            EXPECT_EQ(app.notifications[0].userInfo["KavoAppsURILink"],
                      "quorvelapps://ProductDetail/1");
        }
    }
}

TEST_F(TQCommandListenerTest, ConditionalRowsDoNothingWhenTheirConditionFails) {
    auto& app = world.host.app;
    const auto silent = [this](const Value& message) {
        const Exchange got = exchange(message);
        EXPECT_TRUE(got.events.empty()) << message.description();
        EXPECT_TRUE(got.replies.empty()) << message.description();
    };
    // No package name, or one that cannot name its icon file: nothing is uninstalled.
    for (const Value& name : {Value(), Value(""), Value("../../Library"), Value("a/b"), Value(7)}) {
        Value message{{"msgId", "mgr_wapps_uninstall_req"}};
        if (!name.isNull()) {
            message["packageName"] = name;
        }
        silent(message);
    }
    // The order list is kept only while the watch is in use, and announced only once stored.
    world.defaults.set("isWMSConnected", 0);
    silent({{"msgId", "mgr_apps_order_res"}, {"data", "<a/>"}});
    world.defaults.set("isWMSConnected", 1);
    ASSERT_TRUE(TQUtils::setPreferenceByGroup(TQUtils::kGroupKavoInfo, {}));
    silent({{"msgId", "mgr_apps_order_res"}, {"data", "<a/>"}});
    EXPECT_FALSE(std::filesystem::exists(world.container.documents()));
    // The calling profile's page shows only for a connection; the eSIM guide only in front.
    silent({{"msgId", "mgr_hfp_connection_ind"}, {"result", "disconnected"}});
    app.state = platform::ApplicationState::inactive;
    silent({{"msgId", "mgr_show_on_device_req"}, {"data", "esimactivation_settings"}});
    app.state = platform::ApplicationState::active;
    world.host.navigator.navigation = {"TQViewController", "TQESimActivationGuideViewController"};
    silent({{"msgId", "mgr_show_on_device_req"}, {"data", "esimactivation_settings"}});
    silent({{"msgId", "mgr_show_on_device_req"}, {"data", "something_else"}});
    EXPECT_TRUE(world.host.navigator.pushes.empty());
    EXPECT_TRUE(world.host.navigator.presentations.empty());
    // The update check only for a watch that said it supports it.
    world.defaults.set("support.app.update", "TRUE");
    silent({{"msgId", "mgr_app_update_req"}});
    // The push flag is set once and never synchronised here.
    world.defaults.set("isPushSettingsExchanged", true);
    silent({{"msgId", "mgr_push_km_reg_id_res"}});
    EXPECT_EQ(world.defaults.object("isPushSettingsExchanged"), Value(true));
}

TEST_F(TQCommandListenerTest, NumberSyncInTheBackgroundAndItsDeepLink) {
    auto& app = world.host.app;
    app.state = platform::ApplicationState::background;
    const auto got =
        exchange({{"msgId", "mgr_numbersync_register_result_req"}, {"result", "fail"}});
    EXPECT_EQ(got.events.size(), 2U);
    ASSERT_EQ(app.notifications.size(), 1U);
    EXPECT_EQ(app.notifications[0].userInfo["actionToHandle"], "numberSyncAction");

    // A deep link that is not a link is never handed on; the handler still answers.
    for (const Value& link : {Value("rm -rf ~; x:y"), Value("-x:y"), Value(), Value(3)}) {
        Value message{{"msgId", "mgr_numbersync_post_setup_res"}};
        if (!link.isNull()) {
            message["deeplink"] = link;
        }
        const auto answered = exchange(message);
        EXPECT_EQ(answered.events, std::vector{mine("processNumberSyncPostSetupReq", "success")});
    }
    EXPECT_TRUE(app.openedURLs.empty());
}

TEST_F(TQCommandListenerTest, ARowDoesItsOwnWorkWhenItsHandlerIsNotBuilt) {
    world.handlers.registry = TQHandlers{};
    world.host.navigator.homeScreenIsRoot = true;
    world.host.app.state = platform::ApplicationState::background;
    world.defaults.set("isWMSConnected", 1);
    world.defaults.set("WEATHER_CURRENT_CITY", "Oslo");
    struct Row {
        Value message;
        std::vector<Event> events;
        std::vector<Reply> replies = {};
    };
    const std::vector<Row> rows{
        {Value{{"msgId", "mgr_wappsicon_res"}},
         {{"note:preloaded_app_icon_received_notif", Value(), nullptr}}},
        {Value{{"msgId", "mgr_numbersync_register_result_req"}, {"result", "success"}}, {}},
        {Value{{"msgId", "mgr_numbersync_register_res"}, {"state", "on"}}, {}},
        {Value{{"msgId", "mgr_numbersync_state_res"}, {"state", true}}, {}},
        {Value{{"msgId", "mgr_numbersync_post_setup_res"},
               {"deeplink", "https://carrier.example/"}},
         {}},
        {Value{{"msgId", "mgr_wapps_uninstall_req"}, {"packageName", "com.kavo.clock"}},
         {},
         {{1, 1, Value{{"msgId", "mgr_apps_order_req"}, {"deviceid", kVendorIdentifier}}}}},
        {Value{{"WEATHER_RESPONSE", Value{{"ERROR_STATE", "GPS_ERROR"}}}}, {}},
        {Value{{"msgId", "mgr_sync_time_req"}}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message.description());
        const auto got = exchange(row.message);
        EXPECT_EQ(got.events, row.events);
        EXPECT_EQ(got.replies, row.replies);
    }
    EXPECT_EQ(world.defaults.integer("sync_app_icon_flag"), 1);
    EXPECT_EQ(world.defaults.string("number_sync_register"), "on");
    EXPECT_EQ(world.defaults.boolean("number_sync_state"), true);
    EXPECT_FALSE(world.defaults.object("WEATHER_CURRENT_CITY"));
    EXPECT_EQ(world.defaults.boolean("WEATHER_USE_CURRENT_LOCATION"), false);
    EXPECT_EQ(world.host.app.openedURLs, (std::vector<std::string>{"https://carrier.example/"}));
    ASSERT_EQ(world.host.app.notifications.size(), 1U);
    EXPECT_EQ(world.host.app.notifications[0].userInfo,
              (platform::Dictionary{{"actionToHandle", "numberSyncAction"}}));
    EXPECT_EQ(world.logs->count("TQCommandListener: App is in Background, throw Number Sync "
                                "Notification"),
              1);
    EXPECT_EQ(world.logs->count("WEATHER_RESPONSE : ERROR_STATE : GPS_ERROR"), 1);
    EXPECT_EQ(world.logs->count("TQHandlers: no TQWatchAppIconHandler yet, saveAppIcon not done"),
              1);
    EXPECT_EQ(
        world.logs->count("TQHandlers: no TQInitSequenceHandler yet, mgr_sync_time_req not done"),
        1);
}

}  // namespace
}  // namespace listener_test
