#include <gtest/gtest.h>

#include "BluetoothTestSupport.h"
#include "platform/bluetooth/sim/ScriptedCentral.h"
#include "platform/bluetooth/sim/SimulatedAir.h"
#include "platform/foundation/RunLoop.h"

namespace {

using namespace bluetooth_test;
using platform::RunLoop;
using platform::ScopedMainRunLoop;

const Uuid kPhone = *Uuid::parse("11111111-2222-4333-8444-555555555555");
const Uuid kWatch = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");

// Two devices that each use both roles: the phone publishes the link service and scans, the
// watch advertises and subscribes, each through a scripted central on its own adapter.
class SimulatedAirTest : public ::testing::Test {
protected:
    SimulatedAirTest() {
        peripheral->addService(linkService());
        settle();
    }

    void settle(double seconds = 0.5) { loop.advance(seconds); }

    void connectWatch() {
        watch.connect(kPhone);
        settle();
        ASSERT_TRUE(watch.isDiscovered());
    }

    void subscribeWatch() {
        connectWatch();
        ASSERT_TRUE(watch.subscribe(kNotify));
        settle();
        ASSERT_EQ(server.subscribed.size(), 1u);
    }

    Central watchCentral() const { return server.subscribed.back().first; }

    static Bytes packet(std::uint8_t n) { return Bytes{0x40, n, 0xAA, 0xBB}; }

