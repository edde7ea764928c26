#include "platform/bluetooth/bluez/GattApplication.h"

#include "platform/bluetooth/bluez/BluezNames.h"
#include "platform/bluetooth/bluez/BluezObjects.h"

namespace platform::bluetooth::bluez {
namespace {

GattCall callFrom(const Properties& options) {
    GattCall call;
    if (auto device = propertyOf<sdbus::ObjectPath>(options, "device")) {
        call.device = *device;
    }
    call.offset = propertyOf<std::uint16_t>(options, "offset").value_or(0);
    call.mtu = propertyOf<std::uint16_t>(options, "mtu");
    return call;
}

}  // namespace

GattApplication::GattApplication(sdbus::IConnection& connection,
                                 const std::vector<MutableService>& services,
                                 std::uint64_t& nextCallId, std::function<void(GattCall)> calls)
    : nextCallId_(nextCallId), calls_(std::move(calls)) {
    root_ = sdbus::createObject(connection, kApplicationPath);
    root_->addObjectManager();
    root_->finishRegistration();
    std::size_t total = 0;
    for (const auto& service : services) {
        total += service.characteristics.size();
    }
    // Handlers keep indices into it, so it never grows after this.
    characteristics_.reserve(total);
    for (std::size_t s = 0; s < services.size(); ++s) {
        const MutableService& service = services[s];
        const std::string servicePath = std::string(kApplicationPath) + "/service" +
                                        std::to_string(s);
        for (std::size_t c = 0; c < service.characteristics.size(); ++c) {
            addCharacteristic(servicePath + "/char" + std::to_string(c), servicePath,
                              service.characteristics[c]);
        }
        auto object = sdbus::createObject(connection, servicePath);
        const std::string uuid = uuidText(service.uuid);
        const bool primary = service.primary;
        object->registerProperty("UUID").onInterface(kGattService).withGetter([uuid] {
            return uuid;
        });
        object->registerProperty("Primary").onInterface(kGattService).withGetter([primary] {
            return primary;
        });
        object->registerProperty("Includes").onInterface(kGattService).withGetter([] {
            return std::vector<sdbus::ObjectPath>{};
        });
        object->finishRegistration();
        services_.push_back(std::move(object));
    }
}

void GattApplication::addCharacteristic(const std::string& path, const std::string& servicePath,
                                        const MutableCharacteristic& characteristic) {
    const std::size_t index = characteristics_.size();
    auto& entry = characteristics_.emplace_back();
    entry.value = characteristic.value.value_or(Bytes{});
    auto& object = *(entry.object = sdbus::createObject(root_->getConnection(), path));
    const std::string uuid = uuidText(characteristic.uuid);
    const sdbus::ObjectPath service(servicePath);
    const auto flags = characteristicFlags(characteristic);
    object.registerProperty("UUID").onInterface(kGattCharacteristic).withGetter([uuid] {
        return uuid;
    });
    object.registerProperty("Service").onInterface(kGattCharacteristic).withGetter([service] {
        return service;
    });
    object.registerProperty("Flags").onInterface(kGattCharacteristic).withGetter([flags] {
        return flags;
    });
    object.registerProperty("Value").onInterface(kGattCharacteristic).withGetter([this, index] {
        return characteristics_[index].value;
    });
    if (has(characteristic.properties, CharacteristicProperties::notify)) {
        object.registerProperty("Notifying")
            .onInterface(kGattCharacteristic)
            .withGetter([this, index] { return characteristics_[index].notifying; });
    }
    object.registerMethod("ReadValue")
        .onInterface(kGattCharacteristic)
        .withInputParamNames("options")
        .withOutputParamNames("value")
        .implementedAs([this, index](sdbus::Result<Bytes>&& result, Properties options) {
            GattCall call = callFrom(options);
            call.id = nextCallId_++;
            call.kind = GattCall::Kind::read;
            call.characteristic = index;
            reads_.emplace(call.id, Waiting<sdbus::Result<Bytes>>{std::move(result), call.device});
            calls_(std::move(call));
        });
    object.registerMethod("WriteValue")
        .onInterface(kGattCharacteristic)
        .withInputParamNames("value", "options")
        .implementedAs([this, index](sdbus::Result<>&& result, Bytes value, Properties options) {
            GattCall call = callFrom(options);
            call.characteristic = index;
            call.value = std::move(value);
            call.id = nextCallId_++;
            if (propertyOf<std::string>(options, "type").value_or("") == "command") {
                // Nobody waits for the answer to a command.
                call.kind = GattCall::Kind::writeCommand;
                result.returnResults();
            } else {
                call.kind = GattCall::Kind::write;
                writes_.emplace(call.id, Waiting<sdbus::Result<>>{std::move(result), call.device});
            }
            calls_(std::move(call));
        });
    if (has(characteristic.properties, CharacteristicProperties::notify)) {
        object.registerMethod("StartNotify").onInterface(kGattCharacteristic).implementedAs(
            [this, index] { setNotifying(index, true); });
        object.registerMethod("StopNotify").onInterface(kGattCharacteristic).implementedAs(
            [this, index] { setNotifying(index, false); });
    }
    object.finishRegistration();
}

GattApplication::~GattApplication() {
    for (auto& [id, waiting] : reads_) {
        waiting.result.returnError(sdbus::Error(kErrorFailed, "the application withdrew"));
    }
    for (auto& [id, waiting] : writes_) {
        waiting.result.returnError(sdbus::Error(kErrorFailed, "the application withdrew"));
    }
}

void GattApplication::setNotifying(std::size_t index, bool notifying) {
    auto& characteristic = characteristics_[index];
    if (characteristic.notifying == notifying) {
        return;
    }
    characteristic.notifying = notifying;
    GattCall call;
    call.id = nextCallId_++;
    call.kind = notifying ? GattCall::Kind::startNotify : GattCall::Kind::stopNotify;
    call.characteristic = index;
    calls_(std::move(call));
    characteristic.object->emitPropertiesChangedSignal(kGattCharacteristic, {"Notifying"});
}

void GattApplication::replyRead(std::uint64_t id, const Bytes& value) {
    if (auto node = reads_.extract(id)) {
        node.mapped().result.returnResults(value);
    }
}

void GattApplication::replyWrite(std::uint64_t id) {
    if (auto node = writes_.extract(id)) {
        node.mapped().result.returnResults();
    }
}

void GattApplication::replyError(std::uint64_t id, const std::string& name,
                                 const std::string& message) {
    if (auto node = reads_.extract(id)) {
        node.mapped().result.returnError(sdbus::Error(name, message));
    } else if (auto written = writes_.extract(id)) {
        written.mapped().result.returnError(sdbus::Error(name, message));
    }
}

void GattApplication::failCallsOf(const std::string& device) {
    const sdbus::Error gone(kErrorFailed, "the central disconnected");
    std::erase_if(reads_, [&](auto& entry) {
        if (entry.second.device != device) {
            return false;
        }
        entry.second.result.returnError(gone);
        return true;
    });
    std::erase_if(writes_, [&](auto& entry) {
        if (entry.second.device != device) {
            return false;
        }
        entry.second.result.returnError(gone);
        return true;
    });
}

void GattApplication::notify(std::size_t index, const Bytes& value) {
    if (index >= characteristics_.size() || !characteristics_[index].notifying) {
        return;
    }
    characteristics_[index].value = value;
    characteristics_[index].object->emitPropertiesChangedSignal(kGattCharacteristic, {"Value"});
}

}  // namespace platform::bluetooth::bluez
