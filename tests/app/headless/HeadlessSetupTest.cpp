#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/headless/HeadlessHome.h"
#include "app/headless/HeadlessSetup.h"
#include "link/TQBleManager.h"
#include "link/TQFileHandler.h"
#include "listener/ListenerPrinters.h"
#include "listener/ListenerWorld.h"
#include "listener/TQInitSequence.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/security/FileKeychain.h"
#include "sim/WatchState.h"
#include "utils/TQKeyChainWrapper.h"
#include "utils/TQUtils.h"

namespace listener_test {
namespace {

using kavowatch::Purpose;

// The phone as the headless program builds it, with the real sequence and the stand-in for
// the pairing pages, against a simulated watch that answers from its own state.
class HeadlessSetupTest : public ::testing::Test {
protected:
    explicit HeadlessSetupTest(kavowatch::WatchState state = {}) : responder(world.watch, state) {
        world.handlers.registry.initSequence = &sequence;
    }

    // The watch in setup mode comes near a phone that has just started.
    void pairThroughTheStandIn() {
        world.watch.powerOn();
        world.watch.advertise(static_cast<std::uint8_t>(Purpose::setupWizard));
        setup = HeadlessSetup::create(
            *world.ap, sequence, *world.core, navigator,
            [this] { return world.manager->peripheral().isServiceAdded(); },
            [this] { ++wentHome; });
        setup->start();
    }

    // The general messages the watch received from `from` on, by name.
    std::vector<std::string> requestsSince(std::size_t from) const {
        std::vector<std::string> names;
        const auto& all = world.watch.messages().all();
        for (std::size_t i = from; i < all.size(); ++i) {
            if (all[i].appId == 1 && !all[i].msgId.empty()) {
                names.push_back(all[i].msgId);
            }
        }
        return names;
    }

    ListenerWorld world;
    platform::FileKeychain keychain{world.folder.path() / "keychain"};
    platform::ScopedInstall<platform::Keychain> installKeychain{&keychain};
    int wentHome = 0;
    platform::HeadlessScreenNavigator navigator;
    platform::ScopedInstall<platform::ScreenNavigator> installNavigator{&navigator};
    TQInitSequence sequence{*world.ap, world.handlers.registry};
    kavowatch::WatchResponder responder;
    std::shared_ptr<HeadlessSetup> setup;
};

const std::vector<std::string> kNewSetUp{
    "mgr_watch_info_req",         "mgr_host_status_ind",
    "mgr_wapps_list_req",         "mgr_clocks_list_req",
    "mgr_sync_init_setting_req",  "mgr_sync_init_setting_req",
    "mgr_app_user_agreement_req", "mgr_setupwizard_eula_finished_req",
    "mgr_apps_order_req",         "mgr_gps_changed_req",
    "mgr_wps_changed_req"};

TEST_F(HeadlessSetupTest, ANewWatchIsSetUpAndThenComesBackAsTheKnownWatch) {
    pairThroughTheStandIn();
    ASSERT_TRUE(world.watch.waitUntil([&] { return setup->isFinished(); }, 60));
    world.loop.advance(1);

    EXPECT_EQ(requestsSince(0), kNewSetUp);
    ASSERT_EQ(responder.record().hostStatusXml.size(), 1U);
    EXPECT_EQ(responder.record().hostStatusXml[0], sequence.generateHostXml());
    EXPECT_EQ(responder.record().consents,
              (std::vector<Value>{{{"msgId", "mgr_app_user_agreement_req"},
                                   {"ondra", false},
                                   {"fmd_and_fmk", false},
                                   {"ErrorLog", false}}}));
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 1);
    EXPECT_EQ(world.defaults.boolean("isCompletedSetupWizard"), true);
    EXPECT_TRUE(navigator.isHomeScreenRoot());
    EXPECT_EQ(world.events.count("note:OOBECompletionNoti"), 1);
    EXPECT_EQ(TQUtils::retrieveXml("KV-R500", "wapplist.xml"), responder.state().appsListXml);
    EXPECT_EQ(TQUtils::retrieveXml("KV-R500", "WearableStatus.xml"), statusXml(responder.state()));
    const auto identity = TQUtils::retrieveDictionary("KV-R500", "kavo_info.plist");
    ASSERT_TRUE(identity);
    EXPECT_EQ(Value(*identity)["btMacAddress"], responder.state().identity.btMacAddress);

