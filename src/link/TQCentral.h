#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bluetooth/CentralManager.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/bluetooth/Types.h"

namespace platform::bluetooth {
class Adapter;
}

class TQBLEConnectDelegate;

// Whether the watch asked for a further software update in the advertisement it was listed by
// (bit 0 of its hidden-condition byte); false until set. Kept on the peripheral itself, so each
// central role's listing has its own. On the main loop only.
[[nodiscard]] bool hiddenConditionFlag(const platform::bluetooth::RemotePeripheral& peripheral);
void setHiddenConditionFlag(platform::bluetooth::RemotePeripheral& peripheral, bool flag);

// The phone as Bluetooth central: scans, lists the watches that may be paired with the nearest
// one, finds the paired watch again for an automatic reconnection and opens the central
// connection. Reports to its delegate through TQBLEConnectDelegate.
//
// Runs on the adapter's loop (the main loop): the platform's callbacks and every call.
class TQCentral final : private platform::bluetooth::CentralManagerDelegate {
public:
    // The company identifier of the watch's manufacturer data, in either byte order.
    static constexpr std::uint16_t kCompanyIdentifier = 0x7E51;
    static constexpr std::uint16_t kCompanyIdentifierSwapped = 0x517E;
    static constexpr std::size_t kPurposeOffset = 7;
    static constexpr std::size_t kHiddenConditionOffset = 8;
    static constexpr std::uint8_t kPurposeSetupWizard = 1;
    static constexpr std::uint8_t kPurposeAutoConnection = 2;

    // The adapter must outlive this object; it may have no other central manager.
    explicit TQCentral(platform::bluetooth::Adapter& adapter);
    ~TQCentral() override;
    TQCentral(const TQCentral&) = delete;
    TQCentral& operator=(const TQCentral&) = delete;

    // Lists pairable watches; waits for power-on when Bluetooth is not on.
    void startScan();
    // Looks for the paired watch ("deviceMac"); waits for power-on likewise.
    void searchMyKavo();
    void stopScan();
    // Connects, now or at the next power-on.
    void connectWithPeripheral(platform::bluetooth::RemotePeripheral& peripheral);
    std::vector<platform::bluetooth::RemotePeripheral*> getConnectedPeripherals(
        std::span<const platform::bluetooth::Uuid> identifiers);
    [[nodiscard]] platform::bluetooth::RemotePeripheral* getConnectedPeripheral() const {
        return connectedPeripheral_;
    }
    [[nodiscard]] platform::bluetooth::RemotePeripheral* getNearestPeripheral() const {
        return nearestPeripheral_;
    }
    void clearPeripherals();
    // The four letters or digits of the first "(XXXX)" in the name, else its last four
    // characters (the whole name when shorter); nothing for no name.
    [[nodiscard]] static std::optional<std::string> getDeviceUUIDWithName(
        std::optional<std::string_view> name);

    // Borrowed.
    [[nodiscard]] TQBLEConnectDelegate* delegate() const { return delegate_; }
    void setDelegate(TQBLEConnectDelegate* delegate) { delegate_ = delegate; }
    [[nodiscard]] platform::bluetooth::CentralManager& centralManager() { return *centralManager_; }
    // The live list handed to onPeripheralDiscovered, in order of discovery.
    [[nodiscard]] const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals() const {
        return peripherals_;
    }
    [[nodiscard]] const std::vector<platform::bluetooth::Uuid>& peripheralUUIDList() const {
        return peripheralUUIDList_;
    }
    [[nodiscard]] bool isSearchMyKavo() const { return isSearchMyKavo_; }

private:
    void report(std::uint64_t status);
    void foundWhileSearching(platform::bluetooth::RemotePeripheral& peripheral,
                             const std::string& name, std::uint8_t purpose);
    void foundWhileListing(platform::bluetooth::RemotePeripheral& peripheral,
                           const std::string& name,
                           const platform::bluetooth::AdvertisementData& data, int rssi,
                           std::uint8_t purpose);

    // CentralManagerDelegate
    void centralManagerDidUpdateState(platform::bluetooth::CentralManager& manager) override;
    void didDiscoverPeripheral(platform::bluetooth::CentralManager& manager,
                               platform::bluetooth::RemotePeripheral& peripheral,
                               const platform::bluetooth::AdvertisementData& data,
                               int rssi) override;
    void didConnectPeripheral(platform::bluetooth::CentralManager& manager,
                              platform::bluetooth::RemotePeripheral& peripheral) override;
    void didFailToConnectPeripheral(platform::bluetooth::CentralManager& manager,
                                    platform::bluetooth::RemotePeripheral& peripheral,
                                    const platform::Error& error) override;
    void didDisconnectPeripheral(platform::bluetooth::CentralManager& manager,
                                 platform::bluetooth::RemotePeripheral& peripheral,
                                 const std::optional<platform::Error>& error) override;

    TQBLEConnectDelegate* delegate_ = nullptr;
    std::vector<platform::bluetooth::RemotePeripheral*> peripherals_;
    std::vector<platform::bluetooth::Uuid> peripheralUUIDList_;
    platform::bluetooth::RemotePeripheral* connectedPeripheral_ = nullptr;
    platform::bluetooth::RemotePeripheral* nearestPeripheral_ = nullptr;
    std::int32_t maxRSSI_ = std::numeric_limits<std::int32_t>::max();
    bool isSearchMyKavo_ = false;
    std::optional<std::string> deviceMac_;
    bool startScanWhenReady_ = false;
    bool searchMyKavoWhenReady_ = false;
    bool connectPeripheralWhenReady_ = false;
    platform::bluetooth::RemotePeripheral* lastConnectedPeripheral_ = nullptr;
    // Last, so that it goes first: it owns the peripherals the fields above point to.
    std::unique_ptr<platform::bluetooth::CentralManager> centralManager_;
};
