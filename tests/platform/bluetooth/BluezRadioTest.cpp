#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BluetoothTestSupport.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/CentralManager.h"
#include "platform/bluetooth/bluez/BluezRadio.h"
#include "platform/bluetooth/sim/ScriptedCentral.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeBluez.h"
#include "support/LoopWait.h"
#include "support/PrivateBusTest.h"
#include "support/RecordingLogSink.h"
#include "support/TempDir.h"

namespace {

using namespace bluetooth_test;
using platform::RunLoop;
using platform::ScopedMainRunLoop;
using platform::bluetooth::bluez::BluezOptions;
using platform::bluetooth::bluez::BluezRadio;
using platform::bluetooth::bluez::DeviceIdentities;
using testing_support::FakeBluez;

const Uuid kPhone = *Uuid::parse("11111111-2222-4333-8444-555555555555");
const Uuid kWatch = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
const std::string kWatchAddress = "C0:11:22:33:44:55";

// The phone's stack on the BlueZ radio against the tests' own bluetoothd on a private bus,
// whose air reaches a scripted watch. The bus answers on its own threads, so the loop runs on
// the real clock and every wait is for an event, bounded.
class BluezRadioTest : public testing_support::PrivateBusTest {
protected:
    void SetUp() override {
        PrivateBusTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        daemon = FakeBluez::start(bus->address(), loop, kPhone);
        ASSERT_NE(daemon, nullptr);
    }

    void TearDown() override {
        peripheral.reset();
        central.reset();
        watch.reset();
        phone.reset();
        daemon.reset();
    }

    std::unique_ptr<BluezRadio> radio(std::size_t capacity = 32) {
        return std::make_unique<BluezRadio>(
            loop, kPhone, defaults,
            BluezOptions{.busAddress = bus->address(), .adapter = {}, .transmitQueueCapacity = capacity});
    }

    void startPhone(std::size_t capacity = 32) {
        phone = std::make_unique<Adapter>(radio(capacity), loop);
        peripheral = std::make_unique<PeripheralManager>(*phone, &server);
        ASSERT_TRUE(waitFor([&] { return !server.states.empty(); }));
    }

    // The phone publishes the link service and advertises, as its peripheral role does.
    void publish() {
        peripheral->addService(linkService());
        AdvertisementData data = watchAdvertisement();
        data.localName = "KavoManager";
        data.solicitedServiceUuids = {kService};
        peripheral->startAdvertising(data);
        ASSERT_TRUE(waitFor([&] {
            const auto counts = daemon->counts();
            return counts.applicationRegistered && counts.advertising;
        }));
    }

    // The watch connects, subscribes and reads the address, as the simulated watch does.
    void connectWatch(PeripheralRecorder& recorder) {
        watch = std::make_unique<ScriptedCentral>(daemon->attach(kWatch, kWatchAddress), loop);
        watch->connect(kPhone);
        ASSERT_TRUE(waitFor([&] { return watch->isDiscovered(); }));
        ASSERT_TRUE(watch->subscribe(kNotify));
        ASSERT_TRUE(waitFor([&] { return !recorder.subscribed.empty(); }));
        recorder.readValue = Bytes{'1', 'A', '2', 'B'};
        ASSERT_TRUE(watch->read(kAddress));
        ASSERT_TRUE(waitFor([&] { return !watch->reads().empty(); }));
    }
    void connectWatch() { connectWatch(server); }

    // Runs the loop until done() holds, for at most ten seconds of real time.
    bool waitFor(const std::function<bool()>& done) {
        return testing_support::runLoopUntil(loop, done, 10);
    }

