#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/bluetooth/PeripheralManager.h"
#include "platform/bluetooth/Types.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/host/AppHost.h"

namespace platform::bluetooth {
class Adapter;
}

class TQBLEConnectDelegate;

// The phone as GATT server of the link: publishes the link service, advertises it, takes the
// watch's subscription, gathers what the watch writes, sends packets as notifications and
// answers reads with the watch's address token. Everything it learns goes to its delegate as
// data, packet-sent signals or TQBLEStatus codes.
//
// Runs on the adapter's loop (the main loop): the platform's callbacks, the application's
// notifications and every call into this class.
class TQPeripheral final : private platform::bluetooth::PeripheralManagerDelegate {
public:
    static constexpr std::string_view kServiceUuid = "9A3F68E0-86CE-11E5-A309-0002A5D5C51B";
    static constexpr std::string_view kReadCharacteristicUuid =
        "CECE518B-28D7-4171-92D5-76A1E249A3B9";
    static constexpr std::string_view kWriteCharacteristicUuid =
        "C2F2CC0F-C085-4DD4-BE5A-ACA3074BBC72";
    static constexpr std::string_view kAddressCharacteristicUuid =
        "E87988E0-4990-487F-A502-9CFEDA7ED834";
    static constexpr const char* kRestoreIdentifier = "TQPeripheralManagerIdentifier";
    static constexpr double kAddServiceRetryDelay = 5.0;
    // The answer to a read while no watch address is stored.
    static constexpr platform::bluetooth::AttError kNoAddressError =
        platform::bluetooth::applicationError(0);

    static const platform::bluetooth::Uuid& serviceUuid();
    static const platform::bluetooth::Uuid& readCharacteristicUuid();
    static const platform::bluetooth::Uuid& writeCharacteristicUuid();
    static const platform::bluetooth::Uuid& addressCharacteristicUuid();

    // The process-wide restoration flag: set when the platform brought the link back with the
    // watch still subscribed, cleared by the Bluetooth manager after the connect event it
    // belongs to. Written on the main thread only.
    [[nodiscard]] static bool willRestore();
    static void setWillRestore(bool value);

    // The adapter must outlive this object.
    explicit TQPeripheral(platform::bluetooth::Adapter& adapter);
    ~TQPeripheral() override;
    TQPeripheral(const TQPeripheral&) = delete;
    TQPeripheral& operator=(const TQPeripheral&) = delete;

    // Builds the service and its three characteristics anew; publishes nothing.
    void initService();
    void startAdvertising();
    void stopAdvertising();
    // One packet to the subscribed watch, as one notification of the read characteristic.
    void sendPacket(std::span<const std::uint8_t> data);
    // Forgets the subscribed watch and reports a manual disconnection; the connection stays.
    void clearConnectedCentral();
    [[nodiscard]] bool isBleEnabled() const;
    // Whether the system lets the application share over Bluetooth: not while the radio
    // reports it unauthorised.
    [[nodiscard]] bool isSharingAuthorized() const {
        return peripheralManager_ == nullptr ||
               peripheralManager_->state() != platform::bluetooth::ManagerState::unauthorized;
    }

    [[nodiscard]] bool isManualDisconnect() const { return isManualDisconnect_; }
    void setIsManualDisconnect(bool value) { isManualDisconnect_ = value; }
    [[nodiscard]] bool isConnectNewKavo() const { return isConnectNewKavo_; }
    void setIsConnectNewKavo(bool value) { isConnectNewKavo_ = value; }
    // Borrowed.
    [[nodiscard]] TQBLEConnectDelegate* delegate() const { return delegate_; }
    void setDelegate(TQBLEConnectDelegate* delegate) { delegate_ = delegate; }

    void unregisterNotification();

    [[nodiscard]] const std::optional<platform::bluetooth::Central>& connectedCentral() const {
        return connectedCentral_;
    }
    [[nodiscard]] bool isServiceAdded() const { return isServiceAdded_; }
    [[nodiscard]] const platform::bluetooth::MutableService& kavoManagerService() const {
        return kavoManagerService_;
    }
    // A delayed add of the service is waiting to run.
    [[nodiscard]] bool isAddServiceRetryPending() const;
    [[nodiscard]] platform::BackgroundTaskIdentifier backgroundTask() const {
        return backgroundTask_;
    }

private:
    // The add-service retry: its timer and the flags its log lines report. At most one is
    // held; a replaced or cancelled one never runs.
    struct ControlHandle {
        bool didFire = false;
        bool shouldCall = true;
        bool shouldFree = false;
        std::shared_ptr<platform::Timer> timer;
    };

    void registerNotification();
    void applicationDidEnterBackground();
    void applicationWillEnterForeground();
    void extendBackgroundRunningTime();
    void scheduleAddServiceRetry();
    void cancelAddServiceRetry();
    void addServiceRetryFired(ControlHandle& handle);
    void report(std::uint64_t status);

    // PeripheralManagerDelegate
    void peripheralManagerDidUpdateState(platform::bluetooth::PeripheralManager& manager) override;
    void willRestoreState(platform::bluetooth::PeripheralManager& manager,
                          const platform::bluetooth::RestoredState& state) override;
    void didAddService(platform::bluetooth::PeripheralManager& manager,
                       const platform::bluetooth::MutableService& service,
                       const std::optional<platform::Error>& error) override;
    void centralDidSubscribe(platform::bluetooth::PeripheralManager& manager,
                             const platform::bluetooth::Central& central,
                             const platform::bluetooth::Uuid& characteristic) override;
    void centralDidUnsubscribe(platform::bluetooth::PeripheralManager& manager,
                               const platform::bluetooth::Central& central,
                               const platform::bluetooth::Uuid& characteristic) override;
    void didReceiveWriteRequests(
        platform::bluetooth::PeripheralManager& manager,
        const std::vector<platform::bluetooth::AttRequest>& requests) override;
    void didReceiveReadRequest(platform::bluetooth::PeripheralManager& manager,
                               const platform::bluetooth::AttRequest& request) override;
    void isReadyToUpdateSubscribers(platform::bluetooth::PeripheralManager& manager) override;

    platform::RunLoop& loop_;
    platform::bluetooth::MutableService kavoManagerService_;
    std::optional<platform::bluetooth::MutableCharacteristic> readCharacteristic_;
    std::optional<platform::bluetooth::MutableCharacteristic> writeCharacteristic_;
    std::optional<platform::bluetooth::MutableCharacteristic> addressCharacteristic_;
    std::optional<platform::bluetooth::Central> connectedCentral_;
    bool isServiceAdded_ = false;
    bool advertisingReady_ = false;
    platform::BackgroundTaskIdentifier backgroundTask_ = platform::kBackgroundTaskInvalid;
    std::int32_t count_ = 0;
    bool isManualDisconnect_ = false;
    bool isConnectNewKavo_ = false;
    TQBLEConnectDelegate* delegate_ = nullptr;
    std::unique_ptr<ControlHandle> addServiceHandle_;
    std::vector<platform::NotificationCenter::Token> observers_;
    // Goes before everything but the weak pointers, so no callback reaches a half-destroyed
    // object.
    std::unique_ptr<platform::bluetooth::PeripheralManager> peripheralManager_;
    // The background task's expiration handler holds it weakly.
    platform::WeakPtrFactory<TQPeripheral> weak_{*this, loop_};
};
