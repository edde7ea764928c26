#pragma once

#include <memory>
#include <mutex>

#include "platform/bluetooth/Radio.h"
#include "platform/foundation/RunLoop.h"

namespace platform::bluetooth {

class CentralManager;
class GattServer;

// One device's Bluetooth stack: its radio, the GATT server that outlives peripheral managers
// (so a relaunched manager can be restored), and at most one peripheral manager and one central
// manager on top. Everything the managers report arrives on the loop given here.
//
// Create, use and destroy the adapter and its managers on the loop's thread; the managers'
// calls are also safe from other threads. The adapter must outlive its managers.
class Adapter final : private RadioClient {
public:
    Adapter(std::unique_ptr<Radio> radio, RunLoop& loop);
    ~Adapter();
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;

    [[nodiscard]] const Uuid& identifier() const { return radio_->identifier(); }
    [[nodiscard]] RunLoop& loop() const { return loop_; }

private:
    friend class CentralManager;
    friend class GattServer;
    friend class PeripheralManager;
    friend class RemotePeripheral;

    void radioStateChanged(ManagerState state) override;
    void advertisementReceived(const Uuid& advertiser, const AdvertisementData& data,
                               int rssi) override;
    void linkOpened(LinkId link, const Uuid& peer, LinkRole role) override;
    void connectFailed(const Uuid& peer, const Error& reason) override;
    void linkClosed(LinkId link, const Error& reason) override;
    void pdusReceived(LinkId link, std::vector<Bytes> pdus) override;
    void linkReady(LinkId link) override;

    // Guards the whole stack: the adapter, its server, its managers and their peripherals.
    // Never held while a delegate runs.
    mutable std::mutex mutex_;
    RunLoop& loop_;
    std::unique_ptr<Radio> radio_;
    ManagerState state_ = ManagerState::unknown;
    std::unique_ptr<GattServer> server_;
    CentralManager* central_ = nullptr;
};

}  // namespace platform::bluetooth
