#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "link/TQBLEConnectDelegate.h"
#include "link/TQBlePacketTransferDelegate.h"
#include "link/TQBleResponseDelegate.h"
#include "link/TQDataDelegate.h"
#include "link/TQPacketTransport.h"
#include "link/TQPeripheral.h"
#include "link/TQProtocol.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/PeripheralManager.h"
#include "platform/bluetooth/sim/ScriptedCentral.h"
#include "platform/bluetooth/sim/SimulatedAir.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "support/RecordingAppHost.h"
#include "support/TempDir.h"

namespace ble_test {

using namespace platform::bluetooth;
using platform::Bytes;

inline const Uuid kPhone = *Uuid::parse("11111111-2222-4333-8444-555555555555");
inline const Uuid kWatch = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
inline const Uuid kOtherWatch = *Uuid::parse("CCCCCCCC-DDDD-4EEE-8FFF-000000000000");
inline const Uuid kThirdWatch = *Uuid::parse("DDDDDDDD-EEEE-4FFF-8000-111111111111");

inline const Uuid& kService = TQPeripheral::serviceUuid();
inline const Uuid& kRead = TQPeripheral::readCharacteristicUuid();
inline const Uuid& kWrite = TQPeripheral::writeCharacteristicUuid();
inline const Uuid& kAddress = TQPeripheral::addressCharacteristicUuid();

// What a watch advertises: its name with the address token, and manufacturer data with the
// company identifier (least significant byte first), the purpose at byte 7 and the
// hidden-condition flags at byte 8.
inline AdvertisementData watchAdvertisement(std::uint8_t purpose,
                                            std::string name = "Kavo R5 (1A2B)",
                                            std::uint8_t hiddenCondition = 0x00) {
    AdvertisementData data;
    data.localName = std::move(name);
    data.manufacturerData =
        Bytes{0x51, 0x7E, 0x10, 0x20, 0x30, 0x40, 0x50, purpose, hiddenCondition};
    return data;
}

// Everything a role tells the Bluetooth manager, written down.
class RecordingConnectDelegate : public TQBLEConnectDelegate {
public:
    void onChangeBleStatus(std::uint64_t status) override {
        statuses.push_back(status);
        flagAtStatus.push_back(TQPeripheral::willRestore());
        if (onStatus) {
            onStatus(status);
        }
    }
    void onPeripheralDiscovered(const std::vector<RemotePeripheral*>& peripherals) override {
        discoveredLists.push_back(&peripherals);
        discovered.push_back(peripherals);
    }
    void onDataSendingFailed(const platform::Value& /*object*/) override {}
    void onError(const TQError& /*error*/) override {}
    void onDataReceived(std::span<const std::uint8_t> data) override {
        received.emplace_back(data.begin(), data.end());
    }
    void onPacketSent(bool success) override { packetsSent.push_back(success); }
    void sendResetKavoRequest(bool flag) override { resetRequests.push_back(flag); }
    void onConnectedDeviceDiscovered(RemotePeripheral& peripheral) override {
        found.push_back(&peripheral);
    }
    void autoConnectionInProgress() override { ++autoConnections; }

    std::vector<std::uint64_t> statuses;
    // The restoration flag as each status arrived.
    std::vector<bool> flagAtStatus;
    std::function<void(std::uint64_t)> onStatus;
    std::vector<const std::vector<RemotePeripheral*>*> discoveredLists;
    std::vector<std::vector<RemotePeripheral*>> discovered;
    std::vector<Bytes> received;
    std::vector<bool> packetsSent;
    std::vector<bool> resetRequests;
    std::vector<RemotePeripheral*> found;
    int autoConnections = 0;
};

// What the Bluetooth manager tells the link facade, in order.
class RecordingResponseDelegate : public TQBleResponseDelegate {
public:
    void onConnect() override {
        events.push_back("connect");
        flagDuringConnect.push_back(TQPeripheral::willRestore());
    }
    void onDisconnect() override { events.push_back("disconnect"); }
    void onBleManagerStateChange(bool enabled) override {
        events.push_back(enabled ? "on" : "off");
    }
    void onPeripheralDiscovered(const std::vector<RemotePeripheral*>& peripherals) override {
        discovered.push_back(peripherals);
    }
    void onDataSendingFailed(const platform::Value& /*object*/) override {}
    void onError(const TQError& /*error*/) override {}
    void sendResetKavoRequest(bool flag) override { resetRequests.push_back(flag); }
    void autoConnectionInProgress() override { events.push_back("autoConnection"); }