    RunLoop loop{RunLoop::Clock::virtualTime};
    ScopedMainRunLoop scoped{loop};
    SimulatedAir air{loop, SimulatedAirOptions{.seed = 11}};
    ScriptedCentral phone{air.attach({.identifier = kPhone}), loop};
    ScriptedCentral watch{air.attach({.identifier = kWatch}), loop};
    PeripheralRecorder server;
    std::unique_ptr<PeripheralManager> peripheral =
        std::make_unique<PeripheralManager>(phone.adapter(), &server);
};

TEST_F(SimulatedAirTest, StateComesAfterCreationAndWithEveryChange) {
    PeripheralRecorder recorder;
    PeripheralManager manager(watch.adapter(), &recorder);
    EXPECT_EQ(manager.state(), ManagerState::unknown);
    EXPECT_TRUE(recorder.states.empty());  // never inside the constructor
    loop.runUntilIdle();
    EXPECT_EQ(recorder.states, std::vector<ManagerState>{ManagerState::poweredOn});

    air.powerOff(kWatch);
    settle();
    air.powerOn(kWatch);
    settle();
    air.reset(kWatch);
    settle(0.05);
    EXPECT_EQ(manager.state(), ManagerState::resetting);
    settle();
    EXPECT_EQ(recorder.states,
              (std::vector<ManagerState>{ManagerState::poweredOn, ManagerState::poweredOff,
                                         ManagerState::poweredOn, ManagerState::resetting,
                                         ManagerState::poweredOn}));
    EXPECT_EQ(watch.manager().state(), ManagerState::poweredOn);
}

TEST_F(SimulatedAirTest, PowerOffTakesTheServicesAndRefusesNewOnes) {
    air.powerOff(kPhone);
    settle();
    peripheral->addService(linkService());
    settle();
    ASSERT_EQ(server.added.size(), 2u);
    EXPECT_FALSE(server.added[0]);
    ASSERT_TRUE(server.added[1]);
    EXPECT_EQ(server.added[1]->code, static_cast<long>(ErrorCode::notPoweredOn));

    air.powerOn(kPhone);
    settle();
    connectWatch();
    EXPECT_TRUE(watch.peripheral()->services().empty());
}

TEST_F(SimulatedAirTest, ScanReportsAdvertisementsAsSentAndFoldsDuplicates) {
    PeripheralRecorder watchSide;
    PeripheralManager advertiser(watch.adapter(), &watchSide);
    AdvertisementData data = watchAdvertisement();
    data.solicitedServiceUuids = {Uuid::fromShort(0x1812)};
    air.setRssi(kWatch, -63);
    advertiser.startAdvertising(data);
    peripheral->startAdvertising({.serviceUuids = {kService}});
    phone.scan();
    watch.scan();
    settle();
    ASSERT_EQ(phone.discoveries().count(kWatch), 1u);
    const auto& seen = phone.discoveries().at(kWatch);
    EXPECT_EQ(seen.data, data);
    EXPECT_EQ(seen.data.manufacturerData,
              (Bytes{0x51, 0x7E, 0x10, 0x20, 0x30, 0x40, 0x50, 0x01, 0x03}));
    EXPECT_EQ(seen.rssi, -63);
    EXPECT_EQ(phone.discoveries().at(kWatch).reports, 1);
    EXPECT_EQ(watch.discoveries().at(kPhone).data.serviceUuids, std::vector<Uuid>{kService});
    // Retrieval knows the devices on the air, and nothing else.
    const Uuid identifiers[] = {kWatch, *Uuid::parse("DEADBEEF-0000-4000-8000-000000000000")};
    const auto retrieved = phone.manager().retrievePeripherals(identifiers);
    ASSERT_EQ(retrieved.size(), 1u);
    EXPECT_EQ(retrieved[0]->identifier(), kWatch);
    EXPECT_EQ(retrieved[0]->name(), "Kavo R5 (1A2B)");

    advertiser.startAdvertising(data);  // the same again: folded
    settle();
    EXPECT_EQ(phone.discoveries().at(kWatch).reports, 1);
    data.manufacturerData->at(7) = 0x02;  // a changed advertisement is news
    advertiser.startAdvertising(data);
    settle();
    EXPECT_EQ(phone.discoveries().at(kWatch).reports, 2);
    EXPECT_EQ(phone.discoveries().at(kWatch).data.manufacturerData->at(7), 0x02);

    phone.stopScan();
    advertiser.stopAdvertising();
    advertiser.startAdvertising(watchAdvertisement());
    settle();
    EXPECT_EQ(phone.discoveries().at(kWatch).reports, 2);
    phone.scan();  // a new scan reports every advertiser again
    settle();
    EXPECT_EQ(phone.discoveries().at(kWatch).reports, 3);
}

TEST_F(SimulatedAirTest, ConnectDiscoverSubscribeAndNotify) {
    connectWatch();
    ASSERT_EQ(server.connected.size(), 1u);
    EXPECT_EQ(server.connected[0].identifier, kWatch);
    const auto services = watch.peripheral()->services();
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].uuid, kService);
    ASSERT_EQ(services[0].characteristics.size(), 3u);
    EXPECT_EQ(services[0].characteristics[0].uuid, kNotify);
    EXPECT_EQ(services[0].characteristics[0].properties,
              CharacteristicProperties::read | CharacteristicProperties::notify);
    EXPECT_EQ(services[0].characteristics[1].uuid, kWrite);
    EXPECT_EQ(services[0].characteristics[2].uuid, kAddress);

    ASSERT_TRUE(watch.subscribe(kNotify));
    settle();
    ASSERT_EQ(server.subscribed.size(), 1u);
    EXPECT_EQ(server.subscribed[0].second, kNotify);
    const Central central = watchCentral();
    EXPECT_EQ(central.identifier, kWatch);
    EXPECT_EQ(central.maximumUpdateValueLength, 514u);
    EXPECT_EQ(watch.subscriptionResults(), std::vector<std::optional<Error>>{std::nullopt});

    EXPECT_EQ(peripheral->updateValue(packet(1), kNotify, central), UpdateResult::accepted);
    EXPECT_EQ(peripheral->updateValue(packet(2), kNotify, central), UpdateResult::accepted);
    // Not to be sent: another characteristic, a central that is not subscribed, too long.
    EXPECT_EQ(peripheral->updateValue(packet(3), kWrite, central), UpdateResult::rejected);
    EXPECT_EQ(peripheral->updateValue(packet(3), kNotify, Central{kPhone, 514}),
              UpdateResult::rejected);
    EXPECT_EQ(peripheral->updateValue(Bytes(515, 0), kNotify, central), UpdateResult::rejected);
    settle();
    EXPECT_EQ(watch.notifications(), (std::vector<Bytes>{packet(1), packet(2)}));
}

