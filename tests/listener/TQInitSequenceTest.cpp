#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/TQXMLParser.h"
#include "listener/ListenerPrinters.h"
#include "listener/ListenerWorld.h"
#include "listener/TQInitSequence.h"
#include "platform/location/LocationServices.h"
#include "utils/TQUtils.h"

namespace listener_test {
namespace {

using platform::Dictionary;

constexpr const char* kModelNumber = "KV-R500";
constexpr const char* kAddress = "A0:B1:C2:D3:1A:2B";
constexpr const char* kStatusXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DeviceStatus>\n<device>\n"
    "<deviceName>Kavo R5 (1A2B)</deviceName>\n<deviceFeature>\n<voicecall>\n true \n</voicecall>\n"
    "<support.manage.app>true</support.manage.app>\n<support.app.update>false</"
    "support.app.update>\n"
    "<support.esim.activation>false</support.esim.activation>\n"
    "<support.esim.multiprofile>false</support.esim.multiprofile>\n"
    "<support.callforward.numbersync>true</support.callforward.numbersync>\n"
    "</deviceFeature>\n</device>\n</DeviceStatus>";
constexpr const char* kAppList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><WappsList><App><PackageName>com.kavo.weather"
    "</PackageName></App></WappsList>";
constexpr const char* kFaceList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ClocksList><Clock><PackageName>com.kavo.face"
    "</PackageName></Clock></ClocksList>";

Value watchInfo(std::string_view initialed, std::string_view address = kAddress,
                Value modelNumber = kModelNumber) {
    Value info{{"msgId", "mgr_watch_info_res"},
               {"model_name", kWatchName},
               {"nuvra_version", "R500XXU1"},
               {"sales_code", "XAR"},
               {"serial", "RKV0001"},
               {"bt_mac_address", address},
               {"is_initialed_watch", initialed},
               {"is_reactivation_lock", "false"},
               {"profile_count", "1"}};
    if (!modelNumber.isNull()) {
        info["model_number"] = modelNumber;
    }
    return info;
}

Value settingsReply(std::string_view numberSync = "true") {
    return Value{{"msgId", "mgr_sync_init_setting_res"},
                 {"Numbersync_onoff", numberSync},
                 {"Numbersync_registered", "1"},
                 {"noti_onoff", "1"},
                 {"screen_lock", "0"},
                 {"wear_onoff", "1"},
                 {"noti_indicator", "true"}};
}

void connectAndAsk(ListenerWorld& world) {
    ASSERT_NO_FATAL_FAILURE(world.connectWatch());
    ASSERT_TRUE(world.watch.waitForMessage("mgr_watch_info_req", 5));
}

// What the setup screens hear of the sequence.
class RecordingScreens final : public TQInitSeqDelegate {
public:
    void onSyncInitSettingRes(bool isReconnecting) override {
        calls.push_back(Value::array({"onSyncInitSettingRes", isReconnecting}));
    }
    void onAppUserAgreementRes(bool success, bool locked, const Value& reason) override {
        calls.push_back(Value::array({"onAppUserAgreementRes", success, locked, reason}));
    }
    void onSetupWizardEulaFinishedRes(bool success, const Value& reason,
                                      bool isReconnecting) override {
        calls.push_back(
            Value::array({"onSetupWizardEulaFinishedRes", success, reason, isReconnecting}));
    }
    void onReactivationLockSetRes(bool success, const Value& reason) override {
        calls.push_back(Value::array({"onReactivationLockSetRes", success, reason}));
    }
    void onReactivationLockUnlockRes(bool success, const Value& reason) override {
        calls.push_back(Value::array({"onReactivationLockUnlockRes", success, reason}));
    }
    std::vector<Value> calls;
};

// The phone's link with the real sequence behind the dispatch; the home screen is the root, so
// every general message of the watch reaches the sequence. The watch is scripted by the test.
class TQInitSequenceTest : public ::testing::Test {
protected:
    TQInitSequenceTest() {
        world.handlers.registry.initSequence = &sequence;
        world.host.navigator.homeScreenIsRoot = true;
        world.device.setTimeZone({"America/New_York", -5 * 3600});
        world.device.setShowsAmPm(true);
    }

