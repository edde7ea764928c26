#include <gtest/gtest.h>

#include "TQBleFixture.h"
#include "link/TQBLEStatus.h"
#include "link/TQPeripheral.h"

namespace {

using namespace ble_test;

const std::string kStars(29, '*');

// The peripheral role on the phone's adapter, with the watch as a scripted central.
class TQPeripheralTest : public ::testing::Test {
protected:
    TQPeripheralTest() { peripheral->setDelegate(&recorder); }

    void powerOnAndPublish() {
        world.loop.runUntilIdle();
        world.settle(TQPeripheral::kAddServiceRetryDelay + 0.1);
        ASSERT_TRUE(peripheral->isServiceAdded());
        recorder.statuses.clear();
    }

    void subscribe() {
        ASSERT_NO_FATAL_FAILURE(powerOnAndPublish());
        world.subscribeWatch(world.watch);
        ASSERT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_Connect});
        recorder.statuses.clear();
    }

    // Replaces the role as a relaunch of the application does; the stack keeps what it had.
    void relaunch() {
        peripheral.reset();
        TQPeripheral::setWillRestore(false);
        peripheral = std::make_unique<TQPeripheral>(world.phone);
        recorder = RecordingConnectDelegate{};
        peripheral->setDelegate(&recorder);
    }

    BleWorld world;
    RecordingConnectDelegate recorder;
    std::unique_ptr<TQPeripheral> peripheral = std::make_unique<TQPeripheral>(world.phone);
};

TEST_F(TQPeripheralTest, PowerOnReportsAtOnceAndPublishesTheServiceFiveSecondsLater) {
    recorder.onStatus = [&](std::uint64_t status) {
        if (status == TQBLEStatus_Peripheral_On) {
            peripheral->startAdvertising();  // as the Bluetooth manager answers
        }
    };
    world.loop.runUntilIdle();
    EXPECT_EQ(recorder.statuses,
              (std::vector<std::uint64_t>{TQBLEStatus_Peripheral_On, TQBLEStatus_StartAdv}));
    const auto advertisement = world.phoneAdvertisement();
    ASSERT_TRUE(advertisement);
    EXPECT_EQ(advertisement->serviceUuids, std::vector<Uuid>{kService});
    EXPECT_FALSE(advertisement->localName);
    EXPECT_FALSE(advertisement->manufacturerData);
    EXPECT_TRUE(advertisement->solicitedServiceUuids.empty());

    world.loop.advance(TQPeripheral::kAddServiceRetryDelay - 0.4);
    EXPECT_FALSE(peripheral->isServiceAdded());
    EXPECT_EQ(recorder.statuses.size(), 2u);
    world.settle(0.3);
    EXPECT_EQ(recorder.statuses.back(), TQBLEStatus_ServiceAdded);
    EXPECT_EQ(world.publishedServices(), 1);
    EXPECT_FALSE(peripheral->isAddServiceRetryPending());
}

TEST_F(TQPeripheralTest, TheServiceIsOnTheAirAsTheWatchExpectsIt) {
    ASSERT_NO_FATAL_FAILURE(powerOnAndPublish());
    const MutableService& service = peripheral->kavoManagerService();
    EXPECT_EQ(service.uuid.toString(), "9A3F68E0-86CE-11E5-A309-0002A5D5C51B");
    EXPECT_TRUE(service.primary);
    struct Expected {
        const char* uuid;
        std::uint8_t properties;
        std::uint8_t permissions;
    };
    const Expected expected[] = {
        {"CECE518B-28D7-4171-92D5-76A1E249A3B9", 0x12, 0x04},
        {"C2F2CC0F-C085-4DD4-BE5A-ACA3074BBC72", 0x0C, 0x08},
        {"E87988E0-4990-487F-A502-9CFEDA7ED834", 0x02, 0x01},
    };
    ASSERT_EQ(service.characteristics.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& characteristic = service.characteristics[i];
        EXPECT_EQ(characteristic.uuid.toString(), expected[i].uuid);
        EXPECT_EQ(static_cast<std::uint8_t>(characteristic.properties), expected[i].properties);
        EXPECT_EQ(static_cast<std::uint8_t>(characteristic.permissions), expected[i].permissions);
        EXPECT_FALSE(characteristic.value);
    }

    // And as the watch discovers it.
    world.watch.connect(kPhone);
    ASSERT_TRUE(world.runUntil([&] { return world.watch.isDiscovered(); }));
    const auto services = world.watch.peripheral()->services();
    ASSERT_EQ(services.size(), 1u);
    ASSERT_EQ(services[0].characteristics.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(services[0].characteristics[i].uuid.toString(), expected[i].uuid);
        EXPECT_EQ(static_cast<std::uint8_t>(services[0].characteristics[i].properties),
                  expected[i].properties);
    }
}

