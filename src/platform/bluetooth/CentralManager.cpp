#include "platform/bluetooth/CentralManager.h"

#include <mutex>
#include <stdexcept>

#include "platform/bluetooth/Adapter.h"
#include "platform/foundation/LogSink.h"

namespace platform::bluetooth {

CentralManager::CentralManager(Adapter& adapter, CentralManagerDelegate* delegate)
    : adapter_(adapter), delegate_(delegate), weak_(*this, adapter.loop()) {
    std::lock_guard lock(adapter_.mutex_);
    if (adapter_.central_ != nullptr) {
        throw std::logic_error("an adapter has one central manager at a time");
    }
    adapter_.central_ = this;
    const ManagerState state = adapter_.state_;
    postTask([this, state] {
        state_.store(state);
        if (CentralManagerDelegate* delegate = delegate_.load()) {
            delegate->centralManagerDidUpdateState(*this);
        }
    });
}

CentralManager::~CentralManager() {
    std::lock_guard lock(adapter_.mutex_);
    if (scanning_) {
        adapter_.radio_->stopScanning();
    }
    for (auto& [identifier, peripheral] : peripherals_) {
        if (peripheral->state_ == PeripheralState::connecting) {
            adapter_.radio_->cancelConnect(identifier);
        } else if (peripheral->state_ == PeripheralState::connected) {
            adapter_.radio_->disconnect(peripheral->link_);
        }
    }
    adapter_.central_ = nullptr;
}

void CentralManager::scanForPeripherals() {
    std::lock_guard lock(adapter_.mutex_);
    if (adapter_.state_ != ManagerState::poweredOn) {
        PLATFORM_LOG_WARN("Bluetooth: scan asked for while ", toString(adapter_.state_));
        return;
    }
    scanning_ = true;
    reported_.clear();
    adapter_.radio_->startScanning();
}

void CentralManager::stopScan() {
    std::lock_guard lock(adapter_.mutex_);
    if (scanning_) {
        scanning_ = false;
        adapter_.radio_->stopScanning();
    }
}

bool CentralManager::isScanning() const {
    std::lock_guard lock(adapter_.mutex_);
    return scanning_;
}

void CentralManager::connect(RemotePeripheral& peripheral) {
    requireOwn(peripheral);
    std::lock_guard lock(adapter_.mutex_);
    if (adapter_.state_ != ManagerState::poweredOn) {
        PLATFORM_LOG_WARN("Bluetooth: connection to ", peripheral.identifier().toString(),
                          " asked for while ", toString(adapter_.state_));
        return;
    }
    if (peripheral.state_ != PeripheralState::disconnected) {
        return;
    }
    peripheral.state_ = PeripheralState::connecting;
    adapter_.radio_->connect(peripheral.identifier());
}

void CentralManager::cancelConnection(RemotePeripheral& peripheral) {
    requireOwn(peripheral);
    std::lock_guard lock(adapter_.mutex_);
    switch (peripheral.state_) {
        case PeripheralState::disconnected:
            return;
        case PeripheralState::connecting:
            adapter_.radio_->cancelConnect(peripheral.identifier());
            break;
        case PeripheralState::connected:
            adapter_.radio_->disconnect(peripheral.link_);
            links_.erase(peripheral.link_);
            break;
    }
    peripheral.closed();
    post([this, &peripheral](CentralManagerDelegate& delegate) {
        delegate.didDisconnectPeripheral(*this, peripheral, std::nullopt);
    });
}

std::vector<RemotePeripheral*> CentralManager::retrievePeripherals(
    std::span<const Uuid> identifiers) {
    std::lock_guard lock(adapter_.mutex_);
    std::vector<RemotePeripheral*> found;
    for (const Uuid& identifier : identifiers) {
        if (peripherals_.contains(identifier) || adapter_.radio_->knows(identifier)) {
            found.push_back(&peripheralFor(identifier));
        }
    }
    return found;
}

void CentralManager::stateChanged(ManagerState state) {
    if (state != ManagerState::poweredOn) {
        // The radio ended the scan and every connection with its power.
        scanning_ = false;
        links_.clear();
        for (auto& [identifier, peripheral] : peripherals_) {
            peripheral->closed();
        }
    }
    postTask([this, state] {
        state_.store(state);
        if (CentralManagerDelegate* delegate = delegate_.load()) {
            delegate->centralManagerDidUpdateState(*this);
        }
    });
}

void CentralManager::advertisementReceived(const Uuid& advertiser, const AdvertisementData& data,
                                           int rssi) {
    if (!scanning_) {
        return;
    }
    const auto reported = reported_.find(advertiser);
    if (reported != reported_.end() && reported->second == data) {
        return;
    }
    reported_[advertiser] = data;
    RemotePeripheral& peripheral = peripheralFor(advertiser);
    if (data.localName) {
        peripheral.name_ = data.localName;
    }
    post([this, &peripheral, data, rssi](CentralManagerDelegate& delegate) {
        delegate.didDiscoverPeripheral(*this, peripheral, data, rssi);
    });
}

bool CentralManager::linkOpened(LinkId link, const Uuid& peer) {
    const auto found = peripherals_.find(peer);
    if (found == peripherals_.end() || found->second->state_ != PeripheralState::connecting) {
        return false;
    }
    RemotePeripheral& peripheral = *found->second;
    links_[link] = &peripheral;
    peripheral.opened(link);
    post([this, &peripheral](CentralManagerDelegate& delegate) {
        delegate.didConnectPeripheral(*this, peripheral);
    });
    return true;
}

void CentralManager::connectFailed(const Uuid& peer, const Error& reason) {
    const auto found = peripherals_.find(peer);
    if (found == peripherals_.end() || found->second->state_ != PeripheralState::connecting) {
        return;
    }
    RemotePeripheral& peripheral = *found->second;
    peripheral.closed();
    post([this, &peripheral, reason](CentralManagerDelegate& delegate) {
        delegate.didFailToConnectPeripheral(*this, peripheral, reason);
    });
}

void CentralManager::linkClosed(LinkId link, const Error& reason) {
    const auto found = links_.find(link);
    if (found == links_.end()) {
        return;
    }
    RemotePeripheral& peripheral = *found->second;
    links_.erase(found);
    peripheral.closed();
    post([this, &peripheral, reason](CentralManagerDelegate& delegate) {
        delegate.didDisconnectPeripheral(*this, peripheral, reason);
    });
}

void CentralManager::receive(LinkId link, const std::vector<Bytes>& pdus) {
    if (const auto found = links_.find(link); found != links_.end()) {
        found->second->receive(pdus);
    }
}

void CentralManager::linkReady(LinkId link) {
    if (const auto found = links_.find(link); found != links_.end()) {
        found->second->linkReady();
    }
}

void CentralManager::requireOwn(const RemotePeripheral& peripheral) const {
    if (&peripheral.manager_ != this) {
        throw std::invalid_argument("the peripheral belongs to another central manager");
    }
}

RemotePeripheral& CentralManager::peripheralFor(const Uuid& identifier) {
    auto& slot = peripherals_[identifier];
    if (!slot) {
        slot.reset(new RemotePeripheral(*this, identifier));
    }
    return *slot;
}

void CentralManager::post(std::function<void(CentralManagerDelegate&)> call) {
    postTask([this, call = std::move(call)] {
        if (CentralManagerDelegate* delegate = delegate_.load()) {
            call(*delegate);
        }
    });
}

void CentralManager::postTask(std::function<void()> task) {
    adapter_.loop_.post([weak = weak_.weakPtr(), task = std::move(task)] {
        if (weak) {
            task();
        }
    });
}

}  // namespace platform::bluetooth
