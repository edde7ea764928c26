#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "TQBleFixture.h"
#include "link/TQBLEStatus.h"
#include "link/TQBleManager.h"

namespace {

using namespace ble_test;

// Counts the refusals on their way to the packet protocol.
class CountingPacketDelegate final : public TQBlePacketTransferDelegate {
public:
    explicit CountingPacketDelegate(TQBlePacketTransferDelegate* next = nullptr) : next_(next) {}
    void onDataReceived(std::span<const std::uint8_t> packet) override {
        received.emplace_back(packet.begin(), packet.end());
        if (next_ != nullptr) {
            next_->onDataReceived(packet);
        }
    }
    void onPacketSent(bool success) override {
        (success ? accepted : refused) += 1;
        if (next_ != nullptr) {
            next_->onPacketSent(success);
        }
    }

    std::vector<Bytes> received;
    int accepted = 0;
    int refused = 0;

private:
    TQBlePacketTransferDelegate* next_;
};

// The Bluetooth manager on the phone's adapter, with the link facade and the packet protocol
// stood in for by recorders.
class TQBleManagerTest : public ::testing::Test {
protected:
    TQBleManagerTest() { manager->setDelegate(&response, &packets); }

    void pairedAndWizardDone(std::string deviceMac = "1A2B") {
        world.defaults().set("deviceMac", deviceMac);
        world.defaults().set("isCompletedSetupWizard", true);
    }

    void publish() {
        world.loop.runUntilIdle();
        world.settle(TQPeripheral::kAddServiceRetryDelay + 0.1);
        ASSERT_EQ(manager->bleStatus(), TQBLEStatus_ServiceAdded);
    }

    void connectWatch() {
        ASSERT_NO_FATAL_FAILURE(publish());
        world.subscribeWatch(world.watch);
        ASSERT_EQ(manager->bleStatus(), TQBLEStatus_Connect);
        response.events.clear();
    }

    bool searching() {
        return manager->central().isSearchMyKavo() &&
               manager->central().centralManager().isScanning();
    }

    // Where line first appears in the log, or -1.
    long logIndex(const std::string& line) {
        const auto lines = world.logs->lines();
        const auto found = std::find(lines.begin(), lines.end(), line);
        return found == lines.end() ? -1 : found - lines.begin();
    }

    BleWorld world;
    RecordingResponseDelegate response;
    CountingPacketDelegate packets;
    std::unique_ptr<TQBleManager> manager = std::make_unique<TQBleManager>(world.phone);
};

TEST_F(TQBleManagerTest, PowerOnAdvertisesAndAddsTheServiceFiveSecondsLater) {
    world.loop.runUntilIdle();
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_StartAdv);
    EXPECT_EQ(response.events, std::vector<std::string>{"on"});
    const long on = logIndex("BLE_MANAGER: TQBLEStatus_Peripheral_On");
    const long advertising = logIndex("BLE_MANAGER: TQBLEStatus_StartAdv");
    ASSERT_GE(on, 0);
    EXPECT_GT(advertising, on);
    EXPECT_TRUE(manager->isBleEnabled());
    const auto advertisement = world.phoneAdvertisement();
    ASSERT_TRUE(advertisement);
    EXPECT_EQ(advertisement->serviceUuids, std::vector<Uuid>{kService});

    world.settle(TQPeripheral::kAddServiceRetryDelay - 0.4);
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_StartAdv);
    world.settle(0.3);
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_ServiceAdded);
    EXPECT_GE(logIndex("BLE_MANAGER: Service adding successful"), 0);
    EXPECT_FALSE(manager->isConnected());
    EXPECT_FALSE(searching());
}