    // Returns once the watch has the sequence's first request.
    void connect() {
        ASSERT_NO_FATAL_FAILURE(connectAndAsk(world));
        mark = world.watch.messages().all().size();
    }

    // The phone's messages since the last look.
    std::vector<Value> sent() {
        std::vector<Value> messages;
        for (const auto& reply : world.repliesSince(mark)) {
            EXPECT_EQ(reply.appId, 1);
            EXPECT_EQ(reply.priority, 1);
            messages.push_back(reply.json);
        }
        mark = world.watch.messages().all().size();
        return messages;
    }
    std::vector<std::string> sentIds() {
        std::vector<std::string> ids;
        for (const Value& message : sent()) {
            ids.push_back(message["msgId"].stringValue().value_or("?"));
        }
        return ids;
    }

    std::optional<Dictionary> storedDictionary(const char* folder, const char* file) {
        return TQUtils::retrieveDictionary(folder, file);
    }
    std::optional<std::string> storedXml(const char* folder, const char* file) {
        return TQUtils::retrieveXml(folder, file);
    }
    void storeIdentity(const char* address, const char* voiceCall = "false") {
        ASSERT_TRUE(TQUtils::saveDictionary(Dictionary{{"btMacAddress", address},
                                                       {"kavoModelNumber", kModelNumber},
                                                       {"voiceCall", voiceCall},
                                                       {"timestamp", "1600000000000"}},
                                            kModelNumber, "kavo_info.plist")
                        .ok());
    }

    // A new watch through its lists; returns with the settings request out.
    void runNewSetUpToTheSettings() {
        ASSERT_NO_FATAL_FAILURE(connect());
        world.send(watchInfo("true"));
        world.send(
            {{"msgId", "mgr_wearable_status_ind"}, {"type", "connect"}, {"data", kStatusXml}});
        world.send({{"msgId", "mgr_wapps_list_res"}, {"clocklist", kAppList}});
        world.send({{"msgId", "mgr_clocks_list_res"}, {"clocklist", kFaceList}});
        world.send({{"msgId", "mgr_status_exchange_done"}});
        sent();
    }

    ListenerWorld world;
    TQInitSequence sequence{*world.ap, world.handlers.registry};
    RecordingScreens screens;
    std::size_t mark = 0;
};

TEST_F(TQInitSequenceTest, ANewWatchIsAskedForEverythingInOrder) {
    world.defaults.set("currentLocale", "en_GB");
    ASSERT_NO_FATAL_FAILURE(connectAndAsk(world));
    const auto first = world.repliesSince(0);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.back().json, (Value{{"msgId", "mgr_watch_info_req"},
                                        {"device_id", kVendorIdentifier},
                                        {"hm_ver", "1.0.0"},
                                        {"dp_lastapp", 1}}));
    mark = world.watch.messages().all().size();
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 0);

    world.send(watchInfo("true"));
    const auto hostStatus = sent();
    ASSERT_EQ(hostStatus.size(), 1U) << "a factory-state watch needs no reset";
    EXPECT_EQ(hostStatus[0], (Value{{"msgId", "mgr_host_status_ind"},
                                    {"type", "connect"},
                                    {"timestamp", "1700000000123"},
                                    {"data", sequence.generateHostXml()},
                                    {"preinstalled", 0},
                                    {"telephony", "false"}}));
    EXPECT_EQ(world.defaults.string("kavoSalesCode"), "XAR");
    EXPECT_EQ(world.defaults.string("profile_count"), "1");
    EXPECT_FALSE(sequence.isReconnecting());

    world.send({{"msgId", "mgr_wearable_status_ind"}, {"type", "connect"}, {"data", kStatusXml}});
    EXPECT_EQ(sent(), (std::vector<Value>{
                          {{"msgId", "mgr_wapps_list_req"}, {"result", ""}, {"locale", "en_GB"}}}));
    EXPECT_EQ(world.defaults.string("voiceCall"), "true");

    world.send({{"msgId", "mgr_wapps_list_res"}, {"clocklist", kAppList}});
    EXPECT_EQ(sent(), (std::vector<Value>{{{"msgId", "mgr_clocks_list_req"}, {"result", ""}}}));

