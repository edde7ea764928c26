#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "listener/ListenerPrinters.h"
#include "listener/ListenerWorld.h"
#include "listener/TQCoreManager.h"

namespace listener_test {
namespace {

// Only the events whose name starts with one of the prefixes, in order.
std::vector<std::string> namesWith(const std::vector<Event>& events,
                                   std::initializer_list<std::string_view> prefixes) {
    std::vector<std::string> names;
    for (const Event& event : events) {
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&](std::string_view prefix) { return event.name.starts_with(prefix); })) {
            names.push_back(event.name);
        }
    }
    return names;
}

bool inUse() {
    return TQCoreManager::isWMSConnected();
}

TEST(TQCoreManagerTest, AFreshConnectionStoresTheWatchAndStartsTheHandshake) {
    ListenerWorld world;
    ASSERT_NO_FATAL_FAILURE(world.connectWatch());

    const auto names =
        namesWith(world.events.all(),
                  {"database.", "initSequence.", "note:onConnect", "textTemplates.", "weather."});
    EXPECT_EQ(names, (std::vector<std::string>{"database.checkIfNeedToDeleteOrInsertTemplateData",
                                               "initSequence.setDelegate", "initSequence.startInit",
                                               "note:onConnectDeviceNotification"}));
    EXPECT_EQ(world.handlers.initSequence.delegate, world.core.get());
    EXPECT_EQ(world.defaults.string("deviceUUID"), kWatch.toLongString());
    EXPECT_EQ(world.defaults.string("connectedDeviceName"), kWatchName);
    EXPECT_FALSE(inUse());
    EXPECT_EQ(world.logs->flagOf("[Core Manager]: Device Connected"), LGLogFlagInfo);
    EXPECT_EQ(world.logs->flagOf("[Core Manager]: Device Connected and start init"), LGLogFlagInfo);

    // The watch was announced as found, by identifier and name.
    const auto discovered =
        std::find_if(world.events.all().begin(), world.events.all().end(),
                     [](const Event& e) { return e.name == "note:onDiscoverDevicesNotification"; });
    ASSERT_NE(discovered, world.events.all().end());
    const Value expected{{"identifier", kWatch.toLongString()}, {"name", kWatchName}};
    ASSERT_TRUE(discovered->argument.isArray());
    EXPECT_NE(std::find(discovered->argument.arrayIf()->begin(),
                        discovered->argument.arrayIf()->end(), expected),
              discovered->argument.arrayIf()->end());
}

TEST(TQCoreManagerTest, AnotherWatchOfTheSameModelLosesTheModelsData) {
    struct Case {
        platform::Dictionary decision;
        bool deletes;
    };
    const Case cases[] = {
        {{{"needDeleteForThisModelNumber", true}, {"needToInsertTemplateData", true}}, true},
        {{{"needDeleteForThisModelNumber", false}, {"needToInsertTemplateData", true}}, false},
        {{{"needToInsertTemplateData", true}}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Value(c.decision).description());
        ListenerWorld world;
        world.handlers.database.decision = c.decision;
        world.defaults.set("IS_DB_INITIALIZATION_DONE", "YES");
        world.core->onConnectDevice();
        const TQAP* link = world.ap.get();
        std::vector<Event> expected{call("database.checkIfNeedToDeleteOrInsertTemplateData")};
        if (c.deletes) {
            expected.push_back(call("textTemplates.initializeCallRejectionDataToKavo",
                                    Value::array({true, false}), link));
            expected.push_back(call("textTemplates.initializeGeneralMessageDataToKavo",
                                    Value::array({true, false}), link));
            expected.push_back(call("weather.initializeWeatherDataIfIsNeedToDelete", true));
        }
        expected.push_back(call("initSequence.setDelegate"));
        expected.push_back(call("initSequence.startInit"));
        expected.push_back(note("onConnectDeviceNotification"));
        EXPECT_EQ(world.events.all(), expected);
        EXPECT_EQ(world.defaults.object("IS_DB_INITIALIZATION_DONE").has_value(), !c.deletes);
        // Not connected by the phone: nothing to store about the watch.
        EXPECT_FALSE(world.defaults.object("deviceUUID"));
    }
}

