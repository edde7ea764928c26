#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/bluetooth/Radio.h"
#include "platform/bluetooth/bluez/DeviceIdentities.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"

namespace platform {
class UserDefaults;
}

namespace platform::bluetooth::bluez {

struct GattCall;
struct DeviceUpdate;
struct AdapterView;

struct BluezOptions {
    // The bus bluetoothd is on: the system bus when empty.
    std::string busAddress;
    // The adapter to use ("hci0"); the first one there when empty.
    std::string adapter;
    // Notifications that may wait to leave; more find the queue full until it drains.
    std::size_t transmitQueueCapacity = 32;
};

// The radio of a machine with BlueZ, over D-Bus. The stack above keeps doing ATT: the services
// it publishes become our GATT application on the bus, and what bluetoothd asks of that
// application (reads, writes, subscriptions of a central) comes to the stack as the ATT PDUs
// that central would have sent, on a link per central device; the stack's answers and
// notifications go back as method replies and PropertiesChanged signals. Central links carry
// no PDUs: the link's central role only scans, connects and disconnects.
//
// The state follows the daemon and the adapter: unsupported without either, resetting while a
// daemon that was there is gone, and the adapter's power otherwise. Calls never block the
// loop: the bus has a thread of its own, and its news is posted to the loop.
class BluezRadio final : public Radio {
public:
    // Reads the daemon's objects before it returns, so state() already says whether there is an
    // adapter to use.
    BluezRadio(RunLoop& loop, const Uuid& identifier, UserDefaults& defaults,
               BluezOptions options = {});
    ~BluezRadio() override;
    BluezRadio(const BluezRadio&) = delete;
    BluezRadio& operator=(const BluezRadio&) = delete;

    const Uuid& identifier() const override { return identifier_; }
    void start(RadioClient& client, RunLoop& loop) override;
    ManagerState state() const override { return state_.load(); }
    void startAdvertising(const AdvertisementData& data) override;
    void stopAdvertising() override;
    void startScanning() override;
    void stopScanning() override;
    bool knows(const Uuid& peer) const override;
    void connect(const Uuid& peer) override;
    void cancelConnect(const Uuid& peer) override;
    void disconnect(LinkId link) override;
    SendResult send(LinkId link, Bytes pdu, bool flowControlled) override;
    void servicesChanged(const std::vector<MutableService>& services) override;

    struct Bus;

private:
    // What the stack's next answer on a peripheral link goes to.
    struct Expected {
        std::optional<std::uint64_t> call;
        std::uint16_t offset = 0;
    };
    struct PeripheralLink {
        LinkId id = 0;
        std::string device;
        std::vector<Expected> expected;
        std::size_t queued = 0;
        bool owedReady = false;
        bool mtuTold = false;
    };
    struct CentralLink {
        LinkId id = 0;  // 0 while the connection is pending
        Uuid peer;
        bool cancelled = false;
    };
    struct Device {
        bool connected = false;
        std::optional<int> rssi;
        AdvertisementData advertisement;
        std::string disconnectReason;
    };
    using Calls = std::vector<std::function<void()>>;

    // Bus news, on the loop.
    void adapterChanged(const AdapterView& view);
    void deviceChanged(const DeviceUpdate& update);
    void deviceDisconnected(const std::string& path, const std::string& reason);
    void gattCalled(GattCall call);
    void connectAnswered(const std::string& path, std::optional<Error> error);
    void notificationSent(LinkId link);

    // With mutex_ held; what they owe the client goes into `calls`, made after it is released.
    void setState(ManagerState state, Calls& calls);
    PeripheralLink& peripheralLinkFor(const std::string& device, Calls& calls);
    void subscribe(PeripheralLink& link, std::size_t characteristic, bool subscribed,
                   Calls& calls);
    void closeDevice(const std::string& path, Calls& calls);
    void deliver(PeripheralLink& link, Bytes pdu, Expected expected, Calls& calls);
    void answer(const Expected& expected, std::span<const std::uint8_t> pdu);
    void runCalls(Calls& calls);
    template <typename F>
    void toLoop(F&& work);

    RunLoop& loop_;
    const Uuid identifier_;
    const BluezOptions options_;
    std::atomic<ManagerState> state_{ManagerState::unsupported};
    RadioClient* client_ = nullptr;

    mutable std::mutex mutex_;
    DeviceIdentities identities_;
    bool daemonSeen_ = false;
    std::string adapterPath_;
    std::map<std::string, Device> devices_;
    std::map<std::string, PeripheralLink> peripheralLinks_;
    std::map<std::string, CentralLink> centralLinks_;
    LinkId nextLink_ = 1;
    bool scanning_ = false;
    // Per published characteristic, in publishing order: its value and configuration handles
    // in the stack's database, and whether bluetoothd asked for its notifications.
    std::vector<std::uint16_t> valueHandles_;
    std::vector<std::uint16_t> configurationHandles_;
    std::set<std::size_t> notifying_;

    std::unique_ptr<Bus> bus_;
    WeakPtrFactory<BluezRadio> weak_{*this, loop_};
};

}  // namespace platform::bluetooth::bluez
