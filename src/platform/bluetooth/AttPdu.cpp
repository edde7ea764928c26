#include "platform/bluetooth/AttPdu.h"

namespace platform::bluetooth::att {

bool isServerToClient(std::uint8_t opcode) {
    switch (opcode) {
        case errorResponse:
        case exchangeMtuResponse:
        case findInformationResponse:
        case 0x07:  // Find By Type Value Response
        case readByTypeResponse:
        case readResponse:
        case 0x0D:  // Read Blob Response
        case 0x0F:  // Read Multiple Response
        case readByGroupTypeResponse:
        case writeResponse:
        case 0x17:  // Prepare Write Response
        case 0x19:  // Execute Write Response
        case handleValueNotification:
        case handleValueIndication:
            return true;
        default:
            return false;
    }
}

std::uint8_t Reader::u8() {
    const auto field = bytes(1);
    return field.empty() ? 0 : field[0];
}

std::uint16_t Reader::u16() {
    const auto field = bytes(2);
    return field.empty() ? 0 : static_cast<std::uint16_t>(field[0] | field[1] << 8);
}

std::span<const std::uint8_t> Reader::bytes(std::size_t count) {
    if (!ok_ || count > remaining()) {
        ok_ = false;
        return {};
    }
    const auto field = data_.subspan(position_, count);
    position_ += count;
    return field;
}

std::span<const std::uint8_t> Reader::rest() {
    return bytes(remaining());
}

Writer& Writer::u8(std::uint8_t value) {
    bytes_.push_back(value);
    return *this;
}

Writer& Writer::u16(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
    return *this;
}

Writer& Writer::bytes(std::span<const std::uint8_t> value) {
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    return *this;
}

Writer& Writer::uuid(const Uuid& value) {
    return bytes(value.littleEndian());
}

Bytes makeErrorResponse(std::uint8_t requestOpcode, std::uint16_t handle, AttError code) {
    return Writer(errorResponse)
        .u8(requestOpcode)
        .u16(handle)
        .u8(static_cast<std::uint8_t>(code))
        .take();
}

}  // namespace platform::bluetooth::att
