#include "sim/PlainDevice.h"

#include <utility>

namespace kavowatch {

using platform::bluetooth::ManagerState;

PlainDevice::PlainDevice(platform::RunLoop& loop, RadioFactory radios,
                         platform::bluetooth::Uuid identifier, std::string name)
    : loop_(loop), radios_(std::move(radios)), identifier_(identifier), name_(std::move(name)) {}

PlainDevice::~PlainDevice() {
    if (stack_) {
        stack_->peripheral.setDelegate(nullptr);
    }
}

void PlainDevice::powerOn() {
    if (stack_) {
        return;
    }
    platform::bluetooth::PeripheralManagerDelegate* self = this;
    stack_ = std::make_unique<Stack>(radios_(identifier_), loop_, self);
}

bool PlainDevice::isAdvertising() const {
    return stack_ && stack_->peripheral.isAdvertising();
}

void PlainDevice::peripheralManagerDidUpdateState(platform::bluetooth::PeripheralManager& manager) {
    // A name and no maker's data: what any device in reach may send.
    if (manager.state() == ManagerState::poweredOn && !manager.isAdvertising()) {
        manager.startAdvertising(platform::bluetooth::AdvertisementData{.localName = name_});
    }
}

}  // namespace kavowatch