TEST_F(SimulatedAirTest, WritesArriveInBatchesAndAreAnsweredOneByOne) {
    subscribeWatch();
    for (std::uint8_t n = 1; n <= 3; ++n) {
        ASSERT_TRUE(watch.write(kWrite, packet(n), WriteType::withoutResponse));
    }
    settle();
    ASSERT_EQ(server.batches.size(), 1u);
    ASSERT_EQ(server.batches[0].size(), 3u);
    for (std::uint8_t n = 1; n <= 3; ++n) {
        const AttRequest& request = server.batches[0][n - 1];
        EXPECT_EQ(request.value, packet(n));
        EXPECT_EQ(request.central.identifier, kWatch);
        EXPECT_EQ(request.characteristic, kWrite);
        EXPECT_EQ(request.offset, 0u);
    }

    server.answerWrite = [](const AttRequest& request) {
        return request.value == packet(9) ? AttError::writeNotPermitted : AttError::success;
    };
    ASSERT_TRUE(watch.write(kWrite, packet(8), WriteType::withResponse));
    ASSERT_TRUE(watch.write(kWrite, packet(9), WriteType::withResponse));
    settle();
    ASSERT_EQ(watch.writeResults().size(), 2u);
    EXPECT_FALSE(watch.writeResults()[0]);
    ASSERT_TRUE(watch.writeResults()[1]);
    EXPECT_EQ(attErrorOf(*watch.writeResults()[1]), AttError::writeNotPermitted);
    EXPECT_EQ(server.writtenValues().back(), packet(9));

    // The central's own checks: a value longer than the MTU allows, a read-only target.
    EXPECT_FALSE(watch.write(kWrite, Bytes(515, 0), WriteType::withoutResponse));
    EXPECT_FALSE(watch.write(kAddress, packet(1), WriteType::withResponse));
}

TEST_F(SimulatedAirTest, BackPressureRefusesThenSignalsReadyExactlyOnce) {
    subscribeWatch();
    const Central central = watchCentral();
    air.fillTransmitQueue(kPhone, 2);
    EXPECT_EQ(peripheral->updateValue(packet(1), kNotify, central), UpdateResult::queueFull);
    EXPECT_EQ(peripheral->updateValue(packet(1), kNotify, central), UpdateResult::queueFull);
    EXPECT_EQ(server.ready, 0);  // never inside the call
    settle();
    EXPECT_EQ(server.ready, 1);
    EXPECT_EQ(peripheral->updateValue(packet(1), kNotify, central), UpdateResult::accepted);
    settle();
    EXPECT_EQ(server.ready, 1);

    // A burst beyond the transmit queue's 16 packets, resent from the ready callback.
    std::vector<Bytes> outbox;
    for (std::uint8_t n = 2; n < 40; ++n) {
        outbox.push_back(packet(n));
    }
    std::size_t next = 0;
    const auto pump = [&] {
        while (next < outbox.size()) {
            const auto result = peripheral->updateValue(outbox[next], kNotify, central);
            if (result == UpdateResult::queueFull) {
                return;
            }
            ASSERT_EQ(result, UpdateResult::accepted);
            ++next;
        }
    };
    server.onReady = pump;
    pump();
    EXPECT_EQ(next, 16u);
    settle();
    EXPECT_EQ(next, outbox.size());
    EXPECT_GE(server.ready, 3);
    std::vector<Bytes> expected{packet(1)};
    expected.insert(expected.end(), outbox.begin(), outbox.end());
    EXPECT_EQ(watch.notifications(), expected);
}

TEST_F(SimulatedAirTest, WriteWithoutResponseRefusedForAFullQueueThenReady) {
    subscribeWatch();
    air.fillTransmitQueue(kWatch, 1);
    const auto refused = watch.write(kWrite, packet(1), WriteType::withoutResponse);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, static_cast<long>(ErrorCode::outOfSpace));
    settle();
    EXPECT_EQ(watch.writeReadyCount(), 1);
    EXPECT_TRUE(watch.write(kWrite, packet(1), WriteType::withoutResponse));
    settle();
    EXPECT_EQ(server.writtenValues(), std::vector<Bytes>{packet(1)});
}