    std::shared_ptr<testing_support::RecordingLogSink> log =
        std::make_shared<testing_support::RecordingLogSink>();
    testing_support::ScopedLogSink installLog{log};
    RunLoop loop{RunLoop::Clock::real};
    ScopedMainRunLoop scoped{loop};
    testing_support::TempDir home;
    platform::UserDefaults defaults{home.path() / "defaults.plist"};
    std::unique_ptr<FakeBluez> daemon;
    PeripheralRecorder server;
    std::unique_ptr<Adapter> phone;
    std::unique_ptr<PeripheralManager> peripheral;
    std::unique_ptr<CentralManager> central;
    std::unique_ptr<ScriptedCentral> watch;
};

TEST_F(BluezRadioTest, TheApplicationAndAdvertisementFollowTheDocumentedInterfaces) {
    startPhone();
    EXPECT_EQ(server.states.back(), ManagerState::poweredOn);
    publish();

    const auto tree = daemon->application();
    EXPECT_TRUE(tree.problems.empty()) << tree.problems.front();
    ASSERT_EQ(tree.services.size(), 1u);
    EXPECT_EQ(tree.services[0].uuid, "9a3f68e0-86ce-11e5-a309-0002a5d5c51b");
    EXPECT_TRUE(tree.services[0].primary);
    EXPECT_TRUE(tree.services[0].path.starts_with("/com/kavo/KavoManager/gatt/"));
    struct Expected {
        std::string uuid;
        std::vector<std::string> flags;
    };
    const std::vector<Expected> expected{
        {"cece518b-28d7-4171-92d5-76a1e249a3b9", {"encrypt-read", "notify"}},
        {"c2f2cc0f-c085-4dd4-be5a-aca3074bbc72", {"write-without-response", "encrypt-write"}},
        {"e87988e0-4990-487f-a502-9cfeda7ed834", {"read"}},
    };
    ASSERT_EQ(tree.characteristics.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].uuid);
        EXPECT_EQ(tree.characteristics[i].uuid, expected[i].uuid);
        EXPECT_EQ(tree.characteristics[i].flags, expected[i].flags);
        EXPECT_EQ(tree.characteristics[i].service, tree.services[0].path);
        EXPECT_FALSE(tree.characteristics[i].notifying);
    }

    const auto advertisement = daemon->advertisement();
    ASSERT_TRUE(advertisement);
    EXPECT_TRUE(advertisement->problems.empty()) << advertisement->problems.front();
    EXPECT_EQ(advertisement->type, "peripheral");
    EXPECT_EQ(advertisement->localName, "KavoManager");
    EXPECT_TRUE(advertisement->serviceUuids.empty());
    EXPECT_EQ(advertisement->solicitUuids,
              std::vector<std::string>{"9a3f68e0-86ce-11e5-a309-0002a5d5c51b"});
    // The company identifier travels as the key, least significant byte first on the air.
    ASSERT_EQ(advertisement->manufacturerData.size(), 1u);
    EXPECT_EQ(advertisement->manufacturerData.begin()->first, 0x7E51);
    EXPECT_EQ(advertisement->manufacturerData.begin()->second,
              (Bytes{0x10, 0x20, 0x30, 0x40, 0x50, 0x01, 0x03}));
}

