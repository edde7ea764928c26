#include "sim/PhoneLink.h"

#include <algorithm>

#include "logging/LGLog.h"
#include "sim/LinkProfile.h"

namespace kavowatch {

using platform::bluetooth::CentralManager;
using platform::bluetooth::ManagerState;
using platform::bluetooth::RemoteCharacteristic;
using platform::bluetooth::RemotePeripheral;
using platform::bluetooth::RemoteService;
using platform::bluetooth::WriteType;

void PhoneLink::attach(CentralManager* manager) {
    if (peripheral_ != nullptr) {
        peripheral_->setDelegate(nullptr);
    }
    peripheral_ = nullptr;
    target_.reset();
    state_ = State::idle;
    writePending_ = false;
    addressRead_.reset();
    manager_ = manager;
}

void PhoneLink::connect(std::optional<platform::bluetooth::Uuid> phone) {
    if (manager_ == nullptr || state_ != State::idle) {
        return;
    }
    target_ = phone;
    addressRead_.reset();
    state_ = State::scanning;
    startScan();
}

void PhoneLink::startScan() {
    // Until the radio is on, the state update starts the scan.
    if (manager_->state() == ManagerState::poweredOn) {
        manager_->scanForPeripherals();
    }
}

void PhoneLink::disconnect() {
    switch (state_) {
        case State::idle:
        case State::closing:
            return;
        case State::scanning:
            manager_->stopScan();
            state_ = State::idle;
            return;
        case State::connecting:
        case State::discovering:
        case State::subscribing:
            state_ = State::closing;
            manager_->cancelConnection(*peripheral_);
            return;
        case State::readingAddress:
        case State::up: {
            state_ = State::closing;
            const auto notify = characteristic(linkUuids().notify);
            if (!notify || !peripheral_->setNotifyValue(false, *notify)) {
                manager_->cancelConnection(*peripheral_);
            }
            return;
        }
    }
}

std::optional<platform::bluetooth::Uuid> PhoneLink::phone() const {
    return peripheral_ != nullptr ? std::optional(peripheral_->identifier()) : target_;
}

std::optional<RemoteCharacteristic> PhoneLink::characteristic(
    const platform::bluetooth::Uuid& uuid) const {
    return peripheral_ != nullptr ? peripheral_->characteristic(linkUuids().service, uuid)
                                  : std::nullopt;
}

PacketLink::Outcome PhoneLink::transmit(std::span<const std::uint8_t> packet) {
    const auto write = characteristic(linkUuids().write);
    if (!isSubscribed() || !write) {
        return Outcome::lost;
    }
    if (writePending_) {
        LG_WARN("kavowatch: a packet offered while a write is pending; dropped");
        return Outcome::lost;
    }
    if (!peripheral_->writeValue(packet, *write, WriteType::withResponse)) {
        return Outcome::lost;
    }
    writePending_ = true;
    return Outcome::pending;
}

void PhoneLink::centralManagerDidUpdateState(CentralManager& manager) {
    if (manager.state() == ManagerState::poweredOn) {
        if (state_ == State::scanning) {
            manager.scanForPeripherals();
        }
    } else if (state_ != State::idle && state_ != State::scanning) {
        // The radio took the connection with it; nothing else will say so.
        wentDown();
    }
}

void PhoneLink::didDiscoverPeripheral(CentralManager& /*manager*/, RemotePeripheral& peripheral,
                                      const platform::bluetooth::AdvertisementData& data,
                                      int /*rssi*/) {
    const auto& services = data.serviceUuids;
    if (state_ != State::scanning ||
        std::find(services.begin(), services.end(), linkUuids().service) == services.end() ||
        (target_ && peripheral.identifier() != *target_)) {
        return;
    }
    manager_->stopScan();
    peripheral_ = &peripheral;
    peripheral.setDelegate(this);
    state_ = State::connecting;
    manager_->connect(peripheral);
}

void PhoneLink::didConnectPeripheral(CentralManager& /*manager*/, RemotePeripheral& peripheral) {
    if (!isOurs(peripheral) || state_ != State::connecting) {
        return;
    }
    state_ = State::discovering;
    if (!peripheral.discoverServices({linkUuids().service})) {
        abandon("service discovery did not start");
    }
}

void PhoneLink::didFailToConnectPeripheral(CentralManager& /*manager*/,
                                           RemotePeripheral& peripheral,
                                           const platform::Error& /*error*/) {
    if (isOurs(peripheral)) {
        wentDown();
    }
}

void PhoneLink::didDisconnectPeripheral(CentralManager& /*manager*/, RemotePeripheral& peripheral,
                                        const std::optional<platform::Error>& /*error*/) {
    if (isOurs(peripheral)) {
        wentDown();
    }
}

void PhoneLink::didDiscoverServices(RemotePeripheral& peripheral,
                                    const std::optional<platform::Error>& error) {
    if (!isOurs(peripheral) || state_ != State::discovering) {
        return;
    }
    if (error) {
        abandon("service discovery failed");
        return;
    }
    if (!peripheral.discoverCharacteristics(linkUuids().service)) {
        abandon("the phone publishes no link service");
    }
}

void PhoneLink::didDiscoverCharacteristics(RemotePeripheral& peripheral,
                                           const RemoteService& service,
                                           const std::optional<platform::Error>& error) {
    if (!isOurs(peripheral) || state_ != State::discovering ||
        service.uuid != linkUuids().service) {
        return;
    }
    const auto notify = characteristic(linkUuids().notify);
    if (error || !notify || !characteristic(linkUuids().write)) {
        abandon("the link service lacks its characteristics");
        return;
    }
    state_ = State::subscribing;
    if (!peripheral.setNotifyValue(true, *notify)) {
        abandon("the subscription did not start");
    }
}

void PhoneLink::didUpdateNotificationState(RemotePeripheral& peripheral,
                                           const RemoteCharacteristic& characteristic,
                                           const std::optional<platform::Error>& error) {
    if (!isOurs(peripheral) || characteristic.uuid != linkUuids().notify) {
        return;
    }
    if (state_ == State::closing) {
        manager_->cancelConnection(peripheral);
        return;
    }
    if (state_ != State::subscribing) {
        return;
    }
    if (error) {
        abandon("the phone refused the subscription");
        return;
    }
    state_ = State::readingAddress;
    const auto address = this->characteristic(linkUuids().address);
    if (!address) {
        addressRead_ = platform::Error{"kavowatch", 1, "no address characteristic"};
        becomeUp();
    } else if (auto started = peripheral.readValue(*address); !started) {
        addressRead_ = started.error();
        becomeUp();
    }
}

void PhoneLink::didUpdateValue(RemotePeripheral& peripheral,
                               const RemoteCharacteristic& characteristic,
                               const platform::Bytes& value,
                               const std::optional<platform::Error>& error) {
    if (!isOurs(peripheral)) {
        return;
    }
    if (characteristic.uuid == linkUuids().notify) {
        if (isSubscribed() && !error) {
            listener_.packetArrived(value);
        }
    } else if (characteristic.uuid == linkUuids().address && state_ == State::readingAddress) {
        addressRead_ = error ? platform::Result<platform::Bytes>(*error)
                             : platform::Result<platform::Bytes>(value);
        becomeUp();
    }
}

void PhoneLink::didWriteValue(RemotePeripheral& peripheral,
                              const RemoteCharacteristic& /*characteristic*/,
                              const std::optional<platform::Error>& error) {
    if (!isOurs(peripheral) || !writePending_) {
        return;
    }
    if (error) {
        // Refused or lost: the packet protocol's own recovery covers it.
        LG_DEBUG("kavowatch: the phone refused a write: %s", error->message);
    }
    writePending_ = false;
    listener_.packetWritten();
}

void PhoneLink::becomeUp() {
    state_ = State::up;
    listener_.phoneLinkUp();
}

void PhoneLink::abandon(const char* why) {
    LG_WARN("kavowatch: %s; leaving the phone", why);
    state_ = State::closing;
    manager_->cancelConnection(*peripheral_);
}

void PhoneLink::wentDown() {
    if (peripheral_ != nullptr) {
        peripheral_->setDelegate(nullptr);
    }
    peripheral_ = nullptr;
    state_ = State::idle;
    writePending_ = false;
    listener_.phoneLinkDown();
}

}  // namespace kavowatch