    // 2023-11-14 22:13:20 UTC is 17:13:20 in New York.
    const Value settingsRequest{{"msgId", "mgr_sync_init_setting_req"},
                                {"timezone", "America/New_York"},
                                {"dateformat", "yyyy-MM-dd"},
                                {"date1224", "12"},
                                {"datetime", "2023 11 14 05 13 20"},
                                {"autotimesync", 1},
                                {"locale", "en_GB"},
                                {"datetimeepoch", "1700000000123"},
                                {"safety", "false"},
                                {"safety_cam", ""},
                                {"safety_voice", ""},
                                {"gmt", "-18000000"},
                                {"screenOnOff", 0},
                                {"gestureDetail", 1}};
    world.send({{"msgId", "mgr_clocks_list_res"}, {"clocklist", kFaceList}});
    EXPECT_EQ(sent(), (std::vector<Value>{settingsRequest}));
    EXPECT_EQ(world.defaults.string("currentLocale"), "en_GB");

    // With the locale unchanged the status exchange asks for the settings once more.
    world.send({{"msgId", "mgr_status_exchange_done"}});
    EXPECT_EQ(sent(), (std::vector<Value>{settingsRequest}));

    // Nothing was written yet: a new watch's lists wait for the end of the set-up.
    EXPECT_FALSE(std::filesystem::exists(world.container.documents() / kModelNumber));
    EXPECT_EQ(world.logs->count("TQInitSequence: Init msg sent: mgr_sync_init_setting_req"), 2);
}

