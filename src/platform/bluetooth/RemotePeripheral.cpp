#include "platform/bluetooth/RemotePeripheral.h"

#include <algorithm>
#include <mutex>

#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/AttClient.h"
#include "platform/bluetooth/CentralManager.h"
#include "platform/foundation/LogSink.h"

namespace platform::bluetooth {

namespace {

bool wanted(const std::vector<Uuid>& filter, const Uuid& uuid) {
    return filter.empty() || std::find(filter.begin(), filter.end(), uuid) != filter.end();
}

}  // namespace

RemotePeripheral::RemotePeripheral(CentralManager& manager, const Uuid& identifier)
    : manager_(manager), identifier_(identifier) {}

RemotePeripheral::~RemotePeripheral() {
    if (timeout_) {
        timeout_->invalidate();
    }
}

std::optional<std::string> RemotePeripheral::name() const {
    std::lock_guard lock(manager_.adapter_.mutex_);
    return name_;
}

PeripheralState RemotePeripheral::state() const {
    std::lock_guard lock(manager_.adapter_.mutex_);
    return state_;
}

std::vector<RemoteService> RemotePeripheral::services() const {
    std::lock_guard lock(manager_.adapter_.mutex_);
    return services_;
}

std::optional<RemoteCharacteristic> RemotePeripheral::characteristic(const Uuid& service,
                                                                     const Uuid& uuid) const {
    std::lock_guard lock(manager_.adapter_.mutex_);
    for (const RemoteService& candidate : services_) {
        if (candidate.uuid != service) {
            continue;
        }
        for (const RemoteCharacteristic& characteristic : candidate.characteristics) {
            if (characteristic.uuid == uuid) {
                return characteristic;
            }
        }
    }
    return std::nullopt;
}

Result<void> RemotePeripheral::checkConnected() const {
    if (state_ != PeripheralState::connected) {
        return makeError(ErrorCode::notConnected,
                         "peripheral " + identifier_.toString() + " is not connected");
    }
    return {};
}

RemoteCharacteristic* RemotePeripheral::find(const RemoteCharacteristic& characteristic) {
    for (RemoteService& service : services_) {
        if (service.uuid != characteristic.service) {
            continue;
        }
        for (RemoteCharacteristic& candidate : service.characteristics) {
            if (candidate.valueHandle == characteristic.valueHandle &&
                candidate.uuid == characteristic.uuid) {
                return &candidate;
            }
        }
    }
    return nullptr;
}

Result<void> RemotePeripheral::discoverServices(std::vector<Uuid> filter) {
    std::lock_guard lock(manager_.adapter_.mutex_);
    if (auto connected = checkConnected(); !connected) {
        return connected;
    }
    client_->discoverServices(
        [this, filter = std::move(filter)](Result<std::vector<AttClient::ServiceRange>> found) {
            std::optional<Error> error;
            if (found) {
                services_.clear();
                configurations_.clear();
                for (const auto& range : *found) {
                    if (wanted(filter, range.uuid)) {
                        services_.push_back({range.uuid, range.start, range.end, {}});
                    }
                }
            } else {
                error = found.error();
            }
            post([this, error](RemotePeripheralDelegate& delegate) {
                delegate.didDiscoverServices(*this, error);
            });
        });
    armTimeout();
    return {};
}

Result<void> RemotePeripheral::discoverCharacteristics(const Uuid& service,
                                                       std::vector<Uuid> filter) {
    std::lock_guard lock(manager_.adapter_.mutex_);
    if (auto connected = checkConnected(); !connected) {
        return connected;
    }
    const auto found = std::find_if(services_.begin(), services_.end(),
                                    [&](const RemoteService& s) { return s.uuid == service; });
    if (found == services_.end()) {
        return makeError(ErrorCode::invalidParameters,
                         "service " + service.toString() + " was not discovered");
    }
    const std::uint16_t start = found->startHandle;
    const std::uint16_t end = found->endHandle;
    client_->discoverCharacteristics(
        static_cast<std::uint16_t>(start + 1), end,
        [this, service, start, end,
         filter = std::move(filter)](Result<std::vector<AttClient::CharacteristicEntry>> entries) {
            const auto target =
                std::find_if(services_.begin(), services_.end(), [&](const RemoteService& s) {
                    return s.uuid == service && s.startHandle == start;
                });
            if (target == services_.end()) {
                return;  // rediscovered meanwhile
            }
            std::optional<Error> error;
            if (entries) {
                target->characteristics.clear();
                for (std::size_t i = 0; i < entries->size(); ++i) {
                    const auto& entry = (*entries)[i];
                    const std::uint16_t last =
                        i + 1 < entries->size()
                            ? static_cast<std::uint16_t>((*entries)[i + 1].declaration - 1)
                            : end;
                    if (wanted(filter, entry.uuid)) {
                        target->characteristics.push_back(
                            {service, entry.uuid, entry.properties, entry.value, last, false});
                    }
                }
            } else {
                error = entries.error();
            }
            post([this, copy = *target, error](RemotePeripheralDelegate& delegate) {
                delegate.didDiscoverCharacteristics(*this, copy, error);
            });
        });
    armTimeout();
    return {};
}

Result<void> RemotePeripheral::readValue(const RemoteCharacteristic& characteristic) {
    std::lock_guard lock(manager_.adapter_.mutex_);
    if (auto connected = checkConnected(); !connected) {
        return connected;
    }
    const RemoteCharacteristic* known = find(characteristic);
    if (known == nullptr || !has(known->properties, CharacteristicProperties::read)) {
        return makeError(ErrorCode::invalidParameters,
                         "characteristic " + characteristic.uuid.toString() + " is not readable");
    }
    client_->read(known->valueHandle, [this, copy = *known](Result<Bytes> value) {
        std::optional<Error> error;
        Bytes bytes;
        if (value) {
            bytes = std::move(value).value();
        } else {
            error = value.error();
        }
        post([this, copy, bytes = std::move(bytes), error](RemotePeripheralDelegate& delegate) {
            delegate.didUpdateValue(*this, copy, bytes, error);
        });
    });
    armTimeout();
    return {};
}

Result<void> RemotePeripheral::writeValue(std::span<const std::uint8_t> value,
                                          const RemoteCharacteristic& characteristic,
                                          WriteType type) {
    std::lock_guard lock(manager_.adapter_.mutex_);
    if (auto connected = checkConnected(); !connected) {
        return connected;
    }
    const RemoteCharacteristic* known = find(characteristic);
    const auto property = type == WriteType::withResponse
                              ? CharacteristicProperties::write
                              : CharacteristicProperties::writeWithoutResponse;
    if (known == nullptr || !has(known->properties, property)) {
        return makeError(ErrorCode::invalidParameters, "characteristic " +
                                                           characteristic.uuid.toString() +
                                                           " does not take this kind of write");
    }
    if (value.size() + 3 > client_->mtu()) {
        return makeError(ErrorCode::invalidParameters,
                         "a " + std::to_string(value.size()) + "-byte value exceeds " +
                             std::to_string(client_->mtu() - 3) + " bytes");
    }
    if (type == WriteType::withoutResponse) {
        const SendResult sent = manager_.adapter_.radio_->send(
            link_, AttClient::writeCommand(known->valueHandle, value), true);
        if (sent == SendResult::queueFull) {
            writeReadyOwed_ = true;
            return makeError(ErrorCode::outOfSpace, "the transmit queue is full");
        }
        if (sent == SendResult::refused) {
            return makeError(ErrorCode::unknown, "the radio refused the write");
        }
        return {};
    }
    client_->write(known->valueHandle, Bytes(value.begin(), value.end()),
                   [this, copy = *known](Result<void> written) {
                       std::optional<Error> error;
                       if (!written) {
                           error = written.error();
                       }
                       post([this, copy, error](RemotePeripheralDelegate& delegate) {
                           delegate.didWriteValue(*this, copy, error);
                       });
                   });
    armTimeout();
    return {};
}

Result<void> RemotePeripheral::setNotifyValue(bool enabled,
                                              const RemoteCharacteristic& characteristic) {
    std::lock_guard lock(manager_.adapter_.mutex_);
    if (auto connected = checkConnected(); !connected) {
        return connected;
    }
    const RemoteCharacteristic* known = find(characteristic);
    if (known == nullptr || !has(known->properties, CharacteristicProperties::notify)) {
        return makeError(ErrorCode::invalidParameters,
                         "characteristic " + characteristic.uuid.toString() + " does not notify");
    }
    const std::uint16_t valueHandle = known->valueHandle;
    if (configurations_.contains(valueHandle)) {
        writeConfiguration(valueHandle, enabled);
    } else {
        client_->discoverDescriptors(
            static_cast<std::uint16_t>(valueHandle + 1), known->endHandle,
            [this, valueHandle,
             enabled](Result<std::vector<AttClient::DescriptorEntry>> descriptors) {
                if (!descriptors) {
                    configurationWritten(valueHandle, enabled, descriptors.error());
                    return;
                }
                for (const auto& descriptor : *descriptors) {
                    if (descriptor.type == Uuid::fromShort(att::kClientConfiguration)) {
                        configurations_[valueHandle] = descriptor.handle;
                        writeConfiguration(valueHandle, enabled);
                        return;
                    }
                }
                configurationWritten(valueHandle, enabled,
                                     makeAttError(AttError::attributeNotFound));
            });
    }
    armTimeout();
    return {};
}

std::size_t RemotePeripheral::maximumWriteValueLength() const {
    std::lock_guard lock(manager_.adapter_.mutex_);
    return static_cast<std::size_t>((client_ ? client_->mtu() : att::kDefaultMtu) - 3);
}

void RemotePeripheral::writeConfiguration(std::uint16_t valueHandle, bool enabled) {
    const Bytes value{static_cast<std::uint8_t>(enabled ? 1 : 0), 0};
    client_->write(
        configurations_[valueHandle], value, [this, valueHandle, enabled](Result<void> written) {
            configurationWritten(valueHandle, enabled,
                                 written ? std::nullopt : std::optional<Error>(written.error()));
        });
}

void RemotePeripheral::configurationWritten(std::uint16_t valueHandle, bool enabled,
                                            std::optional<Error> error) {
    for (RemoteService& service : services_) {
        for (RemoteCharacteristic& characteristic : service.characteristics) {
            if (characteristic.valueHandle != valueHandle) {
                continue;
            }
            if (!error) {
                characteristic.isNotifying = enabled;
            }
            post([this, copy = characteristic, error](RemotePeripheralDelegate& delegate) {
                delegate.didUpdateNotificationState(*this, copy, error);
            });
            return;
        }
    }
}

void RemotePeripheral::opened(LinkId link) {
    state_ = PeripheralState::connected;
    link_ = link;
    client_ = std::make_unique<AttClient>(
        [this](Bytes pdu) { manager_.adapter_.radio_->send(link_, std::move(pdu), false); });
    client_->setNotificationHandler(
        [this](std::uint16_t handle, Bytes value) { notified(handle, std::move(value)); });
    client_->exchangeMtu();
    armTimeout();
}

void RemotePeripheral::closed() {
    state_ = PeripheralState::disconnected;
    link_ = 0;
    client_.reset();
    services_.clear();
    configurations_.clear();
    writeReadyOwed_ = false;
    armTimeout();
}

void RemotePeripheral::receive(const std::vector<Bytes>& pdus) {
    for (const Bytes& pdu : pdus) {
        if (!client_) {
            return;
        }
        if (auto violation = client_->receive(pdu)) {
            PLATFORM_LOG_WARN("Bluetooth: disconnecting peripheral ", identifier_.toString(), ": ",
                              *violation);
            drop(makeError(ErrorCode::unknown, *violation));
            return;
        }
    }
    armTimeout();
}

void RemotePeripheral::linkReady() {
    if (writeReadyOwed_) {
        writeReadyOwed_ = false;
        post([this](RemotePeripheralDelegate& delegate) {
            delegate.isReadyToSendWriteWithoutResponse(*this);
        });
    }
}

void RemotePeripheral::notified(std::uint16_t handle, Bytes value) {
    for (const RemoteService& service : services_) {
        for (const RemoteCharacteristic& characteristic : service.characteristics) {
            if (characteristic.valueHandle == handle) {
                post([this, copy = characteristic,
                      value = std::move(value)](RemotePeripheralDelegate& delegate) {
                    delegate.didUpdateValue(*this, copy, value, std::nullopt);
                });
                return;
            }
        }
    }
    PLATFORM_LOG_DEBUG("Bluetooth: notification for unknown handle ", static_cast<unsigned>(handle),
                       " from ", identifier_.toString());
}

void RemotePeripheral::armTimeout() {
    const std::uint64_t serial = client_ ? client_->outstanding() : 0;
    if (serial == timedSerial_) {
        return;
    }
    if (timeout_) {
        timeout_->invalidate();
        timeout_.reset();
    }
    timedSerial_ = serial;
    if (serial == 0) {
        return;
    }
    timeout_ = manager_.adapter_.loop_.scheduleTimer(
        kTransactionTimeout, false, [this, serial, manager = manager_.weak_.weakPtr()] {
            // The manager owns its peripherals: while it lives, so does this one.
            if (!manager) {
                return;
            }
            std::lock_guard lock(manager_.adapter_.mutex_);
            timedOut(serial);
        });
}

void RemotePeripheral::timedOut(std::uint64_t serial) {
    if (!client_ || client_->outstanding() != serial) {
        return;
    }
    PLATFORM_LOG_WARN("Bluetooth: peripheral ", identifier_.toString(),
                      " left a request unanswered; disconnecting");
    drop(makeError(ErrorCode::connectionTimeout, "the peripheral stopped answering"));
}

void RemotePeripheral::drop(const Error& reason) {
    const LinkId link = link_;
    manager_.adapter_.radio_->disconnect(link);
    manager_.linkClosed(link, reason);
}

void RemotePeripheral::post(std::function<void(RemotePeripheralDelegate&)> call) {
    manager_.postTask([this, call = std::move(call)] {
        if (RemotePeripheralDelegate* delegate = delegate_.load()) {
            call(*delegate);
        }
    });
}

}  // namespace platform::bluetooth
