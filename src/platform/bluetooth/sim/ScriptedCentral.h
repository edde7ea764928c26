#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/CentralManager.h"

namespace platform::bluetooth {

// A central on a device of its own that does what a test tells it and writes down what it
// hears: scans, connects and discovers everything, subscribes, writes, reads. It stands in for
// the watch in tests of the phone's side and is the stranger the air injects. Lives on the
// loop's thread; the observer runs after everything it records.
class ScriptedCentral final : private CentralManagerDelegate, private RemotePeripheralDelegate {
public:
    struct Discovery {
        AdvertisementData data;
        int rssi = 0;
        int reports = 0;
    };

    ScriptedCentral(std::unique_ptr<Radio> radio, RunLoop& loop);
    ~ScriptedCentral() override;
    ScriptedCentral(const ScriptedCentral&) = delete;
    ScriptedCentral& operator=(const ScriptedCentral&) = delete;

    [[nodiscard]] const Uuid& identifier() const { return adapter_.identifier(); }
    [[nodiscard]] Adapter& adapter() { return adapter_; }
    [[nodiscard]] CentralManager& manager() { return manager_; }
    void setObserver(std::function<void()> observer) { observer_ = std::move(observer); }

    void scan() { manager_.scanForPeripherals(); }
    void stopScan() { manager_.stopScan(); }
    // Connects (again) to the target and then discovers all its services and characteristics.
    void connect(const Uuid& target);
    void disconnect();
    [[nodiscard]] bool isConnected() const;
    [[nodiscard]] bool isDiscovered() const { return discovered_; }
    [[nodiscard]] RemotePeripheral* peripheral() const { return peripheral_; }

    Result<void> subscribe(const Uuid& characteristic, bool enabled = true);
    Result<void> write(const Uuid& characteristic, std::span<const std::uint8_t> value,
                       WriteType type);
    Result<void> read(const Uuid& characteristic);

    [[nodiscard]] const std::map<Uuid, Discovery>& discoveries() const { return discoveries_; }
    [[nodiscard]] const std::vector<Bytes>& notifications() const { return notifications_; }
    [[nodiscard]] const std::vector<Result<Bytes>>& reads() const { return reads_; }
    [[nodiscard]] const std::vector<std::optional<Error>>& writeResults() const {
        return writeResults_;
    }
    [[nodiscard]] const std::vector<std::optional<Error>>& subscriptionResults() const {
        return subscriptionResults_;
    }
    [[nodiscard]] const std::vector<std::optional<Error>>& disconnections() const {
        return disconnections_;
    }
    [[nodiscard]] const std::vector<Error>& connectFailures() const { return connectFailures_; }
    [[nodiscard]] int writeReadyCount() const { return writeReadyCount_; }

private:
    void didDiscoverPeripheral(CentralManager& manager, RemotePeripheral& peripheral,
                               const AdvertisementData& data, int rssi) override;
    void didConnectPeripheral(CentralManager& manager, RemotePeripheral& peripheral) override;
    void didFailToConnectPeripheral(CentralManager& manager, RemotePeripheral& peripheral,
                                    const Error& error) override;
    void didDisconnectPeripheral(CentralManager& manager, RemotePeripheral& peripheral,
                                 const std::optional<Error>& error) override;
    void didDiscoverServices(RemotePeripheral& peripheral,
                             const std::optional<Error>& error) override;
    void didDiscoverCharacteristics(RemotePeripheral& peripheral, const RemoteService& service,
                                    const std::optional<Error>& error) override;
    void didUpdateValue(RemotePeripheral& peripheral, const RemoteCharacteristic& characteristic,
                        const Bytes& value, const std::optional<Error>& error) override;
    void didWriteValue(RemotePeripheral& peripheral, const RemoteCharacteristic& characteristic,
                       const std::optional<Error>& error) override;
    void didUpdateNotificationState(RemotePeripheral& peripheral,
                                    const RemoteCharacteristic& characteristic,
                                    const std::optional<Error>& error) override;
    void isReadyToSendWriteWithoutResponse(RemotePeripheral& peripheral) override;

    std::optional<RemoteCharacteristic> find(const Uuid& characteristic) const;
    void changed();

    Adapter adapter_;
    CentralManager manager_;
    RemotePeripheral* peripheral_ = nullptr;
    int servicesLeft_ = 0;
    bool discovered_ = false;
    // Reads in flight, so that their answers are told from notifications.
    std::map<std::uint16_t, int> readsInFlight_;
    std::function<void()> observer_;
    std::map<Uuid, Discovery> discoveries_;
    std::vector<Bytes> notifications_;
    std::vector<Result<Bytes>> reads_;
    std::vector<std::optional<Error>> writeResults_;
    std::vector<std::optional<Error>> subscriptionResults_;
    std::vector<std::optional<Error>> disconnections_;
    std::vector<Error> connectFailures_;
    int writeReadyCount_ = 0;
};

}  // namespace platform::bluetooth