    [[nodiscard]] int count(const std::string& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }

    std::vector<std::string> events;
    std::vector<bool> flagDuringConnect;
    std::vector<std::vector<RemotePeripheral*>> discovered;
    std::vector<bool> resetRequests;
};

// An application host that hands out background tasks and lets the test expire them.
class BackgroundHost : public testing_support::RecordingAppHost {
public:
    platform::BackgroundTaskIdentifier beginBackgroundTask(
        std::string_view name, std::function<void()> expirationHandler) override {
        const platform::BackgroundTaskIdentifier identifier = ++last_;
        names.emplace_back(name);
        running[identifier] = std::move(expirationHandler);
        return identifier;
    }
    void endBackgroundTask(platform::BackgroundTaskIdentifier identifier) override {
        ended.push_back(identifier);
        running.erase(identifier);
    }
    // The system's time for the task is up.
    void expire(platform::BackgroundTaskIdentifier identifier) {
        const auto handler = running.at(identifier);
        handler();
    }

    std::vector<std::string> names;
    std::map<platform::BackgroundTaskIdentifier, std::function<void()>> running;
    std::vector<platform::BackgroundTaskIdentifier> ended;

private:
    platform::BackgroundTaskIdentifier last_ = 0;
};

// Keeps every log line, so that a test can read the system's own texts.
class LogLines : public LGAbstractLogger {
public:
    LogLines() : LGAbstractLogger("test.ble") {}
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.message());
    }
    // The lines so far, once everything logged before the call has arrived.
    std::vector<std::string> lines() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int count(const std::string& line) {
        const auto all = lines();
        return static_cast<int>(std::count(all.begin(), all.end(), line));
    }
    void clear() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A device on the air that only advertises, as a watch looking for a phone does.
class Advertiser {
public:
    Advertiser(SimulatedAir& air, const Uuid& identifier, int rssi = -50)
        : adapter_(air.attach({.identifier = identifier, .rssi = rssi}), air.loop()),
          manager_(adapter_, nullptr) {}

    void advertise(const AdvertisementData& data) { manager_.startAdvertising(data); }
    void stop() { manager_.stopAdvertising(); }
    [[nodiscard]] const Uuid& identifier() const { return adapter_.identifier(); }

private:
    Adapter adapter_;
    PeripheralManager manager_;
};

// A world of its own for each test: user defaults in a fresh folder, a notification centre, an
// application host, a virtual main run loop and the simulated air with the phone's adapter and
// a scripted watch (a central that can also advertise). Everything is put back afterwards.
class BleWorld {
public:
    // The hub registers and drops loggers on its own queue; waiting for that keeps it from
    // being cut off half-way when the process exits.
    BleWorld() {
        LGLog::addLogger(logs);
        LGLog::flushLog();
        TQPeripheral::setWillRestore(false);
    }
    ~BleWorld() {
        LGLog::removeLogger(logs);
        LGLog::flushLog();
        TQPeripheral::setWillRestore(false);
    }
    BleWorld(const BleWorld&) = delete;
    BleWorld& operator=(const BleWorld&) = delete;

    void settle(double seconds = 0.5) { loop.advance(seconds); }
    // Moves the clock on in small steps until done() holds; false after `limit` seconds.
    bool runUntil(const std::function<bool()>& done, double limit = 5.0, double step = 0.01) {
        for (double waited = 0; waited <= limit; waited += step) {
            if (done()) {
                return true;
            }
            loop.advance(step);
        }
        return done();
    }