    // The watch walks away and returns looking for its phone: the core manager has the link
    // again and the handshake ends by itself, keeping the first set-up's time stamp.
    const std::size_t from = world.watch.messages().all().size();
    world.watch.vanish();
    world.loop.advance(1);
    world.watch.powerOn();
    world.watch.advertise(static_cast<std::uint8_t>(Purpose::autoConnection));
    ASSERT_TRUE(world.watch.waitUntil(
        [&] { return world.events.count("note:onSyncInitSettingResNotification") == 1; },
        TQBleManager::kSearchInterval + 30));
    world.loop.advance(1);
    EXPECT_EQ(requestsSince(from),
              (std::vector<std::string>{
                  "mgr_watch_info_req", "mgr_host_status_ind", "mgr_wapps_list_req",
                  "mgr_clocks_list_req", "mgr_sync_init_setting_req", "mgr_sync_init_setting_req",
                  "mgr_apps_order_req", "mgr_gps_changed_req", "mgr_wps_changed_req"}));
    EXPECT_EQ(world.events.all().back().name, "note:onDataReceivedNotification");
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 1);
    EXPECT_TRUE(sequence.connectingKavoInfo().empty());
    ASSERT_EQ(responder.record().hostStatusIndications.size(), 2U);
    EXPECT_EQ(responder.record().hostStatusIndications[1]["timestamp"],
              responder.record().hostStatusIndications[0]["timestamp"]);
    EXPECT_EQ(responder.record().resets, 0);
}

// The consent page's end: the phone's identifier for the usage logs, kept once, then home.
TEST_F(HeadlessSetupTest, AConfirmedSetUpKeepsThePhonesIdentifierAndGoesHomeOnce) {
    pairThroughTheStandIn();
    ASSERT_TRUE(world.watch.waitUntil([&] { return setup->isFinished(); }, 60));
    EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("deviceUUID"),
              world.device.vendorIdentifier());
    EXPECT_EQ(world.defaults.boolean("oobe_is_completed"), true);
    EXPECT_EQ(wentHome, 1);
}

TEST_F(HeadlessSetupTest, AnIdentifierKeptBeforeStaysAsItWas) {
    ASSERT_TRUE(TQKeyChainWrapper::createKeychainValue("kept-before", "deviceUUID"));
    pairThroughTheStandIn();
    ASSERT_TRUE(world.watch.waitUntil([&] { return setup->isFinished(); }, 60));
    EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("deviceUUID"), "kept-before");
    EXPECT_EQ(wentHome, 1);
}

// A navigator that keeps the pages it was asked for.
class RecordingNavigator final : public platform::ScreenNavigator {
public:
    bool isHomeScreenRoot() const override { return true; }
    std::optional<std::string> topNavigationScreen() const override { return std::nullopt; }
    bool pushScreen(std::string_view screen, bool) override {
        pushed.emplace_back(screen);
        return false;
    }
    bool performOnTopNavigationScreen(std::string_view, std::string_view, const Value&) override {
        return false;
    }
    bool isTopMostScreenAlert() const override { return false; }
    bool presentScene(std::string_view, std::string_view, platform::ModalTransitionStyle,
                      bool) override {
        return false;
    }
    std::vector<std::string> pushed;
};