TEST(TQCoreManagerTest, AConnectionOfAWatchInUseOnlyAnnouncesIt) {
    ListenerWorld world;
    world.defaults.set("isWMSConnected", 1);
    world.core->onConnectDevice();
    EXPECT_EQ(world.events.all(), std::vector{note("onConnectDeviceNotification")});
    EXPECT_TRUE(inUse());
    EXPECT_EQ(world.logs->count("[Core Manager]: Device Connected"), 1);
}

TEST(TQCoreManagerTest, ARestoredLinkResumesWithoutAHandshake) {
    for (const bool localeChanged : {false, true}) {
        SCOPED_TRACE(localeChanged ? "locale changed" : "same locale");
        ListenerWorld world;
        ASSERT_NO_FATAL_FAILURE(world.connectWatch());
        world.defaults.set("isWMSConnected", 1);  // the handshake went through
        world.defaults.set("currentLocale", localeChanged ? "de_DE" : "en_GB");
        world.loop.advance(1);
        const std::size_t fromReply = world.watch.messages().all().size();

        world.relaunch();
        const std::size_t from = world.events.size();
        world.loop.runUntilIdle();
        EXPECT_FALSE(TQPeripheral::willRestore());
        EXPECT_EQ(namesWith(world.events.since(from),
                            {"initSequence.", "music.", "database.", "note:onConnect"}),
                  (std::vector<std::string>{"music.registerMediaPlayerNotifications",
                                            "note:onConnectDeviceNotification"}));
        EXPECT_TRUE(inUse());
        EXPECT_EQ(world.defaults.string("currentLocale"), "en_GB");
        world.loop.advance(1);
        std::vector<ListenerWorld::Reply> expected;
        if (localeChanged) {
            expected.push_back(
                {1, 1, {{"msgId", "mgr_wapps_list_req"}, {"result", ""}, {"locale", "en_GB"}}});
        }
        EXPECT_EQ(world.repliesSince(fromReply), expected);
        EXPECT_EQ(world.logs->count("Only Locale Changed : sending MGR_WAPPS_LIST_REQ"),
                  localeChanged ? 1 : 0);
        EXPECT_EQ(world.logs->flagOf("WillRestore registerMediaPlayerNotifications"),
                  LGLogFlagVerbose);
        EXPECT_EQ(world.logs->flagOf(
                      "[TQCoreManager]onConnectDevice: willRestore & IS_WMS_CONNECTED TRUE"),
                  LGLogFlagDebug);

        // The restoration was one connection's: after a loss the watch is set up again.
        if (localeChanged) {
            world.watch.disconnect();
            ASSERT_TRUE(world.watch.waitUntil([&] { return !inUse(); }, 5));
            const std::size_t again = world.events.size();
            ASSERT_NO_FATAL_FAILURE(world.connectWatch());
            EXPECT_EQ(world.events.count("initSequence.startInit"), 2);
            EXPECT_EQ(namesWith(world.events.since(again), {"initSequence.startInit"}).size(), 1U);
        }
    }
}

TEST(TQCoreManagerTest, ADisconnectionIsAnnouncedWhileTheWatchStillCountsAsInUse) {
    ListenerWorld world;
    ASSERT_NO_FATAL_FAILURE(world.connectWatch());
    // The handshake ends: the sequence marks the watch in use and reports.
    world.defaults.set("isWMSConnected", 1);
    ASSERT_NE(world.handlers.initSequence.delegate, nullptr);
    std::size_t from = world.events.size();
    world.handlers.initSequence.delegate->onSyncInitSettingRes(true);
    EXPECT_EQ(world.events.since(from),
              (std::vector{call("usageLog.generateJSONForConnByUsr"),
                           note("onSyncInitSettingResNotification", true)}));
    EXPECT_EQ(world.logs->flagOf("[Core Manager]: TQCoreManager - onSyncInitSettingRes"),
              LGLogFlagInfo);

    from = world.events.size();
    world.watch.disconnect();
    ASSERT_TRUE(world.watch.waitUntil(
        [&] { return world.events.count("note:onDisconnectDeviceNotification") == 1; }, 5));
    EXPECT_EQ(namesWith(world.events.since(from), {"usageLog.", "note:onDisconnect", "music."}),
              (std::vector<std::string>{"usageLog.generateJSONForConnByUsr",
                                        "note:onDisconnectDeviceNotification",
                                        "music.unregisterMediaPlayerNotifications"}));
    const auto seen = std::find_if(
        world.wmsAtNotification.begin(), world.wmsAtNotification.end(),
        [](const auto& entry) { return entry.first == "onDisconnectDeviceNotification"; });
    ASSERT_NE(seen, world.wmsAtNotification.end());
    EXPECT_TRUE(seen->second);
    EXPECT_FALSE(inUse());
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 0);
    EXPECT_EQ(world.logs->count("[Core Manager]: TQAppDelegate IS_WMS_CONNECTED FALSE"), 1);
}