TEST_F(TQPeripheralTest, AdvertisingAskedForWhileOffStartsAtPowerOn) {
    world.loop.runUntilIdle();
    world.air.powerOff(kPhone);
    world.settle();
    recorder.statuses.clear();
    peripheral->startAdvertising();
    EXPECT_TRUE(recorder.statuses.empty());
    EXPECT_FALSE(world.phoneAdvertisement());

    world.air.powerOn(kPhone);
    world.settle(0.1);
    EXPECT_EQ(recorder.statuses,
              (std::vector<std::uint64_t>{TQBLEStatus_Peripheral_On, TQBLEStatus_StartAdv}));
    EXPECT_TRUE(world.phoneAdvertisement());
    world.settle(TQPeripheral::kAddServiceRetryDelay);
    EXPECT_EQ(recorder.statuses.back(), TQBLEStatus_ServiceAdded);
}

TEST(TQPeripheralRetryTest, PowerOffCancelsAPendingRetryAndFreesAFiredOne) {
    struct Case {
        double offAfter;
        const char* ownerBanner;
        bool stopLine;
    };
    for (const Case& c : {Case{2.0, "(owner) set call=0, free=1", true},
                          Case{6.0, "(owner) too late, freeing myself", false}}) {
        SCOPED_TRACE(c.offAfter);
        BleWorld world;
        RecordingConnectDelegate recorder;
        TQPeripheral peripheral(world.phone);
        peripheral.setDelegate(&recorder);
        world.loop.runUntilIdle();
        world.settle(c.offAfter);
        world.logs->clear();
        world.air.powerOff(kPhone);
        world.settle(0.1);
        EXPECT_EQ(recorder.statuses.back(), TQBLEStatus_Peripheral_Off);
        EXPECT_FALSE(peripheral.isAddServiceRetryPending());
        EXPECT_FALSE(peripheral.isServiceAdded());

        const auto lines = world.logs->lines();
        const auto has = [&](const std::string& text) {
            return std::find(lines.begin(), lines.end(), text) != lines.end();
        };
        EXPECT_TRUE(has(kStars + "service add control handeler is not nil" + kStars));
        const auto owner = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(c.ownerBanner) != std::string::npos;
        });
        ASSERT_NE(owner, lines.end());
        EXPECT_EQ(owner->substr(0, 30), kStars + "[");
        EXPECT_EQ(owner->substr(owner->size() - 30), "\n" + kStars);
        EXPECT_EQ(has("PERIPHERAL: Stop add service timer"), c.stopLine);

        // The cancelled retry never adds anything; the next power-on schedules a new one.
        recorder.statuses.clear();
        world.settle(10);
        EXPECT_TRUE(recorder.statuses.empty());
        world.air.powerOn(kPhone);
        world.settle(TQPeripheral::kAddServiceRetryDelay - 0.2);
        EXPECT_FALSE(peripheral.isServiceAdded());
        world.settle(0.3);
        EXPECT_TRUE(peripheral.isServiceAdded());
        EXPECT_EQ(world.publishedServices(), 1);
    }
}

