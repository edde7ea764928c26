#include "platform/bluetooth/bluez/BluezObjects.h"

#include <algorithm>
#include <cctype>

#include "platform/bluetooth/bluez/BluezNames.h"

namespace platform::bluetooth::bluez {
namespace {

// Advertising data types that list solicited service UUIDs, by UUID width.
constexpr std::uint8_t kSolicited16 = 0x14;
constexpr std::uint8_t kSolicited128 = 0x15;
constexpr std::uint8_t kSolicited32 = 0x1F;

void appendUuids(std::vector<Uuid>& into, const Bytes& field, std::size_t width) {
    for (std::size_t at = 0; at + width <= field.size(); at += width) {
        std::span<const std::uint8_t> piece(field.data() + at, width);
        if (width == 4) {
            // A 32-bit UUID is the base UUID with its first four bytes replaced.
            const std::uint32_t value = piece[0] | (piece[1] << 8) | (piece[2] << 16) |
                                        (static_cast<std::uint32_t>(piece[3]) << 24);
            auto bytes = Uuid::fromShort(0).bytes();
            bytes[0] = static_cast<std::uint8_t>(value >> 24);
            bytes[1] = static_cast<std::uint8_t>(value >> 16);
            bytes[2] = static_cast<std::uint8_t>(value >> 8);
            bytes[3] = static_cast<std::uint8_t>(value);
            into.push_back(Uuid::fromBytes(bytes));
        } else if (auto uuid = Uuid::fromLittleEndian(piece)) {
            into.push_back(*uuid);
        }
    }
}

}  // namespace

std::string uuidText(const Uuid& uuid) {
    std::string text = uuid.toLongString();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> uuidTexts(const std::vector<Uuid>& uuids) {
    std::vector<std::string> texts;
    texts.reserve(uuids.size());
    for (const Uuid& uuid : uuids) {
        texts.push_back(uuidText(uuid));
    }
    return texts;
}

std::vector<std::string> characteristicFlags(const MutableCharacteristic& characteristic) {
    const auto properties = characteristic.properties;
    const auto permissions = characteristic.permissions;
    std::vector<std::string> flags;
    if (has(properties, CharacteristicProperties::read)) {
        flags.emplace_back(has(permissions, AttributePermissions::readEncryptionRequired)
                               ? "encrypt-read"
                               : "read");
    }
    if (has(properties, CharacteristicProperties::writeWithoutResponse)) {
        flags.emplace_back("write-without-response");
    }
    if (has(properties, CharacteristicProperties::write)) {
        flags.emplace_back(has(permissions, AttributePermissions::writeEncryptionRequired)
                               ? "encrypt-write"
                               : "write");
    }
    if (has(properties, CharacteristicProperties::notify)) {
        flags.emplace_back("notify");
    }
    return flags;
}

std::optional<ManufacturerData> manufacturerDataOf(const std::optional<Bytes>& data) {
    if (!data || data->size() < 2) {
        return std::nullopt;
    }
    const Bytes& bytes = *data;
    const auto company = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    ManufacturerData manufacturer;
    manufacturer[company] = sdbus::Variant(Bytes(bytes.begin() + 2, bytes.end()));
    return manufacturer;
}

AdvertisementData advertisementOf(const Properties& device) {
    AdvertisementData data;
    data.localName = propertyOf<std::string>(device, "Name");
    if (auto manufacturer = propertyOf<ManufacturerData>(device, "ManufacturerData");
        manufacturer && !manufacturer->empty()) {
        // The layer carries one company's data, as an advertisement's first field holds it.
        const auto& [company, value] = *manufacturer->begin();
        Bytes bytes{static_cast<std::uint8_t>(company), static_cast<std::uint8_t>(company >> 8)};
        if (value.containsValueOfType<Bytes>()) {
            const auto payload = value.get<Bytes>();
            bytes.insert(bytes.end(), payload.begin(), payload.end());
        }
        data.manufacturerData = std::move(bytes);
    }
    for (const auto& text : propertyOf<std::vector<std::string>>(device, "UUIDs").value_or(
             std::vector<std::string>{})) {
        if (auto uuid = Uuid::parse(text)) {
            data.serviceUuids.push_back(*uuid);
        }
    }
    using Raw = std::map<std::uint8_t, sdbus::Variant>;
    for (const auto& [type, value] : propertyOf<Raw>(device, "AdvertisingData").value_or(Raw{})) {
        if (!value.containsValueOfType<Bytes>()) {
            continue;
        }
        const auto field = value.get<Bytes>();
        switch (type) {
            case kSolicited16:
                appendUuids(data.solicitedServiceUuids, field, 2);
                break;
            case kSolicited32:
                appendUuids(data.solicitedServiceUuids, field, 4);
                break;
            case kSolicited128:
                appendUuids(data.solicitedServiceUuids, field, 16);
                break;
            default:
                break;
        }
    }
    return data;
}

std::optional<int> rssiOf(const Properties& device) {
    if (auto rssi = propertyOf<std::int16_t>(device, "RSSI")) {
        return *rssi;
    }
    return std::nullopt;
}

bool connectedOf(const Properties& device) {
    return propertyOf<bool>(device, "Connected").value_or(false);
}

const char* errorNameFor(AttError error) {
    switch (error) {
        case AttError::readNotPermitted:
        case AttError::writeNotPermitted:
            return kErrorNotPermitted;
        case AttError::invalidAttributeValueLength:
            return kErrorInvalidValueLength;
        case AttError::invalidOffset:
            return kErrorInvalidOffset;
        case AttError::requestNotSupported:
            return kErrorNotSupported;
        default:
            return kErrorFailed;
    }
}

Error connectionError(std::string_view errorName, std::string_view message) {
    std::string text = "the connection failed: ";
    text += errorName;
    if (!message.empty()) {
        text += " (";
        text += message;
        text += ")";
    }
    return makeError(ErrorCode::connectionFailed, std::move(text));
}

Error disconnectionError(std::string_view reason) {
    if (reason == "org.bluez.Reason.Timeout") {
        return makeError(ErrorCode::connectionTimeout, "The connection has timed out.");
    }
    return makeError(ErrorCode::peripheralDisconnected,
                     "The specified device has disconnected from us.");
}

}  // namespace platform::bluetooth::bluez