platform::Bytes noise(std::size_t size) {
    platform::Bytes bytes(size);
    std::uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245U + 12345U;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// The set-up is over and a file is on its way when the watch walks away; it returns looking
// for its phone, with its settings kept or reset.
class HeadlessHomeTest : public HeadlessSetupTest {
protected:
    void walkAwayMidFileAndReturn(bool reset) {
        pairThroughTheStandIn();
        ASSERT_TRUE(world.watch.waitUntil([&] { return setup->isFinished(); }, 60));
        world.loop.advance(1);
        world.ap->setFileHandler(std::make_unique<TQFileHandler>(
            *world.ap, *world.ap, world.loop, world.container.documents() / "QueueFiles"));
        world.ap->sendFile(file, "big.wgt", 1,
                           [this](int code, const Value&) { events.push_back(code); });
        ASSERT_TRUE(
            world.watch.waitUntil([&] { return world.watch.files().segmentsHeld() >= 5; }, 600));
        world.watch.vanish();
        world.loop.advance(1);
        if (reset) {
            responder.state().setup = kavowatch::SetupState::factory;
        }
        world.watch.powerOn();
        world.watch.advertise(static_cast<std::uint8_t>(Purpose::autoConnection));
        ASSERT_TRUE(world.watch.waitUntil(
            [&] { return world.events.count("note:onSyncInitSettingResNotification") == 1; },
            TQBleManager::kSearchInterval + 30));
    }

    RecordingNavigator pages;
    HeadlessHome home{world.center, *world.ap, pages};
    const platform::Bytes file = noise(100'000);
    std::vector<int> events;
};

TEST_F(HeadlessHomeTest, AFileCutByTheWatchsAbsenceIsTakenUpOnceTheHandshakeIsOver) {
    ASSERT_NO_FATAL_FAILURE(walkAwayMidFileAndReturn(false));
    ASSERT_TRUE(
        world.watch.waitUntil([&] { return !world.watch.files().received().empty(); }, 600));
    EXPECT_TRUE(world.watch.files().received()[0].data == file);
    EXPECT_EQ(world.watch.files().counters().resumeRequests, 1);
    EXPECT_EQ(world.watch.files().counters().badSequence, 0);
    EXPECT_NE(std::find(events.begin(), events.end(), 6), events.end()) << "resume accepted";
    EXPECT_TRUE(pages.pushed.empty());
}

TEST_F(HeadlessHomeTest, AResetWatchGetsTheTermsPageAndTheFilesStartAfresh) {
    ASSERT_NO_FATAL_FAILURE(walkAwayMidFileAndReturn(true));
    world.loop.advance(1);
    EXPECT_EQ(pages.pushed, std::vector<std::string>{HeadlessHome::kTermsPage});
    EXPECT_EQ(world.watch.files().counters().resumeRequests, 0);
    // Nothing waits behind the file the reset dropped.
    world.ap->sendFile(platform::Bytes{1, 2, 3}, "small.bin", 1, [](int, const Value&) {});
    ASSERT_TRUE(world.watch.waitUntil(
        [&] {
            const auto& received = world.watch.files().received();
            return !received.empty() && received.back().name == "small.bin";
        },
        60));
}

kavowatch::WatchState configuredWatch() {
    kavowatch::WatchState state;
    state.setup = kavowatch::SetupState::configured;
    return state;
}

class HeadlessSetupOfAConfiguredWatchTest : public HeadlessSetupTest {
protected:
    HeadlessSetupOfAConfiguredWatchTest() : HeadlessSetupTest(configuredWatch()) {}
};

TEST_F(HeadlessSetupOfAConfiguredWatchTest, AWatchWithAnotherPhonesSettingsIsResetFirst) {
    pairThroughTheStandIn();
    ASSERT_TRUE(world.watch.waitUntil([&] { return setup->isFinished(); }, 60));
    world.loop.advance(1);
    auto expected = kNewSetUp;
    expected.insert(expected.begin() + 1, "mgr_reset_device_req");
    EXPECT_EQ(requestsSince(0), expected);
    EXPECT_EQ(responder.record().resets, 1);
    EXPECT_EQ(world.logs->count("TQInitSequence: KM First Launch, Kavo has settings, need reset"),
              1);
}

kavowatch::WatchState lockedWatch() {
    kavowatch::WatchState state;
    state.reactivationLock = true;
    return state;
}

class HeadlessSetupOfALockedWatchTest : public HeadlessSetupTest {
protected:
    HeadlessSetupOfALockedWatchTest() : HeadlessSetupTest(lockedWatch()) {}
};

TEST_F(HeadlessSetupOfALockedWatchTest, ALockedWatchStopsTheSetUpAtTheConsents) {
    pairThroughTheStandIn();
    ASSERT_TRUE(world.watch.waitUntil([&] { return !responder.record().consents.empty(); }, 60));
    world.loop.advance(5);
    const auto requests = requestsSince(0);
    EXPECT_EQ(requests.back(), "mgr_app_user_agreement_req");
    EXPECT_FALSE(setup->isFinished());
    EXPECT_EQ(world.defaults.integer("isWMSConnected"), 0);
    EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("deviceUUID"), std::nullopt);
    EXPECT_EQ(wentHome, 0);
    EXPECT_EQ(world.logs->count("Headless set-up: the watch is reactivation-locked; unlocking it "
                                "needs the account screens, so the set-up stops here"),
              1);
}

}  // namespace
}  // namespace listener_test