TEST_F(TQInitSequenceTest, ANewSetUpEndsWhenTheWatchFinishesItsSetupWizard) {
    world.defaults.set("BLOCKED_APPS_LIST", platform::Array{"x"});
    ASSERT_TRUE(std::filesystem::create_directories(world.container.documents() / kModelNumber /
                                                    "AppIcons"));
    ASSERT_NO_FATAL_FAILURE(runNewSetUpToTheSettings());

    // Both settings answers come back; the screens move on once, and the later answer only
    // refreshes the number-sync flags.
    world.send(settingsReply("true"));
    world.send(settingsReply("false"));
    EXPECT_EQ(world.events.count("note:onSyncInitSettingResNotification"), 1);
    EXPECT_EQ(world.events.count("numberSync.updateBlockAppForNumberSync"), 2);
    EXPECT_EQ(world.defaults.boolean("number_sync_state"), false);
    EXPECT_EQ(world.defaults.boolean("number_sync_register"), true);
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 0);

    // The consent page.
    sequence.setDelegate(&screens);
    sequence.sendAppUserAgreementReq(true, false, true);
    world.loop.advance(1);
    EXPECT_EQ(sent(), (std::vector<Value>{{{"msgId", "mgr_app_user_agreement_req"},
                                           {"ondra", true},
                                           {"fmd_and_fmk", false},
                                           {"ErrorLog", true}}}));
    world.send({{"msgId", "mgr_app_user_agreement_res"}, {"result", "success"}});
    sequence.sendSetupWizardEulaFinishedReq();
    world.loop.advance(1);
    EXPECT_EQ(sent(), (std::vector<Value>{{{"msgId", "mgr_setupwizard_eula_finished_req"},
                                           {"device_id", kVendorIdentifier}}}));

    const std::size_t before = world.events.size();
    world.send({{"msgId", "mgr_setupwizard_eula_finished_res"}, {"result", "success"}});
    EXPECT_EQ(sent(), (std::vector<Value>{
                          {{"msgId", "mgr_apps_order_req"}, {"deviceid", kVendorIdentifier}},
                          {{"msgId", "mgr_gps_changed_req"}, {"gps", false}},
                          {{"msgId", "mgr_wps_changed_req"}, {"wps", false}}}));
    EXPECT_EQ(world.events.namesSince(before),
              (std::vector<std::string>{
                  "store.defaultBlockAppList", "store.defaultWeatherSettings",
                  "note:OOBECompletionNoti", "music.registerMediaPlayerNotifications",
                  "push.exchangePushSettingsWithKavo", "note:onDataReceivedNotification"}));
    EXPECT_EQ(
        screens.calls,
        (std::vector<Value>{Value::array({"onAppUserAgreementRes", true, false, nullptr}),
                            Value::array({"onSetupWizardEulaFinishedRes", true, nullptr, false})}));

    EXPECT_EQ(storedXml(kModelNumber, "WearableStatus.xml"), kStatusXml);
    EXPECT_EQ(storedXml(kModelNumber, "wapplist.xml"), kAppList);
    EXPECT_EQ(storedXml(kModelNumber, "clocklist.xml"), kFaceList);
    const Dictionary userSettings{{"notiOnOff", "1"}, {"screenLock", "0"}, {"wearOnOff", "1"}};
    EXPECT_EQ(storedDictionary(kModelNumber, "user_settings.plist"), userSettings);
    const Dictionary identity{{"btMacAddress", kAddress},
                              {"kavoModelName", kWatchName},
                              {"kavoModelNumber", kModelNumber},
                              {"kavoNuvraVersion", "R500XXU1"},
                              {"kavoSalesCode", "XAR"},
                              {"kavoSerial", "RKV0001"},
                              {"is_initialed_watch", "true"},
                              {"is_reactivation_lock", "false"},
                              {"voiceCall", "true"},
                              {"timestamp", "1700000000123"}};
    EXPECT_EQ(storedDictionary(kModelNumber, "kavo_info.plist"), identity);
    EXPECT_EQ(world.defaults.dictionary("groupKavoInfo"), identity);
    EXPECT_EQ(world.defaults.dictionary("groupUserSettings"), userSettings);
    EXPECT_EQ(world.defaults.string("deviceMac"), "1A2B");
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 1);
    EXPECT_EQ(world.defaults.boolean("NOTI_INDICATOR_ON_OFF"), true);
    EXPECT_EQ(world.defaults.object("BLOCKED_APPS_LIST"), std::nullopt);
    EXPECT_EQ(world.defaults.integer("isPushSettingsExchanged"), 0);
    EXPECT_EQ(world.defaults.integer("sync_app_icon_flag"), 0);
    EXPECT_EQ(world.defaults.string("support.manage.app"), "true");
    EXPECT_EQ(world.defaults.string("support.app.update"), "false");
    EXPECT_EQ(world.defaults.string("support.callforward.numbersync"), "true");
    EXPECT_FALSE(std::filesystem::exists(world.container.documents() / kModelNumber / "AppIcons"));
    EXPECT_EQ(world.events.count("store.checkUpdate"), 0) << "no update check on a new set-up";

    // A repeated answer reaches the screens but stores nothing over the set-up.
    world.send(
        {{"msgId", "mgr_setupwizard_eula_finished_res"}, {"result", "fail"}, {"reason", "again"}});
    EXPECT_EQ(screens.calls.back(),
              Value::array({"onSetupWizardEulaFinishedRes", false, "again", false}));
    EXPECT_EQ(world.defaults.dictionary("groupUserSettings"), userSettings);
    EXPECT_EQ(world.events.count("note:OOBECompletionNoti"), 1);
    EXPECT_TRUE(sent().empty());
}