TEST_F(TQPeripheralTest, ResettingForgetsTheServiceAndTheWatch) {
    ASSERT_NO_FATAL_FAILURE(subscribe());
    world.air.reset(kPhone);
    world.settle(0.05);
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_Peripheral_Resetting});
    EXPECT_FALSE(peripheral->connectedCentral());
    EXPECT_FALSE(peripheral->isServiceAdded());
    world.settle(0.2);
    // Advertising was owed, so power-on starts it by itself.
    EXPECT_EQ(recorder.statuses,
              (std::vector<std::uint64_t>{TQBLEStatus_Peripheral_Resetting,
                                          TQBLEStatus_Peripheral_On, TQBLEStatus_StartAdv}));
    world.settle(TQPeripheral::kAddServiceRetryDelay);
    EXPECT_EQ(recorder.statuses.back(), TQBLEStatus_ServiceAdded);
    EXPECT_EQ(world.publishedServices(), 1);
}

TEST_F(TQPeripheralTest, AResetWhileTheRetryWaitsStillPublishesTheServiceOnce) {
    world.loop.runUntilIdle();
    world.settle(2);
    world.air.reset(kPhone);  // power comes back 0.1 s later and asks for a retry of its own
    world.settle(TQPeripheral::kAddServiceRetryDelay * 3);
    EXPECT_EQ(
        std::count(recorder.statuses.begin(), recorder.statuses.end(), TQBLEStatus_ServiceAdded),
        1);
    EXPECT_EQ(world.publishedServices(), 1);
}

TEST_F(TQPeripheralTest, SubscriptionStoresTheCentralAndAMarkedOneAsThePairedWatch) {
    ASSERT_NO_FATAL_FAILURE(powerOnAndPublish());
    const std::string identifier = kWatch.toLongString();
    world.subscribeWatch(world.watch);
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_Connect});
    EXPECT_EQ(recorder.resetRequests, std::vector<bool>{false});
    EXPECT_EQ(world.defaults().string("tempCentralIdentifier"), identifier);
    EXPECT_FALSE(world.defaults().string("centralIdentifier"));
    ASSERT_TRUE(peripheral->connectedCentral());
    EXPECT_EQ(peripheral->connectedCentral()->identifier, kWatch);

    // A subscription after a connection the phone started is the paired watch.
    ASSERT_TRUE(world.watch.subscribe(kRead, false));
    world.settle(0.1);
    peripheral->setIsConnectNewKavo(true);
    ASSERT_TRUE(world.watch.subscribe(kRead));
    world.settle(0.1);
    EXPECT_EQ(world.defaults().string("centralIdentifier"), identifier);
    EXPECT_EQ(world.defaults().string(identifier), "connected");
    EXPECT_FALSE(peripheral->isConnectNewKavo());
    // Written through to the file.
    platform::UserDefaults reread(world.defaults().file());
    EXPECT_EQ(reread.string("centralIdentifier"), identifier);
}

TEST_F(TQPeripheralTest, TheUnsubscriptionTellsAutomaticFromManual) {
    ASSERT_NO_FATAL_FAILURE(subscribe());
    struct Case {
        bool manual;
        std::uint64_t status;
    };
    for (const Case& c :
         {Case{false, TQBLEStatus_AutoConnecting}, Case{true, TQBLEStatus_disconnect}}) {
        SCOPED_TRACE(c.manual);
        if (!peripheral->connectedCentral()) {
            ASSERT_TRUE(world.watch.subscribe(kRead));
            world.settle(0.1);
        }
        recorder.statuses.clear();
        peripheral->setIsManualDisconnect(c.manual);
        ASSERT_TRUE(world.watch.subscribe(kRead, false));
        world.settle(0.1);
        EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{c.status});
        EXPECT_FALSE(peripheral->connectedCentral());
    }
}

