#pragma once

#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "platform/bluetooth/Uuid.h"

namespace platform {
class UserDefaults;
}

namespace platform::bluetooth::bluez {

// The layer names devices by UUID; BlueZ names them by an object path built from the device's
// address ("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF"). Each address-based name gets a UUID of its
// own the first time it is seen, kept in the user defaults, so a watch keeps its identifier
// across launches, adapters and daemon restarts.
class DeviceIdentities {
public:
    static constexpr const char* kDefaultsKey = "kavo.bluetooth.devices";

    explicit DeviceIdentities(UserDefaults& defaults);

    // The last element of a device path ("dev_AA_BB_CC_DD_EE_FF"); empty for anything else.
    static std::string deviceName(std::string_view path);

    // The device's UUID, made and kept when the name is new. `name` is a deviceName().
    Uuid identifierFor(const std::string& name);
    // The name kept for a UUID, if any.
    [[nodiscard]] std::optional<std::string> nameFor(const Uuid& identifier) const;

private:
    UserDefaults& defaults_;
    std::mt19937_64 generator_;
};

}  // namespace platform::bluetooth::bluez