TEST(TQCoreManagerTest, LinkEventsBecomeNotificationsWithTheirPayload) {
    ListenerWorld world;
    world.core->onBleManagerStateChange(false);
    world.core->onBleManagerStateChange(true);
    world.core->autoConnectionInProgress();
    world.core->onError(TQError(9, "Device not connected"));
    world.core->onDiscoverDevices({});
    // The results the manager has no use for change nothing.
    world.core->onAppUserAgreementRes(true, false, "x");
    world.core->onSetupWizardEulaFinishedRes(true, Value(), false);
    world.core->onReactivationLockSetRes(false, Value());
    world.core->onReactivationLockUnlockRes(true, Value());
    EXPECT_EQ(world.events.all(),
              (std::vector{
                  note("onBleManagerStateChangeNotification", false),
                  note("onBleManagerStateChangeNotification", true), note("autoConnectionProgress"),
                  note("onErrorNotification",
                       Value{{"errorCode", 9}, {"errorDescription", "Device not connected"}}),
                  note("onDiscoverDevicesNotification", platform::Array{})}));
    for (const char* line : {"[Core Manager]: Manager Change", "[Core Manager]: Auto Connect",
                             "[Core Manager]: Error", "[Core Manager]: Device Discover"}) {
        EXPECT_EQ(world.logs->flagOf(line), LGLogFlagInfo) << line;
    }
}

TEST(TQCoreManagerTest, SetUpTakesTheDelegateRoleBack) {
    ListenerWorld world;
    EXPECT_EQ(world.ap->delegate(), world.core);
    // A pairing screen holds the role for a while.
    world.ap->setDelegate(nullptr);
    world.core->setup();
    world.core->setup();
    EXPECT_EQ(world.ap->delegate(), world.core);
    EXPECT_EQ(&world.core->kavoManager(), world.ap.get());
}

TEST(TQCoreManagerTest, ThePowerSavingStatusIsAnIntegerDefaultingToZero) {
    ListenerWorld world;
    EXPECT_EQ(TQCoreManager::powerSavingStatus(), 0);
    const struct {
        Value stored;
        std::int32_t status;
    } cases[] = {
        {2, 2}, {"3", 3}, {-1, -1}, {"x", 0}, {std::int64_t{1} << 40, 0}, {true, 1},
    };
    for (const auto& c : cases) {
        world.defaults.set("POWER_SAVING_STATUS", c.stored);
        EXPECT_EQ(TQCoreManager::powerSavingStatus(), c.status) << c.stored.description();
    }
    for (const auto& [stored, expected] :
         {std::pair<Value, bool>{Value(), false}, {1, true}, {0, false}, {"YES", true}}) {
        world.defaults.set("isWMSConnected", stored);
        EXPECT_EQ(inUse(), expected) << stored.description();
    }
}

TEST(TQCoreManagerTest, WithoutTheSubsystemsAConnectionIsStillAnnounced) {
    ListenerWorld world;
    world.handlers.registry = TQHandlers{};
    world.core->onConnectDevice();
    world.core->onDisconnectDevice();
    EXPECT_EQ(world.events.all(), (std::vector{note("onConnectDeviceNotification"),
                                               note("onDisconnectDeviceNotification")}));
    EXPECT_EQ(world.logs->count("TQHandlers: no TQInitSequenceHandler yet, startInit not done"), 1);
    EXPECT_EQ(
        world.logs->count("TQHandlers: no TQUsageLogHandler yet, connection usage log not done"),
        1);
}

}  // namespace
}  // namespace listener_test
