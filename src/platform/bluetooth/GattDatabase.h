#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/bluetooth/Types.h"
#include "platform/foundation/Result.h"

namespace platform::bluetooth {

struct GattAttribute {
    enum class Kind { service, characteristic, value, clientConfiguration };

    std::uint16_t handle = 0;
    Kind kind = Kind::service;
    Uuid type;
    // Declarations and static characteristic values; empty for the others.
    Bytes value;
    // A characteristic value that the application answers.
    bool dynamic = false;
    // Service declarations: the last handle of the service.
    std::uint16_t groupEnd = 0;
    // Value and configuration attributes: their characteristic.
    Uuid characteristic;
    CharacteristicProperties properties = CharacteristicProperties::none;
    AttributePermissions permissions = AttributePermissions::none;
    // Configuration attributes: the handle of the value they configure.
    std::uint16_t valueHandle = 0;
};

// The attribute table of the published services. Handles start at 1 and are contiguous, in the
// order services were added; a characteristic that notifies gets a client configuration
// descriptor right after its value.
class GattDatabase {
public:
    // Checks the service and appends it; nothing changes on an error.
    Result<void> add(const MutableService& service);
    void clear();

    [[nodiscard]] const std::vector<MutableService>& services() const { return services_; }
    [[nodiscard]] std::span<const GattAttribute> attributes() const { return attributes_; }
    [[nodiscard]] const GattAttribute* find(std::uint16_t handle) const;
    // The value attribute of the first published characteristic with this UUID.
    [[nodiscard]] const GattAttribute* valueOf(const Uuid& characteristic) const;

private:
    std::vector<MutableService> services_;
    std::vector<GattAttribute> attributes_;
};

}  // namespace platform::bluetooth