TEST(TQBleManagerSearchTest, TheServiceStartsTheSearchOnlyForAPairedWatchAfterTheWizard) {
    struct Case {
        std::optional<std::string> deviceMac;
        std::optional<bool> wizard;
        bool search;
    };
    const Case cases[] = {
        {"1A2B", true, true},
        {"1A2B", false, false},
        {"1A2B", std::nullopt, false},
        {std::nullopt, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.deviceMac.value_or("(none)") + " " +
                     (c.wizard ? std::to_string(*c.wizard) : "(none)"));
        BleWorld world;
        if (c.deviceMac) {
            world.defaults().set("deviceMac", *c.deviceMac);
        }
        if (c.wizard) {
            world.defaults().set("isCompletedSetupWizard", *c.wizard);
        }
        TQBleManager manager(world.phone);
        world.settle(TQPeripheral::kAddServiceRetryDelay + 0.1);
        ASSERT_EQ(manager.bleStatus(), TQBLEStatus_ServiceAdded);
        EXPECT_EQ(manager.central().isSearchMyKavo(), c.search);
        EXPECT_EQ(manager.central().centralManager().isScanning(), c.search);
        const std::string line =
            "BLE_MANAGER: search my Kavo: deviceMac: " + c.deviceMac.value_or("(null)") +
            " isCompletedSetupWizard: " + (c.wizard.value_or(false) ? "1" : "0");
        EXPECT_EQ(world.logs->count(line), 1);
    }
}

TEST_F(TQBleManagerTest, TheWatchSubscribingConnectsTheLinkAndStopsLooking) {
    pairedAndWizardDone();
    ASSERT_NO_FATAL_FAILURE(publish());
    manager->onChangeBleStatus(TQBLEStatus_AutoConnecting);  // a loss before: the timer runs
    ASSERT_TRUE(manager->isSearchTimerRunning());
    ASSERT_TRUE(searching());
    response.events.clear();

    world.subscribeWatch(world.watch);
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_Connect);
    EXPECT_TRUE(manager->isConnected());
    EXPECT_FALSE(manager->isSearchTimerRunning());
    EXPECT_FALSE(manager->central().centralManager().isScanning());
    EXPECT_FALSE(world.phoneAdvertisement());
    // The handshake, not the subscription, tells the facade.
    EXPECT_EQ(response.count("connect"), 0);
    EXPECT_EQ(response.resetRequests, std::vector<bool>{false});
    EXPECT_EQ(world.defaults().string("tempCentralIdentifier"), kWatch.toLongString());
    EXPECT_EQ(manager->getConnectedDevice(), nullptr);  // the phone did not connect to it
    EXPECT_EQ(manager->getNearestPeripheral(), nullptr);
}

TEST_F(TQBleManagerTest, AnUnexpectedLossSearchesEveryThirtySecondsAndReconnects) {
    pairedAndWizardDone();
    ASSERT_NO_FATAL_FAILURE(connectWatch());
    world.logs->clear();
    world.watch.disconnect();
    world.settle(0.1);
    // Advertising again reports its own status right behind the loss.
    EXPECT_EQ(world.logs->count("BLE_MANAGER: TQBLEStatus_AutoConnecting"), 1);
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_StartAdv);
    EXPECT_FALSE(manager->isConnected());
    EXPECT_EQ(response.events, std::vector<std::string>{"disconnect"});
    EXPECT_TRUE(world.phoneAdvertisement());
    EXPECT_TRUE(manager->isSearchTimerRunning());
    EXPECT_FALSE(searching());

    // Nobody there: the search runs at 30 s and again at 60 s.
    world.settle(TQBleManager::kSearchInterval - 0.5);
    EXPECT_FALSE(searching());
    world.settle(0.5);
    EXPECT_TRUE(searching());
    world.settle(TQBleManager::kSearchInterval);
    EXPECT_EQ(world.logs->count("CENTRAL: Search my Kavo started"), 2);

    // The watch looks for its phone: found, and connected 0.1 s later.
    world.advertiseWatch(watchAdvertisement(2));
    ASSERT_TRUE(world.runUntil([&] { return manager->connectedDevice() != nullptr; }, 1.0, 0.001));
    RemotePeripheral& found = *manager->connectedDevice();
    EXPECT_EQ(found.identifier(), kWatch);
    EXPECT_FALSE(manager->central().centralManager().isScanning());
    EXPECT_TRUE(manager->isAutoConnectTimerRunning());
    world.settle(TQBleManager::kAutoConnectDelay - 0.005);
    EXPECT_EQ(found.state(), PeripheralState::disconnected);
    world.settle(0.01);
    EXPECT_NE(found.state(), PeripheralState::disconnected);
    EXPECT_EQ(world.logs->count("BLE_MANAGER: Auto Connecting Timer expired"), 1);
    ASSERT_TRUE(
        world.runUntil([&] { return manager->bleStatus() == TQBLEStatus_Peripheral_Connect; }));
    EXPECT_EQ(manager->central().getConnectedPeripheral(), &found);

    // The watch subscribes again: it is the paired watch, and the search ends.
    world.subscribeWatch(world.watch);
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_Connect);
    EXPECT_EQ(world.defaults().string("centralIdentifier"), kWatch.toLongString());
    EXPECT_FALSE(manager->isSearchTimerRunning());
    EXPECT_EQ(manager->getConnectedDevice(), &found);
    world.settle(TQBleManager::kSearchInterval * 2);
    EXPECT_EQ(world.logs->count("CENTRAL: Search my Kavo started"), 2);
}

