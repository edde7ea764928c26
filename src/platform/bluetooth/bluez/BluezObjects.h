#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bluetooth/Types.h"

// Our types in BlueZ's property forms and back. Pure functions, so the bus side stays small.
namespace platform::bluetooth::bluez {

using Properties = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, Interfaces>;
using ManufacturerData = std::map<std::uint16_t, sdbus::Variant>;

// The lower-case 36-character form BlueZ uses for every UUID.
std::string uuidText(const Uuid& uuid);
std::vector<std::string> uuidTexts(const std::vector<Uuid>& uuids);

// GattCharacteristic1.Flags of a characteristic to publish.
std::vector<std::string> characteristicFlags(const MutableCharacteristic& characteristic);

// LEAdvertisement1.ManufacturerData for manufacturer data as the layer carries it (company
// identifier first); nothing when it is too short to hold one.
std::optional<ManufacturerData> manufacturerDataOf(const std::optional<Bytes>& data);

// What a Device1 object tells of the device's advertising: Name, ManufacturerData, UUIDs, and
// the solicited UUIDs from the raw AdvertisingData where the daemon offers it.
AdvertisementData advertisementOf(const Properties& device);
std::optional<int> rssiOf(const Properties& device);
bool connectedOf(const Properties& device);

// The org.bluez error a GATT method answers with for an ATT error, and the reason a failed or
// ended connection reports in the layer's domain.
const char* errorNameFor(AttError error);
Error connectionError(std::string_view errorName, std::string_view message);
Error disconnectionError(std::string_view reason);

template <typename T>
std::optional<T> propertyOf(const Properties& properties, const std::string& name) {
    const auto found = properties.find(name);
    if (found == properties.end() || !found->second.containsValueOfType<T>()) {
        return std::nullopt;
    }
    return found->second.get<T>();
}

}  // namespace platform::bluetooth::bluez