TEST_F(TQPeripheralTest, AnotherCentralComingAndGoingChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(subscribe());
    ScriptedCentral other(world.air.attach({.identifier = kOtherWatch}), world.loop);
    world.subscribeWatch(other);
    // The newest subscriber is the one held...
    ASSERT_EQ(peripheral->connectedCentral()->identifier, kOtherWatch);
    recorder.statuses.clear();
    // ...so the old one leaving is not news.
    world.watch.disconnect();
    world.settle(0.1);
    EXPECT_TRUE(recorder.statuses.empty());
    EXPECT_EQ(peripheral->connectedCentral()->identifier, kOtherWatch);
    EXPECT_EQ(world.logs->count("PERIPHERAL: old central didUnsubscribeFromCharacteristic: " +
                                kWatch.toLongString()),
              1);
}

TEST_F(TQPeripheralTest, WritesOfOneCallbackArriveJoinedAndStrangersAreRefused) {
    ASSERT_NO_FATAL_FAILURE(subscribe());
    ASSERT_TRUE(world.watch.write(kWrite, Bytes{1, 2}, WriteType::withoutResponse));
    ASSERT_TRUE(world.watch.write(kWrite, Bytes{3}, WriteType::withoutResponse));
    world.settle(0.1);
    EXPECT_EQ(recorder.received, std::vector<Bytes>{(Bytes{1, 2, 3})});

    auto stranger = world.air.injectForeignCentral(kPhone);
    ASSERT_TRUE(world.runUntil([&] { return stranger->isDiscovered(); }));
    ASSERT_TRUE(stranger->write(kWrite, Bytes{9, 9}, WriteType::withResponse));
    ASSERT_TRUE(world.watch.write(kWrite, Bytes{4}, WriteType::withResponse));
    world.settle(0.2);
    ASSERT_EQ(stranger->writeResults().size(), 1u);
    ASSERT_TRUE(stranger->writeResults()[0]);
    EXPECT_EQ(attErrorOf(*stranger->writeResults()[0]), AttError::writeNotPermitted);
    ASSERT_EQ(world.watch.writeResults().size(), 1u);
    EXPECT_FALSE(world.watch.writeResults()[0]);
    EXPECT_EQ(recorder.received, (std::vector<Bytes>{{1, 2, 3}, {4}}));
    EXPECT_EQ(world.logs->count(
                  "PERIPHERAL: Data received from old celtral or subscribed central is nil: " +
                  stranger->identifier().toLongString()),
              1);
}

TEST_F(TQPeripheralTest, WritesBeforeAnySubscriptionAreRefused) {
    ASSERT_NO_FATAL_FAILURE(powerOnAndPublish());
    world.watch.connect(kPhone);
    ASSERT_TRUE(world.runUntil([&] { return world.watch.isDiscovered(); }));
    ASSERT_TRUE(world.watch.write(kWrite, Bytes{1}, WriteType::withResponse));
    world.settle(0.1);
    ASSERT_EQ(world.watch.writeResults().size(), 1u);
    ASSERT_TRUE(world.watch.writeResults()[0]);
    EXPECT_EQ(attErrorOf(*world.watch.writeResults()[0]), AttError::writeNotPermitted);
    EXPECT_TRUE(recorder.received.empty());
}

TEST_F(TQPeripheralTest, PacketsGoOutOneNotificationEachWithFlowControl) {
    ASSERT_NO_FATAL_FAILURE(subscribe());
    const Bytes first(152, 0x11);
    peripheral->sendPacket(first);
    EXPECT_EQ(recorder.packetsSent, std::vector<bool>{true});

    // A full transmit queue: nothing now, one false at the ready signal, then the packet again.
    world.air.fillTransmitQueue(kPhone, 1);
    const Bytes second(22, 0x22);
    peripheral->sendPacket(second);
    EXPECT_EQ(recorder.packetsSent, std::vector<bool>{true});
    world.settle(0.1);
    EXPECT_EQ(recorder.packetsSent, (std::vector<bool>{true, false}));
    peripheral->sendPacket(second);
    world.settle(0.1);
    EXPECT_EQ(recorder.packetsSent, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(world.watch.notifications(), (std::vector<Bytes>{first, second}));

    // One the link cannot carry is dropped, and confirmed so that the sender does not wait.
    peripheral->sendPacket(Bytes(600, 0x33));
    EXPECT_EQ(recorder.packetsSent, (std::vector<bool>{true, false, true, true}));
    world.settle(0.1);
    EXPECT_EQ(world.watch.notifications().size(), 2u);
    EXPECT_TRUE(recorder.statuses.empty());
}

TEST_F(TQPeripheralTest, APacketWithoutSubscriberStartsTheReconnection) {
    ASSERT_NO_FATAL_FAILURE(powerOnAndPublish());
    peripheral->sendPacket(Bytes{1, 2, 3});
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_AutoConnecting});
    EXPECT_TRUE(recorder.packetsSent.empty());
}