TEST(TQInitSequenceDecisionTest, TheStoredIdentityDecidesBetweenResetSetUpAndReconnection) {
    struct Case {
        const char* name;
        const char* storedAddress;  // null: no stored identity
        const char* initialed;
        bool reset;
        bool reconnecting;
    };
    const Case cases[] = {
        {"first watch in factory state", nullptr, "true", false, false},
        {"first watch with settings", nullptr, "false", true, false},
        {"known watch after a factory reset", kAddress, "true", false, false},
        {"known watch coming back", kAddress, "false", false, true},
        {"another watch in factory state", "00:00:00:00:00:01", "TRUE", false, false},
        {"another watch with settings", "00:00:00:00:00:01", "0", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ListenerWorld world;
        TQInitSequence sequence{*world.ap, world.handlers.registry};
        world.handlers.registry.initSequence = &sequence;
        world.host.navigator.homeScreenIsRoot = true;
        if (c.storedAddress != nullptr) {
            ASSERT_TRUE(TQUtils::saveDictionary(Dictionary{{"btMacAddress", c.storedAddress},
                                                           {"timestamp", "1600000000000"}},
                                                kModelNumber, "kavo_info.plist")
                            .ok());
        }
        ASSERT_NO_FATAL_FAILURE(connectAndAsk(world));
        const std::size_t from = world.watch.messages().all().size();
        world.send(watchInfo(c.initialed));
        std::vector<std::string> ids;
        std::string timestamp;
        for (const auto& reply : world.repliesSince(from)) {
            ids.push_back(reply.json["msgId"].stringValue().value_or("?"));
            timestamp = reply.json["timestamp"].stringValue().value_or(timestamp);
        }
        const std::vector<std::string> withReset{"mgr_reset_device_req", "mgr_host_status_ind"};
        const std::vector<std::string> withoutReset{"mgr_host_status_ind"};
        EXPECT_EQ(ids, c.reset ? withReset : withoutReset);
        EXPECT_EQ(sequence.isReconnecting(), c.reconnecting);
        // A returning watch keeps the time stamp of its first set-up.
        EXPECT_EQ(timestamp, c.reconnecting ? "1600000000000" : "1700000000123");
        EXPECT_EQ(
            world.logs->count("TQInitSequence: KM First Launch, Kavo has settings, need reset"),
            c.storedAddress == nullptr && c.reset ? 1 : 0);
    }
}

// An identity that is there but cannot be read is not taken for none, which would reset the
// watch and replace the file: the handshake stops undetermined.
TEST(TQInitSequenceDecisionTest, AnIdentityThatCannotBeReadStopsTheHandshakeWithoutAReset) {
    ListenerWorld world;
    TQInitSequence sequence{*world.ap, world.handlers.registry};
    world.handlers.registry.initSequence = &sequence;
    world.host.navigator.homeScreenIsRoot = true;
    const auto file = world.container.documents() / kModelNumber / "kavo_info.plist";
    std::filesystem::create_directories(file);  // reading it fails with EISDIR
    ASSERT_NO_FATAL_FAILURE(connectAndAsk(world));
    const std::size_t from = world.watch.messages().all().size();
    world.send(watchInfo("false"));
    EXPECT_TRUE(world.repliesSince(from).empty());
    EXPECT_FALSE(sequence.stateDetermined());
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_EQ(world.logs->containing("kavo_info.plist cannot be read"), 1);
}

TEST_F(TQInitSequenceTest, AReturningWatchEndsTheHandshakeWithItsSettings) {
    storeIdentity(kAddress, "false");
    world.defaults.set("currentLocale", "en_GB");
    world.defaults.set("NOTI_TURN_ON_OFF", 1);
    world.defaults.set("NOTI_AUTO_SHOW_DETAILS_ON_OFF", "0");
    world.defaults.set("support.app.update", "true");
    world.device.setTimeZone({"Europe/Berlin", 3600});
    world.device.setShowsAmPm(false);
    platform::FixedLocationServices location(true, platform::LocationAuthorization::whenInUse);
    platform::ScopedInstall<platform::LocationServices> installLocation(&location);
    ASSERT_NO_FATAL_FAILURE(connect());

    world.send(watchInfo("false"));
    world.send({{"msgId", "mgr_wearable_status_ind"}, {"type", "connect"}, {"data", kStatusXml}});
    world.send({{"msgId", "mgr_wapps_list_res"}, {"clocklist", kAppList}});
    world.send({{"msgId", "mgr_clocks_list_res"}, {"clocklist", kFaceList}});
    world.send({{"msgId", "mgr_status_exchange_done"}});
    const auto requests = sent();
    ASSERT_EQ(requests.size(), 5U);
    for (const Value& request : {requests[3], requests[4]}) {
        EXPECT_EQ(request["msgId"], "mgr_sync_init_setting_req");
        EXPECT_EQ(request["date1224"], "24");
        EXPECT_EQ(request["datetime"], "2023 11 14 11 13 20");
        EXPECT_EQ(request["gmt"], "3600000");
        EXPECT_EQ(request["screenOnOff"], 1);
        EXPECT_EQ(request["gestureDetail"], 0);
    }

    const std::size_t before = world.events.size();
    world.send(settingsReply());
    EXPECT_EQ(sentIds(), (std::vector<std::string>{"mgr_apps_order_req", "mgr_gps_changed_req",
                                                   "mgr_wps_changed_req"}));
    EXPECT_EQ(world.events.namesSince(before),
              (std::vector<std::string>{
                  "numberSync.updateBlockAppForNumberSync",
                  "music.registerMediaPlayerNotifications", "store.checkUpdate",
                  "push.exchangePushSettingsWithKavo", "usageLog.generateJSONForConnByUsr",
                  "note:onSyncInitSettingResNotification", "note:onDataReceivedNotification"}));
    EXPECT_EQ(world.events.all()[world.events.size() - 2].argument, true);
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 1);
    EXPECT_EQ(world.defaults.string("deviceMac"), "1A2B");
    EXPECT_EQ(world.logs->count("Kavo Manager : TQInitSequence IS_WMS_CONNECTED TRUE"), 1);

    // The identity keeps the first set-up's voice-call feature and time stamp; the default
    // takes the new one. The received status and lists are not written.
    const auto identity = storedDictionary(kModelNumber, "kavo_info.plist");
    ASSERT_TRUE(identity);
    EXPECT_EQ(Value(*identity)["voiceCall"], "false");
    EXPECT_EQ(Value(*identity)["timestamp"], "1600000000000");
    EXPECT_EQ(world.defaults.string("voiceCall"), "true");
    EXPECT_EQ(world.defaults.dictionary("groupKavoInfo"), identity);
    EXPECT_EQ(storedDictionary(kModelNumber, "user_settings.plist"),
              (Dictionary{{"notiOnOff", "1"}, {"screenLock", "0"}, {"wearOnOff", "1"}}));
    for (const char* file : {"WearableStatus.xml", "wapplist.xml", "clocklist.xml"}) {
        EXPECT_FALSE(storedXml(kModelNumber, file)) << file;
    }

    // The second settings answer of the run ends nothing again.
    world.send(settingsReply("false"));
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(world.events.count("note:onSyncInitSettingResNotification"), 1);
    EXPECT_EQ(world.defaults.boolean("number_sync_state"), false);

    // A later change of the phone's locale refreshes the stored lists only.
    world.device.setLocaleIdentifier("fr_FR");
    world.core->sendCurrentLocaleOnly("fr_FR");
    world.loop.advance(1);
    EXPECT_EQ(sent(), (std::vector<Value>{
                          {{"msgId", "mgr_wapps_list_req"}, {"result", ""}, {"locale", "fr_FR"}}}));
    world.send({{"msgId", "mgr_wapps_list_res"}, {"clocklist", "<WappsList>fr</WappsList>"}});
    EXPECT_EQ(sentIds(), (std::vector<std::string>{"mgr_clocks_list_req"}));
    world.send({{"msgId", "mgr_clocks_list_res"}, {"clocklist", "<ClocksList>fr</ClocksList>"}});
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(storedXml(kModelNumber, "wapplist.xml"), "<WappsList>fr</WappsList>");
    EXPECT_EQ(storedXml(kModelNumber, "clocklist.xml"), "<ClocksList>fr</ClocksList>");
    EXPECT_EQ(world.logs->count("TQInitSequence: system restore and only locale change"), 1);
}