TEST_F(TQBleManagerTest, StatusCodesWithoutMeaningChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(publish());
    for (const std::uint64_t status :
         {std::uint64_t{7}, std::uint64_t{9}, std::uint64_t{16}, std::uint64_t{1000}}) {
        manager->onChangeBleStatus(status);
        EXPECT_EQ(manager->bleStatus(), TQBLEStatus_ServiceAdded) << status;
    }
}

TEST_F(TQBleManagerTest, TwoLossesInARowKeepOneSearchTimer) {
    ASSERT_NO_FATAL_FAILURE(publish());
    manager->onChangeBleStatus(TQBLEStatus_AutoConnecting);
    world.settle(10);
    manager->onChangeBleStatus(TQBLEStatus_AutoConnecting);
    world.settle(TQBleManager::kSearchInterval * 3 - 0.1);
    // Fired at 40, 70 and 100 s after the second loss, never on the first one's beat.
    EXPECT_EQ(world.logs->count("BLE_MANAGER: Search Connected Device Timer expired"), 2);
    world.settle(0.2);
    EXPECT_EQ(world.logs->count("BLE_MANAGER: Search Connected Device Timer expired"), 3);
    EXPECT_EQ(response.count("disconnect"), 2);
}

TEST_F(TQBleManagerTest, ForegroundSearchesOnlyWhileNotConnected) {
    pairedAndWizardDone();
    ASSERT_NO_FATAL_FAILURE(connectWatch());
    world.logs->clear();
    world.center.post("UIApplicationWillEnterForegroundNotification");
    EXPECT_EQ(world.logs->count("BLE_MANAGER: applicationWillEnterForeground"), 1);
    EXPECT_EQ(world.logs->count("BLE_MANAGER: bleStatus: 2"), 1);
    EXPECT_FALSE(searching());

    manager->onChangeBleStatus(TQBLEStatus_disconnect);
    world.center.post("UIApplicationWillEnterForegroundNotification");
    EXPECT_TRUE(searching());
    EXPECT_EQ(world.logs->count("BLE_MANAGER: search my Kavo: deviceMac: 1A2B "
                                "isCompletedSetupWizard: 1"),
              1);
    world.center.post("UIApplicationDidEnterBackgroundNotification");
    EXPECT_EQ(world.logs->count("BLE_MANAGER: applicationDidEnterBackground"), 1);
}