TEST_F(SimulatedAirTest, ReadsAreAnsweredByTheApplication) {
    subscribeWatch();
    server.readValue = Bytes{'1', 'A', '2', 'B'};
    ASSERT_TRUE(watch.read(kAddress));
    settle();
    ASSERT_EQ(server.reads.size(), 1u);
    EXPECT_EQ(server.reads[0].characteristic, kAddress);
    EXPECT_EQ(server.reads[0].central.identifier, kWatch);
    ASSERT_EQ(watch.reads().size(), 1u);
    EXPECT_EQ(watch.reads()[0].value(), server.readValue);

    server.readResult = applicationError(0);
    ASSERT_TRUE(watch.read(kNotify));  // the notifying characteristic is read the same way
    settle();
    ASSERT_EQ(watch.reads().size(), 2u);
    ASSERT_FALSE(watch.reads()[1]);
    EXPECT_EQ(attErrorOf(watch.reads()[1].error()), AttError{0x80});
    EXPECT_EQ(server.reads[1].characteristic, kNotify);
}

TEST_F(SimulatedAirTest, UnsubscribeAndDisconnectAreReported) {
    subscribeWatch();
    ASSERT_TRUE(watch.subscribe(kNotify, false));
    settle();
    ASSERT_EQ(server.unsubscribed.size(), 1u);
    EXPECT_EQ(server.unsubscribed[0].first.identifier, kWatch);
    EXPECT_EQ(server.unsubscribed[0].second, kNotify);

    ASSERT_TRUE(watch.subscribe(kNotify));
    settle();
    watch.disconnect();
    settle();
    // A connection that ends takes its subscriptions with it.
    EXPECT_EQ(server.unsubscribed.size(), 2u);
    EXPECT_EQ(server.disconnected.size(), 1u);
    EXPECT_EQ(watch.disconnections(), std::vector<std::optional<Error>>{std::nullopt});
    const auto events = server.events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"unsubscribe", "disconnect"}));
}

TEST_F(SimulatedAirTest, DisconnectionsCarryTheirReason) {
    struct Case {
        const char* what;
        std::function<void()> cause;
        std::optional<long> code;
    };
    const Case cases[] = {
        {"cancelled here", [&] { phone.disconnect(); }, std::nullopt},
        {"the watch powered off", [&] { air.powerOff(kWatch); }, 7},
        {"the air timed out",
         [&] { air.dropConnection(kPhone, kWatch, ErrorCode::connectionTimeout); }, 6},
        {"the air ended it",
         [&] { air.dropConnection(kWatch, kPhone, ErrorCode::peripheralDisconnected); }, 7},
    };
    for (const Case& c : cases) {
        air.powerOn(kWatch);
        settle();
        phone.connect(kWatch);
        settle();
        ASSERT_TRUE(phone.isConnected()) << c.what;
        const std::size_t before = phone.disconnections().size();
        c.cause();
        settle();
        ASSERT_EQ(phone.disconnections().size(), before + 1) << c.what;
        const auto& error = phone.disconnections().back();
        EXPECT_EQ(error.has_value(), c.code.has_value()) << c.what;
        if (error && c.code) {
            EXPECT_EQ(error->domain, kErrorDomain);
            EXPECT_EQ(error->code, *c.code) << c.what;
        }
    }
}

TEST_F(SimulatedAirTest, ConnectingWaitsForAnAbsentPeerWithoutTimeOut) {
    air.powerOff(kWatch);
    settle();
    phone.connect(kWatch);
    settle(3600);
    EXPECT_EQ(phone.peripheral()->state(), PeripheralState::connecting);
    EXPECT_TRUE(phone.connectFailures().empty());
    air.powerOn(kWatch);
    settle();
    EXPECT_TRUE(phone.isConnected());

    // A pending attempt the air gives up on fails with the air's reason.
    air.powerOff(kWatch);
    settle();
    phone.connect(kWatch);
    air.dropConnection(kPhone, kWatch, ErrorCode::connectionFailed);
    settle();
    ASSERT_EQ(phone.connectFailures().size(), 1u);
    EXPECT_EQ(phone.connectFailures()[0].code, static_cast<long>(ErrorCode::connectionFailed));
    EXPECT_EQ(phone.peripheral()->state(), PeripheralState::disconnected);
}