TEST_F(TQInitSequenceTest, ListsRefetchedForANewLocaleGoToTheConnectingWatchsFolder) {
    // The phone was last set up with another model, in another language.
    world.defaults.set("groupKavoInfo", Dictionary{{"kavoModelNumber", "KV-OLD"}});
    world.defaults.set("currentLocale", "de_DE");
    ASSERT_NO_FATAL_FAILURE(connect());
    world.send(watchInfo("true"));
    world.send({{"msgId", "mgr_wearable_status_ind"}, {"type", "connect"}, {"data", kStatusXml}});
    world.send({{"msgId", "mgr_status_exchange_done"}});
    EXPECT_TRUE(sequence.isLocaleChanged());
    EXPECT_EQ(world.logs->count("TQInitSequence: Reconnecting & Locale Changed"), 1);
    world.send({{"msgId", "mgr_wapps_list_res"}, {"clocklist", kAppList}});
    world.send({{"msgId", "mgr_clocks_list_res"}, {"clocklist", kFaceList}});
    EXPECT_EQ(sentIds(), (std::vector<std::string>{"mgr_host_status_ind", "mgr_wapps_list_req",
                                                   "mgr_wapps_list_req", "mgr_clocks_list_req",
                                                   "mgr_sync_init_setting_req"}));
    EXPECT_EQ(storedXml(kModelNumber, "wapplist.xml"), kAppList);
    EXPECT_EQ(storedXml(kModelNumber, "clocklist.xml"), kFaceList);
    EXPECT_FALSE(std::filesystem::exists(world.container.documents() / "KV-OLD"));

    world.send(settingsReply());
    world.send({{"msgId", "mgr_setupwizard_eula_finished_res"}, {"result", "success"}});
    EXPECT_EQ(storedXml(kModelNumber, "wapplist.xml"), kAppList);
    EXPECT_EQ(storedXml(kModelNumber, "clocklist.xml"), kFaceList);
    EXPECT_FALSE(std::filesystem::exists(world.container.documents() / "KV-OLD"));
}

