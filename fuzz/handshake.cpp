// The facade's receive routing as the packet protocol hands it whole messages: identifier 0
// to the pairing handshake, priority 3 to the file handler, the rest to the delegate.
//
// The first byte sets the stage: bit 0 a paired watch on record, bit 1 its central is the one
// subscribed now, bit 2 no subscription on record at all, bit 3 the paired watch's address on
// record, bit 4 this subscription is to be sent away. Then each record is one message; its
// flags byte moves the clock (bits 0-2) or starts a new subscription first (bit 3).

#include <array>
#include <cstdlib>
#include <memory>

#include "FuzzSupport.h"
#include "link/TQAP.h"
#include "link/TQAPDelegate.h"
#include "link/TQBleManagerInterface.h"
#include "link/TQBlePacketTransferDelegate.h"
#include "link/TQBleResponseDelegate.h"
#include "link/TQPairedWatchKeys.h"

namespace {

using platform::bluetooth::RemotePeripheral;

// A manager whose watch is subscribed and takes every packet at once.
class Manager final : public TQBleManagerInterface {
public:
    void setDelegate(TQBleResponseDelegate* responseDelegate,
                     TQBlePacketTransferDelegate* packetDelegate) override {
        response = responseDelegate;
        packets_ = packetDelegate;
    }
    bool isConnected() override { return connected; }
    void sendData(std::span<const std::uint8_t> /*packet*/) override {
        if (connected && packets_ != nullptr) {
            packets_->onPacketSent(true);
        }
    }
    void scanForPeripherals() override {}
    void stopScanForPeripherals() override {}
    void connectWithPeripheral(RemotePeripheral& /*peripheral*/) override {}
    void clearConnectedCentral() override { subscriptionEnds(); }
    std::vector<RemotePeripheral*> getConnectedPeripherals(
        std::span<const platform::bluetooth::Uuid> /*identifiers*/) override {
        return {};
    }
    void disconnect() override {}
    bool isBleEnabled() override { return true; }
    RemotePeripheral* getConnectedDevice() override { return nullptr; }
    RemotePeripheral* getNearestPeripheral() override { return nullptr; }
    void sendResetKavoRequest(bool flag) override {
        if (response != nullptr) {
            response->sendResetKavoRequest(flag);
        }
    }

    void subscriptionEnds() {
        if (connected && response != nullptr) {
            connected = false;
            response->onDisconnect();
        }
    }
    void subscriptionStarts() {
        connected = true;
        if (response != nullptr) {
            response->sendResetKavoRequest(false);
        }
    }

    bool connected = true;
    TQBleResponseDelegate* response = nullptr;

private:
    TQBlePacketTransferDelegate* packets_ = nullptr;
};

class Delegate final : public TQAPDelegate {
public:
    void onDiscoverDevices(const std::vector<RemotePeripheral*>& /*devices*/) override {}
    void onConnectDevice() override { ++connections; }
    void onDisconnectDevice() override {}
    void onBleManagerStateChange(bool /*enabled*/) override {}
    void onDataReceiveCompleted(std::span<const std::uint8_t> data,
                                std::uint32_t /*appId*/) override {
        received += data.size();
    }
    void onError(const TQError& /*error*/) override {}
    void autoConnectionInProgress() override {}

    int connections = 0;
    std::size_t received = 0;
};

constexpr std::array<double, 8> kSteps = {0, 0, 0.5, 1.1, 2.2, 3.2, 6.5, 30};

void setStage(platform::UserDefaults& defaults, std::uint8_t stage) {
    if ((stage & 0x01) != 0) {
        defaults.set(paired_watch::kCentralIdentifierKey, "central-A");
    }
    if ((stage & 0x04) == 0) {
        defaults.set(paired_watch::kTempCentralIdentifierKey,
                     (stage & 0x02) != 0 ? "central-A" : "central-B");
    }
    if ((stage & 0x08) != 0) {
        defaults.set(paired_watch::kDeviceMacKey, "1A2B");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    fuzz::World world;
    setStage(world.defaults, data[0]);
    Manager manager;
    auto delegate = std::make_shared<Delegate>();
    {
        TQAP ap(manager, world.loop, world.defaults);
        ap.setDelegate(delegate);
        if ((data[0] & 0x10) != 0) {
            manager.sendResetKavoRequest(true);
        }
        world.loop.runUntilIdle();

        int completes = 0;
        fuzz::Records records(std::span(data + 1, size - 1));
        while (const auto record = records.next()) {
            if ((record->flags & 0x08) != 0) {
                manager.subscriptionEnds();
                manager.subscriptionStarts();
            }
            if (!record->bytes.empty() && record->bytes[0] == TQAP::kBAPComplete) {
                ++completes;
            }
            ap.onDataReceiveCompleted(record->bytes);
            world.loop.runUntilIdle();
            world.loop.advance(kSteps[record->flags & 0x07]);
        }
        world.loop.advance(60);
        // A watch is connected once per completed handshake at most.
        if (delegate->connections > completes) {
            std::abort();
        }
    }
    world.loop.runUntilIdle();
    return 0;
}
