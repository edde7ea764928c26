#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/bluetooth/Types.h"
#include "platform/bluetooth/Uuid.h"
#include "platform/foundation/Value.h"

// The ATT PDUs this stack speaks, and bounded readers and writers for them.
namespace platform::bluetooth::att {

enum Opcode : std::uint8_t {
    errorResponse = 0x01,
    exchangeMtuRequest = 0x02,
    exchangeMtuResponse = 0x03,
    findInformationRequest = 0x04,
    findInformationResponse = 0x05,
    readByTypeRequest = 0x08,
    readByTypeResponse = 0x09,
    readRequest = 0x0A,
    readResponse = 0x0B,
    readByGroupTypeRequest = 0x10,
    readByGroupTypeResponse = 0x11,
    writeRequest = 0x12,
    writeResponse = 0x13,
    handleValueNotification = 0x1B,
    handleValueIndication = 0x1D,
    handleValueConfirmation = 0x1E,
    writeCommand = 0x52,
};

inline constexpr std::uint16_t kDefaultMtu = 23;
inline constexpr std::uint16_t kMaxMtu = 517;
inline constexpr std::size_t kMaxAttributeLength = 512;

// An MTU within what a low-energy link allows: a peer's larger offer would let it send PDUs
// that nothing here is sized for, and a smaller one cannot carry the protocol at all.
constexpr std::uint16_t clampMtu(std::uint16_t mtu) {
    return std::clamp(mtu, kDefaultMtu, kMaxMtu);
}

inline constexpr std::uint16_t kPrimaryService = 0x2800;
inline constexpr std::uint16_t kSecondaryService = 0x2801;
inline constexpr std::uint16_t kCharacteristic = 0x2803;
inline constexpr std::uint16_t kClientConfiguration = 0x2902;

constexpr bool isCommand(std::uint8_t opcode) {
    return (opcode & 0x40) != 0;
}

// Opcodes a server sends to a client; a server that receives one was sent garbage.
bool isServerToClient(std::uint8_t opcode);

// Reads little-endian fields without ever passing the end; after a short read ok() is false and
// every further read yields zeros.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    std::uint8_t u8();
    std::uint16_t u16();
    std::span<const std::uint8_t> bytes(std::size_t count);
    std::span<const std::uint8_t> rest();
    [[nodiscard]] std::size_t remaining() const { return data_.size() - position_; }
    [[nodiscard]] bool ok() const { return ok_; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

class Writer {
public:
    explicit Writer(std::uint8_t opcode) { bytes_.push_back(opcode); }

    Writer& u8(std::uint8_t value);
    Writer& u16(std::uint16_t value);
    Writer& bytes(std::span<const std::uint8_t> value);
    Writer& uuid(const Uuid& value);
    [[nodiscard]] std::size_t size() const { return bytes_.size(); }
    Bytes take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

Bytes makeErrorResponse(std::uint8_t requestOpcode, std::uint16_t handle, AttError code);

}  // namespace platform::bluetooth::att