TEST_F(BluezRadioTest, AWatchWritesReadsAndHearsNotificationsThroughTheDaemon) {
    startPhone();
    publish();
    connectWatch();

    // The central is its device's stable identifier, kept in the defaults.
    const Central central = server.subscribed[0].first;
    DeviceIdentities identities(defaults);
    EXPECT_EQ(central.identifier, identities.identifierFor("dev_C0_11_22_33_44_55"));
    EXPECT_EQ(server.subscribed[0].second, kNotify);
    // The daemon's MTU (the watch's exchange) sets the longest notification, from the first
    // call that names it.
    EXPECT_EQ(watch->reads()[0].value(), server.readValue);
    ASSERT_EQ(server.reads.size(), 1u);
    EXPECT_EQ(server.reads[0].central.maximumUpdateValueLength, 514u);

    for (std::uint8_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(peripheral->updateValue(Bytes(152, n), kNotify, central),
                  UpdateResult::accepted);
    }
    ASSERT_TRUE(waitFor([&] { return watch->notifications().size() == 3; }));
    EXPECT_EQ(watch->notifications()[2], Bytes(152, 3));

    ASSERT_TRUE(watch->write(kWrite, Bytes{1}, WriteType::withoutResponse));
    ASSERT_TRUE(watch->write(kWrite, Bytes{2}, WriteType::withResponse));
    ASSERT_TRUE(waitFor([&] { return watch->writeResults().size() == 1; }));
    EXPECT_FALSE(watch->writeResults()[0]);
    EXPECT_EQ(server.writtenValues(), (std::vector<Bytes>{{1}, {2}}));

    // A refusal travels as an org.bluez error and comes back to the watch as its ATT error.
    server.answerWrite = [](const AttRequest&) { return AttError::writeNotPermitted; };
    ASSERT_TRUE(watch->write(kWrite, Bytes{3}, WriteType::withResponse));
    ASSERT_TRUE(waitFor([&] { return watch->writeResults().size() == 2; }));
    ASSERT_TRUE(watch->writeResults()[1]);
    EXPECT_EQ(attErrorOf(*watch->writeResults()[1]), AttError::writeNotPermitted);

    server.readResult = AttError::readNotPermitted;
    ASSERT_TRUE(watch->read(kAddress));
    ASSERT_TRUE(waitFor([&] { return watch->reads().size() == 2; }));
    ASSERT_FALSE(watch->reads()[1]);
    EXPECT_EQ(attErrorOf(watch->reads()[1].error()), AttError::readNotPermitted);

    ASSERT_TRUE(watch->subscribe(kNotify, false));
    ASSERT_TRUE(waitFor([&] { return !server.unsubscribed.empty(); }));
    EXPECT_EQ(peripheral->updateValue(Bytes{9}, kNotify, central), UpdateResult::rejected);
    watch->disconnect();
    ASSERT_TRUE(waitFor([&] { return !server.disconnected.empty(); }));
    EXPECT_EQ(server.disconnected[0].identifier, central.identifier);
}

TEST_F(BluezRadioTest, NotificationsMeetBackPressureThenReady) {
    startPhone(2);
    publish();
    connectWatch();
    const Central central = server.subscribed[0].first;
    daemon->holdNotifications(true);
    int accepted = 0;
    while (peripheral->updateValue(Bytes{static_cast<std::uint8_t>(accepted)}, kNotify, central) ==
           UpdateResult::accepted) {
        ++accepted;
    }
    EXPECT_LE(accepted, 2);
    ASSERT_TRUE(waitFor([&] { return server.ready == 1; }));
    daemon->holdNotifications(false);
    ASSERT_EQ(peripheral->updateValue(Bytes{0xFF}, kNotify, central), UpdateResult::accepted);
    ASSERT_TRUE(waitFor([&] { return watch->notifications().size() == std::size_t(accepted) + 1; }));
    EXPECT_EQ(watch->notifications().back(), Bytes{0xFF});
}

TEST_F(BluezRadioTest, ACentralDisconnectingMidNotificationEndsItsLinkAndNothingElse) {
    startPhone();
    publish();
    connectWatch();
    const Central central = server.subscribed[0].first;
    daemon->holdNotifications(true);
    for (std::uint8_t n = 0; n < 5; ++n) {
        ASSERT_EQ(peripheral->updateValue(Bytes(100, n), kNotify, central),
                  UpdateResult::accepted);
    }
    daemon->dropConnection(kWatchAddress);
    daemon->holdNotifications(false);
    ASSERT_TRUE(waitFor([&] { return !server.disconnected.empty(); }));
    EXPECT_EQ(server.unsubscribed.size(), 1u);
    EXPECT_TRUE(watch->notifications().empty());
    EXPECT_EQ(peripheral->updateValue(Bytes{1}, kNotify, central), UpdateResult::rejected);
    EXPECT_EQ(peripheral->state(), ManagerState::poweredOn);

    // The watch comes back on the same device and is the same central.
    watch.reset();
    server.subscribed.clear();
    connectWatch();
    EXPECT_EQ(server.subscribed[0].first.identifier, central.identifier);
}

