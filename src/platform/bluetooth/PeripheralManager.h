#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/bluetooth/Types.h"
#include "platform/foundation/WeakPtr.h"

namespace platform::bluetooth {

class Adapter;
class PeripheralManager;

// What a peripheral manager reports. Every callback arrives later, on the adapter's loop, never
// inside the call that caused it.
class PeripheralManagerDelegate {
public:
    virtual ~PeripheralManagerDelegate() = default;

    // After creation (with the state at that time) and on every change.
    virtual void peripheralManagerDidUpdateState(PeripheralManager& /*manager*/) {}
    // Before the first state update, when the stack kept what a manager with the same
    // restoration identifier published.
    virtual void willRestoreState(PeripheralManager& /*manager*/, const RestoredState& /*state*/) {}
    virtual void didAddService(PeripheralManager& /*manager*/, const MutableService& /*service*/,
                               const std::optional<Error>& /*error*/) {}
    virtual void centralDidSubscribe(PeripheralManager& /*manager*/, const Central& /*central*/,
                                     const Uuid& /*characteristic*/) {}
    // Also for every subscription of a central whose connection ends.
    virtual void centralDidUnsubscribe(PeripheralManager& /*manager*/, const Central& /*central*/,
                                       const Uuid& /*characteristic*/) {}
    // Writes that arrived together (one delivery of the radio), in order; answer each with
    // respond(), success or an ATT error. Answers to writes without response are accepted and
    // go nowhere.
    virtual void didReceiveWriteRequests(PeripheralManager& /*manager*/,
                                         const std::vector<AttRequest>& /*requests*/) {}
    // Answer with respond(): set the request's value for success.
    virtual void didReceiveReadRequest(PeripheralManager& /*manager*/,
                                       const AttRequest& /*request*/) {}
    // Once after updateValue() returned queueFull, when there is room again.
    virtual void isReadyToUpdateSubscribers(PeripheralManager& /*manager*/) {}
    // A central opened or ended a connection to this device.
    virtual void centralDidConnect(PeripheralManager& /*manager*/, const Central& /*central*/) {}
    virtual void centralDidDisconnect(PeripheralManager& /*manager*/, const Central& /*central*/) {}
};

struct PeripheralManagerOptions {
    // Non-empty: what this manager publishes stays with the adapter when it is destroyed, and
    // the next manager with the same identifier gets it back through willRestoreState.
    std::string restorationIdentifier;
};

// The GATT server role of a device: publishes services, advertises, notifies subscribed
// centrals and answers their reads and writes.
class PeripheralManager {
public:
    PeripheralManager(Adapter& adapter, PeripheralManagerDelegate* delegate,
                      PeripheralManagerOptions options = {});
    ~PeripheralManager();
    PeripheralManager(const PeripheralManager&) = delete;
    PeripheralManager& operator=(const PeripheralManager&) = delete;

    void setDelegate(PeripheralManagerDelegate* delegate) { delegate_.store(delegate); }
    // As last reported to the delegate; unknown before the first report.
    [[nodiscard]] ManagerState state() const { return state_.load(); }

    // Answered by didAddService, with an error when not powered on or the service is invalid.
    void addService(const MutableService& service);
    void removeAllServices();
    // Ignored unless powered on. Advertising ends when the radio leaves the powered-on state.
    void startAdvertising(const AdvertisementData& data);
    void stopAdvertising();
    [[nodiscard]] bool isAdvertising() const;
    // Notifies one subscribed central of the characteristic's new value.
    UpdateResult updateValue(std::span<const std::uint8_t> value, const Uuid& characteristic,
                             const Central& central);
    // Answers a request once; later answers and unknown requests are ignored.
    void respond(const AttRequest& request, AttError result);

private:
    friend class GattServer;

    void post(std::function<void(PeripheralManagerDelegate&)> call);
    void postState(ManagerState state);
    void postRestoration(RestoredState state);
    void postServiceAdded(MutableService service, std::optional<Error> error);
    void postSubscription(const Central& central, const Uuid& characteristic, bool subscribed);
    void postWriteRequests(std::vector<AttRequest> requests);
    void postReadRequest(AttRequest request);
    void postReadyToUpdate();
    void postCentralConnected(const Central& central);
    void postCentralDisconnected(const Central& central);

    Adapter& adapter_;
    std::atomic<PeripheralManagerDelegate*> delegate_;
    const std::string restorationIdentifier_;
    std::atomic<ManagerState> state_{ManagerState::unknown};
    // Posted callbacks check it, so none reaches a destroyed manager.
    WeakPtrFactory<PeripheralManager> weak_;
};

}  // namespace platform::bluetooth
