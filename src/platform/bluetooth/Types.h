#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/bluetooth/Uuid.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace platform::bluetooth {

// The managers' view of the local radio. The numbers are the ones the phone platform reports.
enum class ManagerState {
    unknown = 0,
    resetting = 1,
    unsupported = 2,
    unauthorized = 3,
    poweredOff = 4,
    poweredOn = 5,
};

// Characteristic properties as the declaration carries them on the air.
enum class CharacteristicProperties : std::uint8_t {
    none = 0,
    read = 0x02,
    writeWithoutResponse = 0x04,
    write = 0x08,
    notify = 0x10,
};

enum class AttributePermissions : std::uint8_t {
    none = 0,
    readable = 0x01,
    writeable = 0x02,
    readEncryptionRequired = 0x04,
    writeEncryptionRequired = 0x08,
};

constexpr CharacteristicProperties operator|(CharacteristicProperties a,
                                             CharacteristicProperties b) {
    return static_cast<CharacteristicProperties>(static_cast<std::uint8_t>(a) |
                                                 static_cast<std::uint8_t>(b));
}
constexpr bool has(CharacteristicProperties set, CharacteristicProperties flag) {
    return (static_cast<std::uint8_t>(set) & static_cast<std::uint8_t>(flag)) != 0;
}
constexpr AttributePermissions operator|(AttributePermissions a, AttributePermissions b) {
    return static_cast<AttributePermissions>(static_cast<std::uint8_t>(a) |
                                             static_cast<std::uint8_t>(b));
}
constexpr bool has(AttributePermissions set, AttributePermissions flag) {
    return (static_cast<std::uint8_t>(set) & static_cast<std::uint8_t>(flag)) != 0;
}

// ATT error codes, as Error Responses carry them. Any other byte is valid too: 0x80 to 0x9F
// are the application's own.
enum class AttError : std::uint8_t {
    success = 0x00,
    invalidHandle = 0x01,
    readNotPermitted = 0x02,
    writeNotPermitted = 0x03,
    invalidPdu = 0x04,
    requestNotSupported = 0x06,
    invalidOffset = 0x07,
    attributeNotFound = 0x0A,
    attributeNotLong = 0x0B,
    invalidAttributeValueLength = 0x0D,
    unlikelyError = 0x0E,
    unsupportedGroupType = 0x10,
    insufficientResources = 0x11,
    clientConfigurationImproperlyConfigured = 0xFD,
};

// An application error code: offset 0 to 31 maps to 0x80 to 0x9F.
constexpr AttError applicationError(std::uint8_t offset) {
    return static_cast<AttError>(0x80 + (offset & 0x1F));
}

inline constexpr const char* kErrorDomain = "platform.bluetooth";
inline constexpr const char* kAttErrorDomain = "platform.bluetooth.att";

// Codes of kErrorDomain. Disconnections and failed connections carry one; 6 and 7 have the
// meaning the phone platform gives them, which the link relies on.
enum class ErrorCode : long {
    unknown = 0,
    invalidParameters = 1,
    notConnected = 3,
    outOfSpace = 4,
    connectionTimeout = 6,
    peripheralDisconnected = 7,
    connectionFailed = 10,
    notPoweredOn = 100,
};

Error makeError(ErrorCode code, std::string message);
Error makeAttError(AttError code);
// The ATT code of an Error of kAttErrorDomain, else nothing.
std::optional<AttError> attErrorOf(const Error& error);

const char* toString(ManagerState state);

// What an advertiser sends and a scanner reports. Manufacturer data starts with the company
// identifier, least significant byte first, exactly as on the air.
struct AdvertisementData {
    std::optional<std::string> localName{};
    std::optional<Bytes> manufacturerData{};
    std::vector<Uuid> serviceUuids{};
    std::vector<Uuid> solicitedServiceUuids{};

    friend bool operator==(const AdvertisementData&, const AdvertisementData&) = default;
};

// A characteristic to publish. One with a value is served by the stack and must be read-only;
// one without is dynamic: reads and writes go to the peripheral manager's delegate.
struct MutableCharacteristic {
    Uuid uuid;
    CharacteristicProperties properties = CharacteristicProperties::none;
    AttributePermissions permissions = AttributePermissions::none;
    std::optional<Bytes> value;

    friend bool operator==(const MutableCharacteristic&, const MutableCharacteristic&) = default;
};

struct MutableService {
    Uuid uuid;
    bool primary = true;
    std::vector<MutableCharacteristic> characteristics;

    friend bool operator==(const MutableService&, const MutableService&) = default;
};

// A remote central as the peripheral manager sees it. The identifier stays the same across
// connections of the same device.
struct Central {
    Uuid identifier;
    // The longest notification value the connection carries (its ATT MTU less 3).
    std::size_t maximumUpdateValueLength = 20;

    friend bool operator==(const Central&, const Central&) = default;
};

// A read or write of a dynamic characteristic, answered with PeripheralManager::respond.
// For a read, the answer's value goes in `value`.
struct AttRequest {
    std::uint64_t id = 0;
    Central central;
    Uuid characteristic;
    std::size_t offset = 0;
    Bytes value;
};

// What the stack kept for a peripheral manager with a restoration identifier while no manager
// was there: the published services, who is subscribed to what, and the advertisement.
struct RestoredState {
    std::vector<MutableService> services;
    // (characteristic, central) in the order the subscriptions were made.
    std::vector<std::pair<Uuid, Central>> subscriptions;
    std::optional<AdvertisementData> advertisement;

    [[nodiscard]] std::vector<Central> subscribedCentrals(const Uuid& characteristic) const;
};

enum class UpdateResult {
    accepted,
    // The transmit queue is full: exactly one ready-to-update callback follows.
    queueFull,
    // Not sent and never will be: not powered on, no such notifying characteristic, the
    // central is not subscribed, or the value is longer than the central can take.
    rejected,
};

enum class WriteType { withResponse, withoutResponse };

}  // namespace platform::bluetooth
