#include "platform/bluetooth/sim/ScriptedCentral.h"

namespace platform::bluetooth {

ScriptedCentral::ScriptedCentral(std::unique_ptr<Radio> radio, RunLoop& loop)
    : adapter_(std::move(radio), loop), manager_(adapter_, this) {}

ScriptedCentral::~ScriptedCentral() = default;

void ScriptedCentral::connect(const Uuid& target) {
    const Uuid identifiers[] = {target};
    const auto found = manager_.retrievePeripherals(identifiers);
    if (found.empty()) {
        connectFailures_.push_back(makeError(ErrorCode::invalidParameters, "unknown device"));
        changed();
        return;
    }
    peripheral_ = found.front();
    peripheral_->setDelegate(this);
    discovered_ = false;
    manager_.connect(*peripheral_);
}

void ScriptedCentral::disconnect() {
    if (peripheral_ != nullptr) {
        manager_.cancelConnection(*peripheral_);
    }
}

bool ScriptedCentral::isConnected() const {
    return peripheral_ != nullptr && peripheral_->state() == PeripheralState::connected;
}

std::optional<RemoteCharacteristic> ScriptedCentral::find(const Uuid& characteristic) const {
    if (peripheral_ == nullptr) {
        return std::nullopt;
    }
    for (const RemoteService& service : peripheral_->services()) {
        for (const RemoteCharacteristic& candidate : service.characteristics) {
            if (candidate.uuid == characteristic) {
                return candidate;
            }
        }
    }
    return std::nullopt;
}

Result<void> ScriptedCentral::subscribe(const Uuid& characteristic, bool enabled) {
    const auto found = find(characteristic);
    if (!found) {
        return makeError(ErrorCode::invalidParameters,
                         "no characteristic " + characteristic.toString());
    }
    return peripheral_->setNotifyValue(enabled, *found);
}

Result<void> ScriptedCentral::write(const Uuid& characteristic, std::span<const std::uint8_t> value,
                                    WriteType type) {
    const auto found = find(characteristic);
    if (!found) {
        return makeError(ErrorCode::invalidParameters,
                         "no characteristic " + characteristic.toString());
    }
    return peripheral_->writeValue(value, *found, type);
}

Result<void> ScriptedCentral::read(const Uuid& characteristic) {
    const auto found = find(characteristic);
    if (!found) {
        return makeError(ErrorCode::invalidParameters,
                         "no characteristic " + characteristic.toString());
    }
    auto started = peripheral_->readValue(*found);
    if (started) {
        ++readsInFlight_[found->valueHandle];
    }
    return started;
}

void ScriptedCentral::didDiscoverPeripheral(CentralManager& /*manager*/,
                                            RemotePeripheral& peripheral,
                                            const AdvertisementData& data, int rssi) {
    Discovery& discovery = discoveries_[peripheral.identifier()];
    discovery.data = data;
    discovery.rssi = rssi;
    ++discovery.reports;
    changed();
}

void ScriptedCentral::didConnectPeripheral(CentralManager& /*manager*/,
                                           RemotePeripheral& peripheral) {
    if (&peripheral == peripheral_) {
        (void)peripheral.discoverServices();
    }
    changed();
}

void ScriptedCentral::didFailToConnectPeripheral(CentralManager& /*manager*/,
                                                 RemotePeripheral& /*peripheral*/,
                                                 const Error& error) {
    connectFailures_.push_back(error);
    changed();
}

void ScriptedCentral::didDisconnectPeripheral(CentralManager& /*manager*/,
                                              RemotePeripheral& /*peripheral*/,
                                              const std::optional<Error>& error) {
    disconnections_.push_back(error);
    discovered_ = false;
    readsInFlight_.clear();
    changed();
}

void ScriptedCentral::didDiscoverServices(RemotePeripheral& peripheral,
                                          const std::optional<Error>& error) {
    if (!error) {
        const auto services = peripheral.services();
        servicesLeft_ = static_cast<int>(services.size());
        for (const RemoteService& service : services) {
            (void)peripheral.discoverCharacteristics(service.uuid);
        }
        discovered_ = services.empty();
    }
    changed();
}

void ScriptedCentral::didDiscoverCharacteristics(RemotePeripheral& /*peripheral*/,
                                                 const RemoteService& /*service*/,
                                                 const std::optional<Error>& /*error*/) {
    if (--servicesLeft_ == 0) {
        discovered_ = true;
    }
    changed();
}

void ScriptedCentral::didUpdateValue(RemotePeripheral& /*peripheral*/,
                                     const RemoteCharacteristic& characteristic, const Bytes& value,
                                     const std::optional<Error>& error) {
    const auto reading = readsInFlight_.find(characteristic.valueHandle);
    if (reading != readsInFlight_.end()) {
        if (--reading->second == 0) {
            readsInFlight_.erase(reading);
        }
        reads_.push_back(error ? Result<Bytes>(*error) : Result<Bytes>(value));
    } else {
        notifications_.push_back(value);
    }
    changed();
}

void ScriptedCentral::didWriteValue(RemotePeripheral& /*peripheral*/,
                                    const RemoteCharacteristic& /*characteristic*/,
                                    const std::optional<Error>& error) {
    writeResults_.push_back(error);
    changed();
}

void ScriptedCentral::didUpdateNotificationState(RemotePeripheral& /*peripheral*/,
                                                 const RemoteCharacteristic& /*characteristic*/,
                                                 const std::optional<Error>& error) {
    subscriptionResults_.push_back(error);
    changed();
}

void ScriptedCentral::isReadyToSendWriteWithoutResponse(RemotePeripheral& /*peripheral*/) {
    ++writeReadyCount_;
    changed();
}

void ScriptedCentral::changed() {
    if (observer_) {
        observer_();
    }
}

}  // namespace platform::bluetooth
