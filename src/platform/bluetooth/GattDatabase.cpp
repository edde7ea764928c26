#include "platform/bluetooth/GattDatabase.h"

#include "platform/bluetooth/AttPdu.h"

namespace platform::bluetooth {

namespace {

bool isWriteable(const MutableCharacteristic& characteristic) {
    return has(characteristic.properties, CharacteristicProperties::write) ||
           has(characteristic.properties, CharacteristicProperties::writeWithoutResponse) ||
           has(characteristic.properties, CharacteristicProperties::notify);
}

}  // namespace

Result<void> GattDatabase::add(const MutableService& service) {
    std::size_t needed = 1;
    for (const MutableCharacteristic& characteristic : service.characteristics) {
        if (characteristic.value && isWriteable(characteristic)) {
            return makeError(ErrorCode::invalidParameters,
                             "a characteristic with a fixed value must be read-only: " +
                                 characteristic.uuid.toString());
        }
        if (characteristic.value && characteristic.value->size() > att::kMaxAttributeLength) {
            return makeError(
                ErrorCode::invalidParameters,
                "characteristic value longer than 512 bytes: " + characteristic.uuid.toString());
        }
        needed += has(characteristic.properties, CharacteristicProperties::notify) ? 3 : 2;
    }
    if (attributes_.size() + needed > 0xFFFF) {
        return makeError(ErrorCode::outOfSpace, "no attribute handles left");
    }

    auto next = static_cast<std::uint16_t>(attributes_.size() + 1);
    const std::size_t serviceIndex = attributes_.size();
    GattAttribute declaration;
    declaration.handle = next++;
    declaration.kind = GattAttribute::Kind::service;
    declaration.type =
        Uuid::fromShort(service.primary ? att::kPrimaryService : att::kSecondaryService);
    declaration.value = service.uuid.littleEndian();
    attributes_.push_back(declaration);

    for (const MutableCharacteristic& characteristic : service.characteristics) {
        const std::uint16_t valueHandle = static_cast<std::uint16_t>(next + 1);
        GattAttribute decl;
        decl.handle = next++;
        decl.kind = GattAttribute::Kind::characteristic;
        decl.type = Uuid::fromShort(att::kCharacteristic);
        decl.value = att::Writer(static_cast<std::uint8_t>(characteristic.properties))
                         .u16(valueHandle)
                         .uuid(characteristic.uuid)
                         .take();
        decl.characteristic = characteristic.uuid;
        attributes_.push_back(std::move(decl));

        GattAttribute value;
        value.handle = next++;
        value.kind = GattAttribute::Kind::value;
        value.type = characteristic.uuid;
        value.value = characteristic.value.value_or(Bytes{});
        value.dynamic = !characteristic.value.has_value();
        value.characteristic = characteristic.uuid;
        value.properties = characteristic.properties;
        value.permissions = characteristic.permissions;
        attributes_.push_back(std::move(value));

        if (has(characteristic.properties, CharacteristicProperties::notify)) {
            GattAttribute configuration;
            configuration.handle = next++;
            configuration.kind = GattAttribute::Kind::clientConfiguration;
            configuration.type = Uuid::fromShort(att::kClientConfiguration);
            configuration.characteristic = characteristic.uuid;
            configuration.properties = characteristic.properties;
            configuration.valueHandle = valueHandle;
            attributes_.push_back(std::move(configuration));
        }
    }
    attributes_[serviceIndex].groupEnd = static_cast<std::uint16_t>(attributes_.size());
    services_.push_back(service);
    return {};
}

void GattDatabase::clear() {
    services_.clear();
    attributes_.clear();
}

const GattAttribute* GattDatabase::find(std::uint16_t handle) const {
    if (handle == 0 || handle > attributes_.size()) {
        return nullptr;
    }
    return &attributes_[handle - 1];
}

const GattAttribute* GattDatabase::valueOf(const Uuid& characteristic) const {
    for (const GattAttribute& attribute : attributes_) {
        if (attribute.kind == GattAttribute::Kind::value && attribute.type == characteristic) {
            return &attribute;
        }
    }
    return nullptr;
}

}  // namespace platform::bluetooth