// What the daemon and the adapter do becomes the layer's state.
TEST_F(BluezRadioTest, TheDaemonAndTheAdapterMakeTheState) {
    struct Step {
        const char* what;
        std::function<void(FakeBluez&)> act;
        ManagerState state;
    };
    const std::vector<Step> steps{
        {"powered off", [](FakeBluez& d) { d.setPowered(false); }, ManagerState::poweredOff},
        {"powered on", [](FakeBluez& d) { d.setPowered(true); }, ManagerState::poweredOn},
        {"adapter removed", [](FakeBluez& d) { d.removeAdapter(); }, ManagerState::unsupported},
        {"adapter back", [](FakeBluez& d) { d.addAdapter(); }, ManagerState::poweredOn},
        {"daemon gone", [](FakeBluez& d) { d.stopDaemon(); }, ManagerState::resetting},
        {"daemon back", [](FakeBluez& d) { d.startDaemon(); }, ManagerState::poweredOn},
    };
    startPhone();
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act(*daemon);
        ASSERT_TRUE(waitFor([&] { return server.states.back() == step.state; }))
            << toString(server.states.back());
    }
}

TEST_F(BluezRadioTest, NoDaemonOrNoAdapterIsUnsupported) {
    {
        daemon.reset();
        EXPECT_EQ(radio()->state(), ManagerState::unsupported);
    }
    daemon = FakeBluez::start(bus->address(), loop, kPhone, false);
    ASSERT_NE(daemon, nullptr);
    EXPECT_EQ(radio()->state(), ManagerState::unsupported);
    startPhone();
    EXPECT_EQ(server.states.back(), ManagerState::unsupported);
    daemon->addAdapter();
    ASSERT_TRUE(waitFor([&] { return server.states.back() == ManagerState::poweredOn; }));
}

// A peripheral role that publishes again whenever the power comes back, as the link's does.
class Republisher final : public PeripheralRecorder {
public:
    void peripheralManagerDidUpdateState(PeripheralManager& manager) override {
        PeripheralRecorder::peripheralManagerDidUpdateState(manager);
        if (manager.state() == ManagerState::poweredOn) {
            manager.addService(linkService());
            manager.startAdvertising(watchAdvertisement());
        }
    }
};

TEST_F(BluezRadioTest, ARestartedDaemonGetsTheApplicationAndAdvertisementAgain) {
    Republisher republisher;
    phone = std::make_unique<Adapter>(radio(), loop);
    peripheral = std::make_unique<PeripheralManager>(*phone, &republisher);
    ASSERT_TRUE(waitFor([&] {
        const auto counts = daemon->counts();
        return counts.applicationRegistrations == 1 && counts.advertisementRegistrations == 1;
    }));
    connectWatch(republisher);

    daemon->stopDaemon();
    ASSERT_TRUE(waitFor([&] { return !watch->disconnections().empty(); }));
    daemon->startDaemon();
    ASSERT_TRUE(waitFor([&] {
        const auto counts = daemon->counts();
        return republisher.states.size() == 3 && counts.applicationRegistrations == 2 &&
               counts.advertisementRegistrations == 2;
    }));
    EXPECT_EQ(republisher.states,
              (std::vector<ManagerState>{ManagerState::poweredOn, ManagerState::resetting,
                                         ManagerState::poweredOn}));
    // And the watch finds the service again.
    watch.reset();
    watch = std::make_unique<ScriptedCentral>(daemon->attach(kWatch, kWatchAddress), loop);
    watch->connect(kPhone);
    ASSERT_TRUE(waitFor([&] { return watch->isDiscovered(); }));
}

TEST_F(BluezRadioTest, FailedRegistrationsAreToldAndTheNextPublishingTriesAgain) {
    startPhone();
    daemon->failNext("RegisterApplication", "org.bluez.Error.Failed");
    daemon->failNext("RegisterAdvertisement", "org.bluez.Error.NotPermitted");
    peripheral->addService(linkService());
    peripheral->startAdvertising(watchAdvertisement());
    ASSERT_TRUE(waitFor([&] {
        return log->contains("the GATT application was not registered: org.bluez.Error.Failed") &&
               log->contains("the advertisement was not registered: org.bluez.Error.NotPermitted");
    }));
    // Any later registration pass may already have tried again, so only the refusals are
    // certain here.
    EXPECT_EQ(daemon->counts().refusals, 2);
    EXPECT_EQ(peripheral->state(), ManagerState::poweredOn);

    peripheral->removeAllServices();
    peripheral->addService(linkService());
    peripheral->startAdvertising(watchAdvertisement());
    ASSERT_TRUE(waitFor([&] {
        const auto counts = daemon->counts();
        return counts.applicationRegistered && counts.advertising;
    }));
}

