#include "platform/bluetooth/PeripheralManager.h"

#include <mutex>

#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/GattServer.h"

namespace platform::bluetooth {

PeripheralManager::PeripheralManager(Adapter& adapter, PeripheralManagerDelegate* delegate,
                                     PeripheralManagerOptions options)
    : adapter_(adapter),
      delegate_(delegate),
      restorationIdentifier_(std::move(options.restorationIdentifier)),
      weak_(*this, adapter.loop()) {
    std::lock_guard lock(adapter_.mutex_);
    adapter_.server_->attach(*this, restorationIdentifier_);
}

PeripheralManager::~PeripheralManager() {
    std::lock_guard lock(adapter_.mutex_);
    adapter_.server_->detach(*this, restorationIdentifier_);
}

void PeripheralManager::addService(const MutableService& service) {
    std::lock_guard lock(adapter_.mutex_);
    adapter_.server_->addService(service);
}

void PeripheralManager::removeAllServices() {
    std::lock_guard lock(adapter_.mutex_);
    adapter_.server_->removeAllServices();
}

void PeripheralManager::startAdvertising(const AdvertisementData& data) {
    std::lock_guard lock(adapter_.mutex_);
    adapter_.server_->startAdvertising(data);
}

void PeripheralManager::stopAdvertising() {
    std::lock_guard lock(adapter_.mutex_);
    adapter_.server_->stopAdvertising();
}

bool PeripheralManager::isAdvertising() const {
    std::lock_guard lock(adapter_.mutex_);
    return adapter_.server_->isAdvertising();
}

UpdateResult PeripheralManager::updateValue(std::span<const std::uint8_t> value,
                                            const Uuid& characteristic, const Central& central) {
    std::lock_guard lock(adapter_.mutex_);
    return adapter_.server_->updateValue(value, characteristic, central);
}

void PeripheralManager::respond(const AttRequest& request, AttError result) {
    std::lock_guard lock(adapter_.mutex_);
    adapter_.server_->respond(request, result);
}

void PeripheralManager::post(std::function<void(PeripheralManagerDelegate&)> call) {
    adapter_.loop_.post([weak = weak_.weakPtr(), call = std::move(call)] {
        if (!weak) {
            return;
        }
        if (PeripheralManagerDelegate* delegate = weak->delegate_.load()) {
            call(*delegate);
        }
    });
}

void PeripheralManager::postState(ManagerState state) {
    adapter_.loop_.post([weak = weak_.weakPtr(), state] {
        PeripheralManager* self = weak.get();
        if (self == nullptr) {
            return;
        }
        self->state_.store(state);
        if (PeripheralManagerDelegate* delegate = self->delegate_.load()) {
            delegate->peripheralManagerDidUpdateState(*self);
        }
    });
}

void PeripheralManager::postRestoration(RestoredState state) {
    post([this, state = std::move(state)](PeripheralManagerDelegate& delegate) {
        delegate.willRestoreState(*this, state);
    });
}

void PeripheralManager::postServiceAdded(MutableService service, std::optional<Error> error) {
    post([this, service = std::move(service),
          error = std::move(error)](PeripheralManagerDelegate& delegate) {
        delegate.didAddService(*this, service, error);
    });
}

void PeripheralManager::postSubscription(const Central& central, const Uuid& characteristic,
                                         bool subscribed) {
    post([this, central, characteristic, subscribed](PeripheralManagerDelegate& delegate) {
        if (subscribed) {
            delegate.centralDidSubscribe(*this, central, characteristic);
        } else {
            delegate.centralDidUnsubscribe(*this, central, characteristic);
        }
    });
}

void PeripheralManager::postWriteRequests(std::vector<AttRequest> requests) {
    post([this, requests = std::move(requests)](PeripheralManagerDelegate& delegate) {
        delegate.didReceiveWriteRequests(*this, requests);
    });
}

void PeripheralManager::postReadRequest(AttRequest request) {
    post([this, request = std::move(request)](PeripheralManagerDelegate& delegate) {
        delegate.didReceiveReadRequest(*this, request);
    });
}

void PeripheralManager::postReadyToUpdate() {
    post([this](PeripheralManagerDelegate& delegate) {
        delegate.isReadyToUpdateSubscribers(*this);
    });
}

void PeripheralManager::postCentralConnected(const Central& central) {
    post([this, central](PeripheralManagerDelegate& delegate) {
        delegate.centralDidConnect(*this, central);
    });
}

void PeripheralManager::postCentralDisconnected(const Central& central) {
    post([this, central](PeripheralManagerDelegate& delegate) {
        delegate.centralDidDisconnect(*this, central);
    });
}

}  // namespace platform::bluetooth
