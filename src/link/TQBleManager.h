#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/TQBLEConnectDelegate.h"
#include "link/TQBleManagerInterface.h"
#include "link/TQCentral.h"
#include "link/TQPeripheral.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"

namespace platform::bluetooth {
class Adapter;
}

// The one owner of the link's two Bluetooth roles. Turns their status codes into the link's
// connection state, decides when to advertise, scan and reconnect on its own (a 0.1 s
// auto-connect timer once the paired watch is found, a 30 s search while the link is lost),
// and relays data, packet-sent signals and events between the roles and the layers above.
//
// Runs on the adapter's loop (the main loop), like the roles.
class TQBleManager final : public TQBleManagerInterface,
                           public TQBLEConnectDelegate,
                           public platform::Replaceable<TQBleManager> {
public:
    static constexpr double kAutoConnectDelay = 0.1;
    static constexpr double kSearchInterval = 30.0;
    // How long a watch the phone connected to may take to subscribe before the next
    // subscriber is no longer taken for it.
    static constexpr double kSubscriptionWait = 30.0;

    // The application's manager, which its composition root made and installed. The service
    // UUID changes nothing: the link's UUIDs are fixed.
    static TQBleManager& initialize(std::string_view serviceUuid);

    // A manager of its own on the given adapter, which must outlive it.
    explicit TQBleManager(platform::bluetooth::Adapter& adapter);
    ~TQBleManager() override;
    TQBleManager(const TQBleManager&) = delete;
    TQBleManager& operator=(const TQBleManager&) = delete;

    // TQBleManagerInterface
    void setDelegate(TQBleResponseDelegate* responseDelegate,
                     TQBlePacketTransferDelegate* packetDelegate) override;
    void scanForPeripherals() override;
    void stopScanForPeripherals() override;
    // Stores the watch's address token as "deviceMac" and connects; the subscription that
    // follows makes the watch the paired one.
    void connectWithPeripheral(platform::bluetooth::RemotePeripheral& peripheral) override;
    void clearConnectedCentral() override;
    std::vector<platform::bluetooth::RemotePeripheral*> getConnectedPeripherals(
        std::span<const platform::bluetooth::Uuid> identifiers) override;
    void disconnect() override;
    [[nodiscard]] bool isBleEnabled() override;
    [[nodiscard]] platform::bluetooth::RemotePeripheral* getConnectedDevice() override;
    [[nodiscard]] platform::bluetooth::RemotePeripheral* getNearestPeripheral() override;
    // From the handshake (true) and the peripheral role (false); relayed to the facade.
    void sendResetKavoRequest(bool flag) override;

    // TQPacketTransport
    bool isConnected() override;
    void sendData(std::span<const std::uint8_t> packet) override;

    // TQBLEConnectDelegate
    void onChangeBleStatus(std::uint64_t status) override;
    void onPeripheralDiscovered(
        const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals) override;
    void onDataSendingFailed(const platform::Value& object) override;
    void onError(const TQError& error) override;
    void onDataReceived(std::span<const std::uint8_t> data) override;
    void onPacketSent(bool success) override;
    void onConnectedDeviceDiscovered(platform::bluetooth::RemotePeripheral& peripheral) override;
    void autoConnectionInProgress() override;

    // The third space-separated word of a watch's name without its parentheses.
    [[nodiscard]] static std::optional<std::string> getDeviceMacFromName(
        std::optional<std::string_view> name);

    [[nodiscard]] std::uint64_t bleStatus() const { return bleStatus_; }
    [[nodiscard]] TQCentral& central() { return *central_; }
    [[nodiscard]] TQPeripheral& peripheral() { return *peripheral_; }
    [[nodiscard]] platform::bluetooth::RemotePeripheral* connectedDevice() const {
        return connectedDevice_;
    }
    [[nodiscard]] bool isSearchTimerRunning() const;
    [[nodiscard]] bool isAutoConnectTimerRunning() const;

private:
    void initiateConnectionTimer();
    void expireAutoConnectingTimer();
    void initiateSearchConnectedDeviceTimer();
    void expireSearchConnectedDeviceTimer();
    void stopSearchConnectedDeviceTimer();
    void awaitSubscription();
    void stopAwaitingSubscription();
    void applicationWillEnterForeground();
    void applicationDidEnterBackground();
    // The search for the paired watch, when one is stored and the setup wizard is over.
    void searchMyKavoWhenDue();

    platform::RunLoop& loop_;
    std::uint64_t bleStatus_ = 0;
    bool isConnected_ = false;
    std::shared_ptr<platform::Timer> autoConnectingTimer_;
    std::shared_ptr<platform::Timer> searchConnectedDeviceTimer_;
    std::shared_ptr<platform::Timer> subscriptionWaitTimer_;
    platform::bluetooth::RemotePeripheral* connectedDevice_ = nullptr;
    TQBleResponseDelegate* apiDelegate_ = nullptr;
    TQBlePacketTransferDelegate* apDelegate_ = nullptr;
    std::vector<platform::NotificationCenter::Token> observers_;
    std::unique_ptr<TQCentral> central_;
    std::unique_ptr<TQPeripheral> peripheral_;
};