// The central role: LE discovery, devices as they appear, connections and their ends.
class CentralRecorder final : public CentralManagerDelegate {
public:
    void didDiscoverPeripheral(CentralManager&, RemotePeripheral& peripheral,
                               const AdvertisementData& data, int rssi) override {
        found = &peripheral;
        this->data = data;
        this->rssi = rssi;
    }
    void didConnectPeripheral(CentralManager&, RemotePeripheral&) override { ++connects; }
    void didFailToConnectPeripheral(CentralManager&, RemotePeripheral&,
                                    const Error& error) override {
        failures.push_back(error);
    }
    void didDisconnectPeripheral(CentralManager&, RemotePeripheral&,
                                 const std::optional<Error>& error) override {
        disconnections.push_back(error);
    }

    RemotePeripheral* found = nullptr;
    AdvertisementData data;
    int rssi = 0;
    int connects = 0;
    std::vector<Error> failures;
    std::vector<std::optional<Error>> disconnections;
};

TEST_F(BluezRadioTest, TheCentralScansForLEDevicesConnectsAndRetrievesThemByIdentifier) {
    CentralRecorder recorder;
    phone = std::make_unique<Adapter>(radio(), loop);
    central = std::make_unique<CentralManager>(*phone, &recorder);
    ASSERT_TRUE(waitFor([&] { return central->state() == ManagerState::poweredOn; }));

    PeripheralRecorder watchSide;
    watch = std::make_unique<ScriptedCentral>(daemon->attach(kWatch, kWatchAddress), loop);
    PeripheralManager advertiser(watch->adapter(), &watchSide);
    AdvertisementData advertised = watchAdvertisement();
    advertised.solicitedServiceUuids = {kService};
    advertiser.startAdvertising(advertised);

    central->scanForPeripherals();
    ASSERT_TRUE(waitFor([&] { return recorder.found != nullptr; }));
    EXPECT_EQ(daemon->counts().transport, "le");
    EXPECT_TRUE(daemon->counts().discovering);
    EXPECT_EQ(recorder.data, advertised);
    EXPECT_EQ(recorder.rssi, -52);
    const Uuid identifier = recorder.found->identifier();
    EXPECT_EQ(identifier, DeviceIdentities(defaults).identifierFor("dev_C0_11_22_33_44_55"));
    central->stopScan();
    ASSERT_TRUE(waitFor([&] { return !daemon->counts().discovering; }));

    // A manager made later finds the device by the identifier alone.
    central.reset();
    central = std::make_unique<CentralManager>(*phone, &recorder);
    const std::vector<Uuid> wanted{identifier};
    auto retrieved = central->retrievePeripherals(wanted);
    ASSERT_EQ(retrieved.size(), 1u);
    central->connect(*retrieved[0]);
    ASSERT_TRUE(waitFor([&] { return recorder.connects == 1; }));
    ASSERT_TRUE(waitFor([&] { return !watchSide.connected.empty(); }));

    daemon->dropConnection(kWatchAddress);
    ASSERT_TRUE(waitFor([&] { return !recorder.disconnections.empty(); }));
    ASSERT_TRUE(recorder.disconnections[0]);
    EXPECT_EQ(recorder.disconnections[0]->code,
              static_cast<long>(ErrorCode::peripheralDisconnected));

    // A watch that is gone cannot be connected, and says so.
    daemon->failNext("Connect", "org.bluez.Error.Failed");
    central->connect(*retrieved[0]);
    ASSERT_TRUE(waitFor([&] { return !recorder.failures.empty(); }));
    EXPECT_EQ(recorder.failures[0].code, static_cast<long>(ErrorCode::connectionFailed));
    EXPECT_NE(recorder.failures[0].message.find("org.bluez.Error.Failed"), std::string::npos);
}

}  // namespace
