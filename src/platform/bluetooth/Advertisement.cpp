#include "platform/bluetooth/Advertisement.h"

#include <string_view>

#include "platform/foundation/Utf8.h"

namespace platform::bluetooth {

namespace {

enum AdType : std::uint8_t {
    incomplete16 = 0x02,
    complete16 = 0x03,
    incomplete128 = 0x06,
    complete128 = 0x07,
    shortenedName = 0x08,
    completeName = 0x09,
    solicitation16 = 0x14,
    solicitation128 = 0x15,
    manufacturerSpecific = 0xFF,
};

constexpr std::size_t kMaxAdData = 254;

Error malformed(const std::string& what) {
    return makeError(ErrorCode::invalidParameters, "advertising data: " + what);
}

void appendStructure(Bytes& out, std::uint8_t type, std::span<const std::uint8_t> data) {
    out.push_back(static_cast<std::uint8_t>(data.size() + 1));
    out.push_back(type);
    out.insert(out.end(), data.begin(), data.end());
}

// Splits a UUID list over as many structures as it needs, 16-bit and 128-bit ones apart.
void appendUuids(Bytes& out, const std::vector<Uuid>& uuids, std::uint8_t shortType,
                 std::uint8_t longType) {
    for (const bool wantShort : {true, false}) {
        Bytes data;
        for (const Uuid& uuid : uuids) {
            if (uuid.isShort() != wantShort) {
                continue;
            }
            const Bytes bytes = uuid.littleEndian();
            if (data.size() + bytes.size() > kMaxAdData) {
                appendStructure(out, wantShort ? shortType : longType, data);
                data.clear();
            }
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        if (!data.empty()) {
            appendStructure(out, wantShort ? shortType : longType, data);
        }
    }
}

bool readUuids(std::span<const std::uint8_t> data, std::size_t width, std::vector<Uuid>& out) {
    if (data.size() % width != 0) {
        return false;
    }
    for (std::size_t i = 0; i < data.size(); i += width) {
        out.push_back(*Uuid::fromLittleEndian(data.subspan(i, width)));
    }
    return true;
}

}  // namespace

Result<Bytes> encodeAdvertisement(const AdvertisementData& data) {
    Bytes out;
    if (data.localName) {
        if (data.localName->size() > kMaxAdData) {
            return malformed("local name longer than 254 bytes");
        }
        const auto* name = reinterpret_cast<const std::uint8_t*>(data.localName->data());
        appendStructure(out, completeName, std::span(name, data.localName->size()));
    }
    if (data.manufacturerData) {
        if (data.manufacturerData->size() > kMaxAdData) {
            return malformed("manufacturer data longer than 254 bytes");
        }
        appendStructure(out, manufacturerSpecific, *data.manufacturerData);
    }
    appendUuids(out, data.serviceUuids, complete16, complete128);
    appendUuids(out, data.solicitedServiceUuids, solicitation16, solicitation128);
    return out;
}

Result<AdvertisementData> decodeAdvertisement(std::span<const std::uint8_t> bytes) {
    AdvertisementData data;
    std::size_t position = 0;
    while (position < bytes.size()) {
        const std::size_t length = bytes[position];
        if (length == 0) {
            break;  // the significant part ends here; the rest is padding
        }
        if (position + 1 + length > bytes.size()) {
            return malformed("structure runs past the end");
        }
        const std::uint8_t type = bytes[position + 1];
        const auto field = bytes.subspan(position + 2, length - 1);
        position += 1 + length;
        bool ok = true;
        switch (type) {
            case shortenedName:
            case completeName: {
                const std::string_view text(reinterpret_cast<const char*>(field.data()),
                                            field.size());
                if (!isValidUtf8(text)) {
                    return malformed("local name is not UTF-8");
                }
                if (type == completeName || !data.localName) {
                    data.localName = std::string(text);
                }
                break;
            }
            case manufacturerSpecific:
                data.manufacturerData = Bytes(field.begin(), field.end());
                break;
            case incomplete16:
            case complete16:
                ok = readUuids(field, 2, data.serviceUuids);
                break;
            case incomplete128:
            case complete128:
                ok = readUuids(field, 16, data.serviceUuids);
                break;
            case solicitation16:
                ok = readUuids(field, 2, data.solicitedServiceUuids);
                break;
            case solicitation128:
                ok = readUuids(field, 16, data.solicitedServiceUuids);
                break;
            default:
                break;
        }
        if (!ok) {
            return malformed("UUID list of a length that is no multiple of its width");
        }
    }
    return data;
}

}  // namespace platform::bluetooth