TEST_F(TQBleManagerTest, TheRestorationFlagHoldsOnlyDuringTheRestoredConnect) {
    ASSERT_NO_FATAL_FAILURE(connectWatch());
    // The application is relaunched with the watch still subscribed.
    manager.reset();
    response = RecordingResponseDelegate{};
    manager = std::make_unique<TQBleManager>(world.phone);
    manager->setDelegate(&response, &packets);
    world.loop.runUntilIdle();
    EXPECT_EQ(response.flagDuringConnect, std::vector<bool>{true});
    EXPECT_FALSE(TQPeripheral::willRestore());
    EXPECT_TRUE(manager->isConnected());
    EXPECT_EQ(manager->getConnectedDevice(), nullptr);  // restored, not connected by the phone
    EXPECT_EQ(world.logs->count("BLE_MANAGER: will restore on connect call"), 1);

    // Packets flow on the restored link.
    manager->sendData(Bytes{1, 2});
    world.settle(0.1);
    EXPECT_EQ(world.watch.notifications().back(), (Bytes{1, 2}));
    EXPECT_EQ(packets.accepted, 1);
}

TEST_F(TQBleManagerTest, StatusesThatEndTheLinkClearTheRestorationFlagWithOrWithoutAFacade) {
    ASSERT_NO_FATAL_FAILURE(publish());
    response.events.clear();
    for (const bool withFacade : {true, false}) {
        manager->setDelegate(withFacade ? &response : nullptr, &packets);
        for (const std::uint64_t status :
             {std::uint64_t{TQBLEStatus_disconnect}, std::uint64_t{TQBLEStatus_AutoConnecting},
              std::uint64_t{TQBLEStatus_RestoreConnect}, std::uint64_t{TQBLEStatus_Peripheral_Off},
              std::uint64_t{TQBLEStatus_Peripheral_Resetting}}) {
            TQPeripheral::setWillRestore(true);
            manager->onChangeBleStatus(status);
            EXPECT_FALSE(TQPeripheral::willRestore()) << status << " " << withFacade;
            // A loss starts advertising, which reports itself.
            EXPECT_EQ(manager->bleStatus(),
                      status == TQBLEStatus_AutoConnecting ? TQBLEStatus_StartAdv : status);
            EXPECT_EQ(manager->isConnected(), status == TQBLEStatus_RestoreConnect);
        }
    }
    EXPECT_EQ(response.events, (std::vector<std::string>{"disconnect", "disconnect", "connect",
                                                         "disconnect", "disconnect"}));
}

TEST_F(TQBleManagerTest, BluetoothOffAndOnAgain) {
    ASSERT_NO_FATAL_FAILURE(connectWatch());
    world.air.powerOff(kPhone);
    world.settle(0.1);
    EXPECT_FALSE(manager->isConnected());
    EXPECT_FALSE(manager->isBleEnabled());
    EXPECT_EQ(response.count("off"), 1);
    EXPECT_EQ(response.count("disconnect"), 1);
    EXPECT_TRUE(manager->bleStatus() == TQBLEStatus_Peripheral_Off ||
                manager->bleStatus() == TQBLEStatus_Central_Off);

    world.air.powerOn(kPhone);
    world.settle(0.1);
    EXPECT_EQ(response.count("on"), 1);
    EXPECT_TRUE(manager->isBleEnabled());
    EXPECT_TRUE(world.phoneAdvertisement());
    world.settle(TQPeripheral::kAddServiceRetryDelay);
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_ServiceAdded);
    EXPECT_EQ(world.publishedServices(), 1);
    world.subscribeWatch(world.watch);
    EXPECT_TRUE(manager->isConnected());
}