TEST_F(SimulatedAirTest, RelaunchRestoresTheSubscribedCentral) {
    PeripheralRecorder first;
    peripheral.reset();
    peripheral = std::make_unique<PeripheralManager>(
        phone.adapter(), &first,
        PeripheralManagerOptions{.restorationIdentifier = "TQPeripheralManagerIdentifier"});
    peripheral->addService(linkService());
    peripheral->startAdvertising({.serviceUuids = {kService}});
    settle();
    watch.connect(kPhone);
    settle();
    ASSERT_TRUE(watch.subscribe(kNotify));
    settle();

    // The application goes away and comes back; the stack kept the service and the watch.
    peripheral.reset();
    PeripheralRecorder second;
    peripheral = std::make_unique<PeripheralManager>(
        phone.adapter(), &second,
        PeripheralManagerOptions{.restorationIdentifier = "TQPeripheralManagerIdentifier"});
    settle();
    EXPECT_EQ(second.events(), (std::vector<std::string>{"restore", "state"}));
    ASSERT_TRUE(second.restored);
    EXPECT_EQ(second.restored->services, std::vector<MutableService>{linkService()});
    const auto centrals = second.restored->subscribedCentrals(kNotify);
    ASSERT_EQ(centrals.size(), 1u);
    EXPECT_EQ(centrals[0].identifier, kWatch);
    EXPECT_TRUE(second.restored->advertisement);
    EXPECT_EQ(peripheral->updateValue(packet(5), kNotify, centrals[0]), UpdateResult::accepted);
    settle();
    EXPECT_EQ(watch.notifications(), std::vector<Bytes>{packet(5)});

    // A manager without the identifier finds nothing kept.
    peripheral.reset();
    PeripheralRecorder third;
    peripheral = std::make_unique<PeripheralManager>(phone.adapter(), &third);
    settle();
    EXPECT_FALSE(third.restored);
    EXPECT_FALSE(peripheral->isAdvertising());
    EXPECT_EQ(peripheral->updateValue(packet(6), kNotify, centrals[0]), UpdateResult::rejected);
}

TEST_F(SimulatedAirTest, AForeignCentralIsToldApartFromTheWatch) {
    subscribeWatch();
    auto stranger = air.injectForeignCentral(kPhone);
    settle();
    ASSERT_TRUE(stranger->isDiscovered());
    ASSERT_TRUE(watch.write(kWrite, packet(1), WriteType::withoutResponse));
    ASSERT_TRUE(stranger->write(kWrite, packet(2), WriteType::withoutResponse));
    settle();
    // Writes on two links are never one delivery.
    ASSERT_EQ(server.batches.size(), 2u);
    ASSERT_EQ(server.batches[0].size(), 1u);
    ASSERT_EQ(server.batches[1].size(), 1u);
    EXPECT_EQ(server.batches[0][0].central.identifier, kWatch);
    EXPECT_EQ(server.batches[1][0].central.identifier, stranger->identifier());
    EXPECT_NE(stranger->identifier(), kWatch);
}