TEST_F(TQPeripheralTest, PowerOffForgetsTheWatchSoNothingStaleIsUsed) {
    ASSERT_NO_FATAL_FAILURE(subscribe());
    world.air.powerOff(kPhone);
    world.settle(0.1);
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_Peripheral_Off});
    EXPECT_FALSE(peripheral->connectedCentral());
    peripheral->sendPacket(Bytes{1});
    EXPECT_EQ(recorder.statuses.back(), TQBLEStatus_AutoConnecting);

    // Back on, the same watch writes without subscribing again: it is a stranger now.
    world.air.powerOn(kPhone);
    world.settle(TQPeripheral::kAddServiceRetryDelay + 0.1);
    world.watch.connect(kPhone);
    ASSERT_TRUE(world.runUntil([&] { return world.watch.isDiscovered(); }));
    ASSERT_TRUE(world.watch.write(kWrite, Bytes{7}, WriteType::withResponse));
    world.settle(0.1);
    ASSERT_FALSE(world.watch.writeResults().empty());
    ASSERT_TRUE(world.watch.writeResults().back());
    EXPECT_EQ(attErrorOf(*world.watch.writeResults().back()), AttError::writeNotPermitted);
    EXPECT_TRUE(recorder.received.empty());
}

TEST_F(TQPeripheralTest, ReadsOfAnyCharacteristicAnswerWithTheAddressToken) {
    ASSERT_NO_FATAL_FAILURE(subscribe());
    struct Case {
        const char* name;
        std::optional<std::string> deviceMac;
        std::optional<std::string> centralIdentifier;
        std::optional<Uuid> read;
        bool success;
        int autoConnections;
    };
    const std::string me = kWatch.toLongString();
    const Case cases[] = {
        {"address, paired watch", "1A2B", me, kAddress, true, 1},
        {"read characteristic too", "1A2B", me, kRead, true, 1},
        {"another paired watch", "1A2B", kOtherWatch.toLongString(), kAddress, true, 0},
        {"nothing paired", "1A2B", std::nullopt, kAddress, true, 0},
        {"no address", std::nullopt, me, kAddress, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        world.defaults().remove("deviceMac");
        world.defaults().remove("centralIdentifier");
        if (c.deviceMac) {
            world.defaults().set("deviceMac", *c.deviceMac);
        }
        if (c.centralIdentifier) {
            world.defaults().set("centralIdentifier", *c.centralIdentifier);
            world.defaults().set(*c.centralIdentifier, "connected");
        }
        recorder.autoConnections = 0;
        const auto before = world.watch.reads().size();
        ASSERT_TRUE(world.watch.read(*c.read));
        ASSERT_TRUE(world.runUntil([&] { return world.watch.reads().size() > before; }));
        const auto& answer = world.watch.reads().back();
        if (c.success) {
            ASSERT_TRUE(answer);
            EXPECT_EQ(*answer, Bytes(c.deviceMac->begin(), c.deviceMac->end()));
        } else {
            ASSERT_FALSE(answer);
            EXPECT_EQ(attErrorOf(answer.error()), TQPeripheral::kNoAddressError);
        }
        EXPECT_EQ(recorder.autoConnections, c.autoConnections);
    }
}

TEST_F(TQPeripheralTest, ARelaunchWithTheWatchSubscribedRestoresTheLink) {
    ASSERT_NO_FATAL_FAILURE(subscribe());
    relaunch();
    world.loop.runUntilIdle();
    ASSERT_FALSE(recorder.statuses.empty());
    EXPECT_EQ(recorder.statuses.front(), TQBLEStatus_RestoreConnect);
    EXPECT_TRUE(recorder.flagAtStatus.front());
    EXPECT_TRUE(TQPeripheral::willRestore());  // the Bluetooth manager clears it
    EXPECT_TRUE(peripheral->isServiceAdded());
    ASSERT_TRUE(peripheral->connectedCentral());
    EXPECT_EQ(peripheral->connectedCentral()->identifier, kWatch);

    // The service stays as it was: no retry adds it again.
    world.settle(TQPeripheral::kAddServiceRetryDelay + 1);
    EXPECT_EQ(
        std::count(recorder.statuses.begin(), recorder.statuses.end(), TQBLEStatus_ServiceAdded),
        0);
    EXPECT_EQ(world.publishedServices(), 1);
    peripheral->sendPacket(Bytes{5, 5});
    world.settle(0.1);
    EXPECT_EQ(world.watch.notifications().back(), (Bytes{5, 5}));
}

TEST_F(TQPeripheralTest, ARelaunchWithoutSubscriberAddsTheServiceOnceAgain) {
    ASSERT_NO_FATAL_FAILURE(powerOnAndPublish());
    relaunch();
    world.loop.runUntilIdle();
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_Peripheral_On});
    EXPECT_FALSE(TQPeripheral::willRestore());
    EXPECT_FALSE(peripheral->isServiceAdded());
    world.settle(TQPeripheral::kAddServiceRetryDelay + 0.1);
    EXPECT_EQ(recorder.statuses.back(), TQBLEStatus_ServiceAdded);
    EXPECT_EQ(world.publishedServices(), 1);
}