TEST_F(TQInitSequenceTest, AWatchWithoutAModelNumberIsSetUpWithoutFiles) {
    // The watch before it had its icons kept under its own model number.
    const auto previousIcons = world.container.documents() / "KV-OLD" / "AppIcons";
    ASSERT_TRUE(std::filesystem::create_directories(previousIcons));
    world.defaults.set("groupKavoInfo", Dictionary{{"kavoModelNumber", "KV-OLD"}});
    ASSERT_NO_FATAL_FAILURE(connect());
    world.send(watchInfo("true", kAddress, Value()));
    world.send({{"msgId", "mgr_wearable_status_ind"}, {"type", "connect"}, {"data", kStatusXml}});
    world.send({{"msgId", "mgr_wapps_list_res"}, {"clocklist", kAppList}});
    world.send({{"msgId", "mgr_clocks_list_res"}, {"clocklist", kFaceList}});
    world.send(settingsReply());
    world.send({{"msgId", "mgr_setupwizard_eula_finished_res"}, {"result", "success"}});

    std::vector<std::filesystem::path> written;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(world.container.documents())) {
        written.push_back(entry.path());
    }
    EXPECT_EQ(written,
              (std::vector<std::filesystem::path>{previousIcons.parent_path(), previousIcons}));
    EXPECT_EQ(world.defaults.dictionary("groupKavoInfo"),
              (Dictionary{{"kavoModelNumber", "KV-OLD"}}));
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 1);
    // The features come from the status the watch sent in this run.
    EXPECT_EQ(world.defaults.string("support.manage.app"), "true");
}

TEST_F(TQInitSequenceTest, EveryWatchInformationOfARunIsDecidedAfresh) {
    storeIdentity(kAddress);
    ASSERT_NO_FATAL_FAILURE(connect());
    world.send(watchInfo("false"));
    EXPECT_TRUE(sequence.isReconnecting());
    sent();
    // Another answer in the same run, from a watch that names no model number.
    world.send(watchInfo("false", "00:00:00:00:00:02", Value()));
    EXPECT_FALSE(sequence.isReconnecting());
    const auto messages = sent();
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_EQ(messages[0]["msgId"], "mgr_reset_device_req");
    EXPECT_EQ(messages[1]["timestamp"], "1700000000123");
}

TEST_F(TQInitSequenceTest, RepliesBeforeTheWatchInformationAreIgnored) {
    ASSERT_NO_FATAL_FAILURE(connect());
    world.send({{"msgId", "mgr_status_exchange_done"}});
    world.send({{"msgId", "mgr_wearable_status_ind"}, {"type", "connect"}, {"data", kStatusXml}});
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(world.logs->count("TQInitSequence:  processResponse: State Undetermined"), 2);

    // Only a status indication of type "connect" counts.
    world.send(watchInfo("true"));
    sent();
    world.send({{"msgId", "mgr_wearable_status_ind"}, {"type", "update"}, {"data", kStatusXml}});
    EXPECT_TRUE(sent().empty());

    // A second start throws the run away and asks again.
    world.defaults.set("isWMSConnected", 1);
    sequence.startInit();
    world.loop.advance(1);
    EXPECT_EQ(sentIds(), (std::vector<std::string>{"mgr_watch_info_req"}));
    EXPECT_FALSE(sequence.stateDetermined());
    EXPECT_TRUE(sequence.connectingKavoInfo().empty());
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 0);
}