TEST_F(TQBleManagerTest, AManualDisconnectEndsTheLinkWithoutReconnecting) {
    ASSERT_NO_FATAL_FAILURE(connectWatch());
    manager->disconnect();
    ASSERT_TRUE(world.watch.subscribe(kRead, false));
    world.settle(0.1);
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_disconnect);
    EXPECT_FALSE(manager->isSearchTimerRunning());
    EXPECT_EQ(response.count("disconnect"), 1);

    // The handshake rejecting a watch: the subscription is forgotten, the connection kept.
    world.subscribeWatch(world.watch);
    manager->clearConnectedCentral();
    EXPECT_EQ(manager->bleStatus(), TQBLEStatus_disconnect);
    EXPECT_TRUE(world.watch.isConnected());
    // Nobody to send to: the automatic reconnection starts.
    manager->sendData(Bytes{1});
    EXPECT_TRUE(manager->isSearchTimerRunning());
    EXPECT_EQ(packets.accepted, 0);
}

TEST_F(TQBleManagerTest, ConnectingStoresTheTokenOfTheChosenWatch) {
    struct Case {
        const char* name;
        std::optional<std::string> deviceMac;
    };
    const Case cases[] = {{"Kavo R5 (9Z8Y)", "9Z8Y"}, {"Kavo R5", std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BleWorld world;
        TQBleManager manager(world.phone);
        world.defaults().set("deviceMac", "OLD1");
        world.advertiseWatch(watchAdvertisement(1, c.name));
        world.loop.runUntilIdle();
        manager.scanForPeripherals();
        world.settle(0.2);
        RemotePeripheral* chosen = manager.getNearestPeripheral();
        ASSERT_NE(chosen, nullptr);
        manager.connectWithPeripheral(*chosen);
        EXPECT_EQ(world.defaults().string("deviceMac"), c.deviceMac);
        EXPECT_TRUE(manager.peripheral().isConnectNewKavo());
        EXPECT_FALSE(manager.peripheral().isManualDisconnect());
        world.settle(0.2);
        EXPECT_EQ(manager.bleStatus(), TQBLEStatus_Peripheral_Connect);
        EXPECT_EQ(chosen->state(), PeripheralState::connected);
        platform::UserDefaults reread(world.defaults().file());
        EXPECT_EQ(reread.string("deviceMac"), c.deviceMac);
    }
}

TEST(TQBleManagerMarkTest, AnAttemptThatComesToNothingLeavesNoMarkForTheNextSubscriber) {
    struct Case {
        const char* name;
        bool reachable;
        std::optional<ErrorCode> end;  // nothing: the connection stays open
        const char* statusLine;
    };
    const Case cases[] = {
        {"connection failed", false, ErrorCode::connectionFailed,
         "BLE_MANAGER: TQBLEStatus_disconnect"},
        {"the watch left before subscribing", true, ErrorCode::peripheralDisconnected,
         "BLE_MANAGER: TQBLEStatus_Peripheral_Disconnect"},
        {"the watch stayed connected but never subscribed", true, std::nullopt,
         "BLE_MANAGER: the connected watch did not subscribe; forgetting the new watch mark"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BleWorld world;
        TQBleManager manager(world.phone);
        world.settle(TQPeripheral::kAddServiceRetryDelay + 0.1);
        const Uuid identifiers[] = {kWatch};
        RemotePeripheral& watch = *manager.getConnectedPeripherals(identifiers).at(0);
        if (!c.reachable) {
            world.air.powerOff(kWatch);
            world.settle(0.1);
        }
        manager.connectWithPeripheral(watch);
        world.settle(0.2);
        ASSERT_EQ(watch.state(),
                  c.reachable ? PeripheralState::connected : PeripheralState::connecting);
        if (!c.end) {
            world.settle(TQBleManager::kSubscriptionWait);
        } else {
            world.air.dropConnection(kPhone, kWatch, *c.end);
            world.settle(0.2);
        }
        EXPECT_EQ(world.logs->count(c.statusLine), 1);
        EXPECT_FALSE(manager.peripheral().isConnectNewKavo());

        // Another bonded central subscribing now is not taken as the paired watch.
        ScriptedCentral other(world.air.attach({.identifier = kOtherWatch}), world.loop);
        world.subscribeWatch(other);
        EXPECT_EQ(manager.bleStatus(), TQBLEStatus_Connect);
        EXPECT_FALSE(world.defaults().string("centralIdentifier"));
        EXPECT_EQ(world.defaults().string("tempCentralIdentifier"), kOtherWatch.toLongString());
    }
}

TEST_F(TQBleManagerTest, WritesReachTheProtocolOnlyFromTheSubscribedWatch) {
    ASSERT_NO_FATAL_FAILURE(connectWatch());
    auto stranger = world.air.injectForeignCentral(kPhone);
    ASSERT_TRUE(world.runUntil([&] { return stranger->isDiscovered(); }));
    ASSERT_TRUE(stranger->write(kWrite, Bytes{6, 6, 6}, WriteType::withoutResponse));
    ASSERT_TRUE(world.watch.write(kWrite, Bytes{1, 2}, WriteType::withoutResponse));
    world.settle(0.1);
    EXPECT_EQ(packets.received, std::vector<Bytes>{(Bytes{1, 2})});
}

TEST_F(TQBleManagerTest, RelaysGoUpOnlyWhenSomeoneListens) {
    ASSERT_NO_FATAL_FAILURE(connectWatch());
    manager->sendResetKavoRequest(true);
    world.defaults().set("deviceMac", "1A2B");
    world.defaults().set("centralIdentifier", kWatch.toLongString());
    world.defaults().set(kWatch.toLongString(), "connected");
    ASSERT_TRUE(world.watch.read(kAddress));
    world.settle(0.1);
    EXPECT_EQ(response.resetRequests, (std::vector<bool>{false, true}));
    EXPECT_EQ(response.count("autoConnection"), 1);

    manager->setDelegate(nullptr, nullptr);
    manager->sendResetKavoRequest(true);
    ASSERT_TRUE(world.watch.read(kAddress));
    ASSERT_TRUE(world.watch.write(kWrite, Bytes{1}, WriteType::withoutResponse));
    manager->sendData(Bytes{2});
    world.settle(0.1);
    EXPECT_EQ(response.resetRequests.size(), 2u);
    EXPECT_EQ(response.count("autoConnection"), 1);
    EXPECT_EQ(world.watch.reads().size(), 2u);
    EXPECT_EQ(world.watch.notifications().back(), Bytes{2});
}

TEST_F(TQBleManagerTest, MessagesFlowThroughThePacketProtocolBothWaysUnderBackPressure) {
    TQProtocol protocol(world.loop, world.defaults());
    RecordingData phoneSide;
    protocol.initialize(phoneSide, *manager);
    CountingPacketDelegate counting(&protocol);
    manager->setDelegate(&response, &counting);
    WatchLink watchSide(world.watch);
    ASSERT_NO_FATAL_FAILURE(connectWatch());

    std::mt19937 random(5);
    const auto message = [&](std::uint8_t header, std::size_t size) {
        Bytes data(size);
        std::generate(data.begin(), data.end(),
                      [&] { return static_cast<std::uint8_t>(random()); });
        data[0] = header;
        return data;
    };
    const Bytes toWatch = message(0x41, 3000);
    const Bytes toPhone = message(0x42, 2000);
    world.air.fillTransmitQueue(kPhone, 3);
    protocol.packetsFromDataModel({toWatch, 1});
    watchSide.protocol().packetsFromDataModel({toPhone, 1});
    ASSERT_TRUE(world.runUntil(
        [&] {
            return phoneSide.completions == 1 && watchSide.data().completions == 1 &&
                   !phoneSide.messages.empty() && !watchSide.data().messages.empty();
        },
        30.0));
    EXPECT_EQ(watchSide.data().messages, std::vector<Bytes>{toWatch});
    EXPECT_EQ(phoneSide.messages, std::vector<Bytes>{toPhone});
    EXPECT_EQ(counting.refused, 3);
    EXPECT_EQ(phoneSide.resets + watchSide.data().resets, 0);
    EXPECT_TRUE(manager->isConnected());
}

}  // namespace
