#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/bluetooth/Radio.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/bluetooth/Types.h"
#include "platform/foundation/WeakPtr.h"

namespace platform::bluetooth {

class Adapter;
class CentralManager;

// What a central manager reports, later, on the adapter's loop.
class CentralManagerDelegate {
public:
    virtual ~CentralManagerDelegate() = default;

    // After creation (with the state at that time) and on every change.
    virtual void centralManagerDidUpdateState(CentralManager& /*manager*/) {}
    // Once per advertiser and scan, and again when its advertisement changes.
    virtual void didDiscoverPeripheral(CentralManager& /*manager*/,
                                       RemotePeripheral& /*peripheral*/,
                                       const AdvertisementData& /*data*/, int /*rssi*/) {}
    virtual void didConnectPeripheral(CentralManager& /*manager*/,
                                      RemotePeripheral& /*peripheral*/) {}
    virtual void didFailToConnectPeripheral(CentralManager& /*manager*/,
                                            RemotePeripheral& /*peripheral*/,
                                            const Error& /*error*/) {}
    // No error when this side cancelled the connection; otherwise the reason, in kErrorDomain
    // (peripheralDisconnected when the peer ended it, connectionTimeout when it went silent).
    virtual void didDisconnectPeripheral(CentralManager& /*manager*/,
                                         RemotePeripheral& /*peripheral*/,
                                         const std::optional<Error>& /*error*/) {}
};

// The GATT client role of a device: scans, connects and owns the remote peripherals.
class CentralManager {
public:
    // Throws std::logic_error when the adapter already has a central manager.
    CentralManager(Adapter& adapter, CentralManagerDelegate* delegate);
    ~CentralManager();
    CentralManager(const CentralManager&) = delete;
    CentralManager& operator=(const CentralManager&) = delete;

    void setDelegate(CentralManagerDelegate* delegate) { delegate_.store(delegate); }
    // As last reported to the delegate; unknown before the first report.
    [[nodiscard]] ManagerState state() const { return state_.load(); }

    // Every advertiser, with duplicates folded. Ignored unless powered on; ends when the radio
    // leaves the powered-on state.
    void scanForPeripherals();
    void stopScan();
    [[nodiscard]] bool isScanning() const;
    // Stays pending until it succeeds or fails: there is no time-out. Ignored unless powered on
    // and disconnected. The peripheral must be one of this manager's.
    void connect(RemotePeripheral& peripheral);
    // Ends a pending or open connection; didDisconnectPeripheral follows without an error.
    void cancelConnection(RemotePeripheral& peripheral);
    // The peripherals with these identifiers that this manager saw or the radio can reach.
    std::vector<RemotePeripheral*> retrievePeripherals(std::span<const Uuid> identifiers);

private:
    friend class Adapter;
    friend class RemotePeripheral;

    // Radio events, with the adapter's lock held.
    void stateChanged(ManagerState state);
    void advertisementReceived(const Uuid& advertiser, const AdvertisementData& data, int rssi);
    bool linkOpened(LinkId link, const Uuid& peer);
    void connectFailed(const Uuid& peer, const Error& reason);
    void linkClosed(LinkId link, const Error& reason);
    void receive(LinkId link, const std::vector<Bytes>& pdus);
    void linkReady(LinkId link);

    RemotePeripheral& peripheralFor(const Uuid& identifier);
    // Throws std::invalid_argument for a peripheral of another manager.
    void requireOwn(const RemotePeripheral& peripheral) const;
    void post(std::function<void(CentralManagerDelegate&)> call);
    void postTask(std::function<void()> task);

    Adapter& adapter_;
    std::atomic<CentralManagerDelegate*> delegate_;
    std::atomic<ManagerState> state_{ManagerState::unknown};
    std::map<Uuid, std::unique_ptr<RemotePeripheral>> peripherals_;
    std::map<LinkId, RemotePeripheral*> links_;
    bool scanning_ = false;
    // What each advertiser sent when last reported in this scan.
    std::map<Uuid, AdvertisementData> reported_;
    WeakPtrFactory<CentralManager> weak_;
};

}  // namespace platform::bluetooth