TEST_F(SimulatedAirTest, ScriptedDefectsHitTheNextDataPackets) {
    subscribeWatch();
    const Central central = watchCentral();
    const auto sendThree = [&] {
        for (std::uint8_t n = 1; n <= 3; ++n) {
            ASSERT_EQ(peripheral->updateValue(packet(n), kNotify, central), UpdateResult::accepted);
        }
    };
    struct Case {
        PacketFault fault;
        std::vector<Bytes> expected;
    };
    const Case cases[] = {
        {{FaultKind::drop, 2}, {packet(3)}},
        {{FaultKind::duplicate, 1}, {packet(1), packet(1), packet(2), packet(3)}},
        {{FaultKind::delay, 1, 0.3}, {packet(1), packet(2), packet(3)}},
    };
    std::size_t seen = 0;
    for (const Case& c : cases) {
        air.injectFault(kPhone, kWatch, c.fault);
        sendThree();
        settle(0.1);
        if (c.fault.kind == FaultKind::delay) {
            // Held back, and what came after it waits behind it.
            EXPECT_EQ(watch.notifications().size(), seen);
        }
        settle();
        const std::vector<Bytes> got(watch.notifications().begin() + static_cast<long>(seen),
                                     watch.notifications().end());
        EXPECT_EQ(got, c.expected);
        seen = watch.notifications().size();
    }

    air.injectFault(kPhone, kWatch, {FaultKind::corrupt, 1});
    sendThree();
    settle();
    const Bytes corrupted = watch.notifications()[seen];
    const Bytes original = packet(1);
    ASSERT_EQ(corrupted.size(), original.size());
    int flipped = 0;
    for (std::size_t i = 0; i < corrupted.size(); ++i) {
        flipped += __builtin_popcount(corrupted[i] ^ original[i]);
    }
    EXPECT_EQ(flipped, 1);
    EXPECT_EQ(watch.notifications()[seen + 1], packet(2));

    // The other direction: a write command lost on the way to the phone.
    air.injectFault(kWatch, kPhone, {FaultKind::drop, 1});
    ASSERT_TRUE(watch.write(kWrite, packet(7), WriteType::withoutResponse));
    ASSERT_TRUE(watch.write(kWrite, packet(8), WriteType::withoutResponse));
    settle();
    EXPECT_EQ(server.writtenValues(), std::vector<Bytes>{packet(8)});
}

// The same seed gives the same losses, packet for packet.
std::vector<Bytes> lossyRun(std::uint64_t seed) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    SimulatedAir air(loop, {.seed = seed});
    ScriptedCentral phone(air.attach({.identifier = kPhone}), loop);
    ScriptedCentral watch(air.attach({.identifier = kWatch}), loop);
    PeripheralRecorder recorder;
    PeripheralManager manager(phone.adapter(), &recorder);
    loop.runUntilIdle();
    manager.addService(linkService());
    watch.connect(kPhone);
    loop.advance(1);
    EXPECT_TRUE(watch.subscribe(kNotify));
    loop.advance(1);
    air.setRandomFaults(kPhone, kWatch, {.drop = 0.2, .corrupt = 0.2, .duplicate = 0.2});
    for (std::uint8_t n = 0; n < 50; ++n) {
        EXPECT_EQ(manager.updateValue(Bytes{n, n, n, n}, kNotify, recorder.subscribed[0].first),
                  UpdateResult::accepted);
        loop.advance(0.01);
    }
    loop.advance(1);
    return watch.notifications();
}

TEST(SimulatedAirSeedTest, RandomDefectsRepeatUnderTheSameSeed) {
    const auto first = lossyRun(5);
    EXPECT_EQ(first, lossyRun(5));
    EXPECT_NE(first.size(), 50u);  // some were lost or repeated
}

TEST_F(SimulatedAirTest, AnUnansweredRequestEndsTheConnection) {
    subscribeWatch();
    server.answerReads = false;
    ASSERT_TRUE(watch.read(kAddress));
    settle(29);
    EXPECT_TRUE(watch.isConnected());
    settle(2);
    EXPECT_FALSE(watch.isConnected());
    ASSERT_EQ(watch.disconnections().size(), 1u);
    EXPECT_EQ(watch.disconnections()[0]->code, static_cast<long>(ErrorCode::connectionTimeout));
    EXPECT_EQ(server.disconnected.size(), 1u);
}

TEST_F(SimulatedAirTest, NoCallbackReachesADestroyedManager) {
    {
        PeripheralRecorder recorder;
        PeripheralManager manager(watch.adapter(), &recorder);
        manager.addService(linkService());
        // Destroyed with its state and add-service callbacks still queued; the recorder would be
        // gone by the time they ran.
    }
    subscribeWatch();
    peripheral.reset();
    loop.runUntilIdle();
    settle();
    SUCCEED();
}

}  // namespace