TEST_F(TQPeripheralTest, BackgroundTimeIsAskedForWhileARetryIsPending) {
    world.host.state = platform::ApplicationState::background;
    world.loop.runUntilIdle();
    ASSERT_EQ(world.host.names, std::vector<std::string>{"ServiceAddTask"});
    const auto task = peripheral->backgroundTask();
    EXPECT_NE(task, platform::kBackgroundTaskInvalid);
    // Going to the background again finds the task running.
    world.center.post("UIApplicationDidEnterBackgroundNotification");
    EXPECT_EQ(world.host.names.size(), 1u);
    EXPECT_EQ(world.logs->count("background task is already running"), 1);
    // The successful add ends it.
    world.settle(TQPeripheral::kAddServiceRetryDelay + 0.1);
    EXPECT_EQ(world.host.ended, std::vector<platform::BackgroundTaskIdentifier>{task});
    EXPECT_EQ(peripheral->backgroundTask(), platform::kBackgroundTaskInvalid);

    // In front at power-on; the background comes while the retry waits; the time runs out.
    world.host.state = platform::ApplicationState::active;
    world.air.powerOff(kPhone);
    world.settle(0.1);
    world.air.powerOn(kPhone);
    world.settle(0.1);
    EXPECT_EQ(world.host.names.size(), 1u);
    world.center.post("UIApplicationDidEnterBackgroundNotification");
    ASSERT_EQ(world.host.names.size(), 2u);
    const auto second = peripheral->backgroundTask();
    world.host.expire(second);
    EXPECT_EQ(world.host.ended.back(), second);
    EXPECT_EQ(peripheral->backgroundTask(), platform::kBackgroundTaskInvalid);
    // The retry goes on regardless.
    world.settle(TQPeripheral::kAddServiceRetryDelay);
    EXPECT_TRUE(peripheral->isServiceAdded());
    // With nothing pending, the background asks for nothing.
    world.center.post("UIApplicationDidEnterBackgroundNotification");
    EXPECT_EQ(world.host.names.size(), 2u);
}

}  // namespace