    // The watch connects to the phone, discovers its service and subscribes to the read
    // characteristic.
    void subscribeWatch(ScriptedCentral& central) {
        if (!central.isConnected()) {
            central.connect(kPhone);
        }
        ASSERT_TRUE(runUntil([&] { return central.isDiscovered(); }));
        ASSERT_TRUE(central.subscribe(kRead));
        const auto before = central.subscriptionResults().size();
        ASSERT_TRUE(runUntil([&] { return central.subscriptionResults().size() > before; }));
        settle(0.05);
    }

    // Connects a fresh central on its own device and tells whether the phone publishes the link
    // service, once.
    int publishedServices() {
        ScriptedCentral probe(air.attach(), loop);
        probe.connect(kPhone);
        if (!runUntil([&] { return probe.isDiscovered(); })) {
            return -1;
        }
        int count = 0;
        for (const auto& service : probe.peripheral()->services()) {
            count += service.uuid == kService ? 1 : 0;
        }
        probe.disconnect();
        settle(0.05);
        return count;
    }

    // Whether a scan from a fresh device hears the phone advertise, and what.
    std::optional<AdvertisementData> phoneAdvertisement() {
        ScriptedCentral probe(air.attach(), loop);
        probe.scan();
        settle(0.2);
        const auto& seen = probe.discoveries();
        const auto found = seen.find(kPhone);
        probe.stopScan();
        return found == seen.end() ? std::nullopt : std::optional(found->second.data);
    }

    platform::UserDefaults& defaults() { return defaults_; }
    // The scripted watch advertises as well, as a real one does while it looks for its phone.
    void advertiseWatch(const AdvertisementData& data) { watchAdvertiser.startAdvertising(data); }

    testing_support::TempDir folder;
    platform::UserDefaults defaults_{folder.path() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults_};
    platform::NotificationCenter center;
    platform::ScopedInstall<platform::NotificationCenter> installCenter{&center};
    BackgroundHost host;
    platform::ScopedInstall<platform::AppHost> installHost{&host};
    std::shared_ptr<LogLines> logs = std::make_shared<LogLines>();
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    SimulatedAir air{loop, SimulatedAirOptions{.seed = 7}};
    Adapter phone{air.attach({.identifier = kPhone}), loop};
    ScriptedCentral watch{air.attach({.identifier = kWatch}), loop};
    PeripheralManager watchAdvertiser{watch.adapter(), nullptr};
};

// A message handler that writes down what the packet protocol hands up.
class RecordingData : public TQDataDelegate {
public:
    void onDataSendCompleted(const TQSendOutcome& /*outcome*/) override { ++completions; }
    void onDataReceiveCompleted(std::span<const std::uint8_t> message) override {
        messages.emplace_back(message.begin(), message.end());
    }
    void onPingReceived() override {}
    void onResetCmdReceived() override { ++resets; }

    int completions = 0;
    int resets = 0;
    std::vector<Bytes> messages;
};

// The watch's end of the link for a packet protocol of its own. Packets go out as write
// requests to the phone's write characteristic, which the central sends one at a time, so each
// reaches the phone alone; notifications come in as packets.
class WatchLink final : public TQPacketTransport {
public:
    explicit WatchLink(ScriptedCentral& central)
        : central_(central),
          protocol_(central.adapter().loop(), platform::UserDefaults::standard()) {
        protocol_.initialize(data_, *this);
        central_.setObserver([this] { poll(); });
    }
    ~WatchLink() override { central_.setObserver(nullptr); }

    TQProtocol& protocol() { return protocol_; }
    RecordingData& data() { return data_; }

    bool isConnected() override { return central_.isConnected(); }
    void sendData(std::span<const std::uint8_t> packet) override {
        // Queued by the central's ATT client; refused only without a connection, and then lost.
        (void)central_.write(kWrite, packet, WriteType::withResponse);
        protocol_.onPacketSent(true);
    }

private:
    void poll() {
        const auto& notifications = central_.notifications();
        while (delivered_ < notifications.size()) {
            const Bytes packet = notifications[delivered_++];
            protocol_.onDataReceived(packet);
        }
    }

    ScriptedCentral& central_;
    RecordingData data_;
    TQProtocol protocol_;
    std::size_t delivered_ = 0;
};

}  // namespace ble_test