TEST_F(TQInitSequenceTest, TheScreensRequestsAndTheirAnswers) {
    ASSERT_NO_FATAL_FAILURE(connect());
    Value locked = watchInfo("true");
    locked.mutableDictionary()->remove("is_reactivation_lock");
    locked["is_reactivation_locked"] = "true";
    world.send(locked);
    sent();
    sequence.setDelegate(&screens);

    sequence.sendReactivationLockSetReq("code", "https://auth.example/x", true);
    sequence.sendReactivationLockUnlockReq("code", "https://auth.example/x", false, true);
    sequence.processEsimActivationReq("skip");
    world.loop.advance(1);
    EXPECT_EQ(sent(),
              (std::vector<Value>{{{"msgId", "mgr_reactivationlock_set_req"},
                                   {"authcode", "code"},
                                   {"authURL", "https://auth.example/x"},
                                   {"is_quorvel_device", true}},
                                  {{"msgId", "mgr_reactivationlock_unlock_req"},
                                   {"authcode", "code"},
                                   {"authURL", "https://auth.example/x"},
                                   {"keep_setting", false},
                                   {"is_quorvel_device", true}},
                                  {{"msgId", "mgr_esim_activation_req"}, {"result", "skip"}}}));

    world.send({{"msgId", "mgr_app_user_agreement_res"}, {"result", "success"}});
    world.send({{"msgId", "mgr_reactivationlock_set_res"}, {"result", "fail"}, {"reason", 3}});
    world.send({{"msgId", "mgr_reactivationlock_unlock_res"}, {"result", "success"}});
    EXPECT_EQ(screens.calls,
              (std::vector<Value>{Value::array({"onAppUserAgreementRes", true, true, nullptr}),
                                  Value::array({"onReactivationLockSetRes", false, 3}),
                                  Value::array({"onReactivationLockUnlockRes", true, nullptr})}));
}

TEST_F(TQInitSequenceTest, TheHostStatusIsTheDocumentTheWatchReadsAndStaysWellFormed) {
    world.device.setSystemVersion("12");
    world.device.setMachineIdentifier("aarch64");
    EXPECT_EQ(sequence.generateHostXml(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DeviceStatus>\n<device>\n"
              "<deviceID>6F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0</deviceID>\n"
              "<deviceName>Kim's phone</deviceName>\n<devicePlatform>iOS</devicePlatform>\n"
              "<devicePlatformVersion>12</devicePlatformVersion>\n"
              "<modelNumber>aarch64</modelNumber>\n<swVersion></swVersion>\n"
              "<salesCode></salesCode>\n<MCC></MCC>\n<MNC></MNC>\n<deviceFeature>\n"
              "<vendor>LO</vendor>\n"
              "<support.doublepressing.lastapp>true</support.doublepressing.lastapp>\n"
              "</deviceFeature>\n</device>\n</DeviceStatus>");

    platform::FixedDeviceInfo odd("Kim & Lee's <phone>", kVendorIdentifier);
    platform::ScopedInstall<platform::DeviceInfo> install(&odd);
    const std::string xml = sequence.generateHostXml();
    EXPECT_NE(xml.find("<deviceName>Kim &amp; Lee's &lt;phone&gt;</deviceName>"),
              std::string::npos);
    const auto parsed = TQXMLParser::dictionaryForXMLString(xml);
    ASSERT_TRUE(parsed);
    const auto name = Value(*parsed)["DeviceStatus"]["device"]["deviceName"]["text"].stringValue();
    ASSERT_TRUE(name);
    EXPECT_EQ(TQUtils::trimmedWhiteSpaceAndNewlines(*name), "Kim & Lee's <phone>");
}

}  // namespace
}  // namespace listener_test
