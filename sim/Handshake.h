#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/bluetooth/Uuid.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

// The watch's side of the pairing handshake on application identifier 0: records of 148 bytes
// whose first byte, the message's header byte, names their type.
namespace kavowatch {

inline constexpr std::size_t kHandshakeRecordSize = 148;
inline constexpr const char* kHandshakeErrorDomain = "kavowatch.handshake";

enum class HandshakeType : std::uint8_t {
    request = 0x00,   // watch to phone, with the watch's device name
    response = 0x40,  // phone to watch
    complete = 0x80,  // watch to phone
    reject = 0xC0,    // watch to phone
};

// The request: the device name at offset 33, cut to 16 bytes so that a zero ends it.
[[nodiscard]] platform::Bytes handshakeRequest(std::string_view deviceName);
// A completion or a rejection: the type byte, then zeros.
[[nodiscard]] platform::Bytes handshakeRecord(HandshakeType type);

struct HandshakeResponse {
    std::string phoneName;
    std::string tag;  // the three letters at offset 66
    // The connected device the phone named: this watch, or none.
    bool namesThisWatch = false;
};

// Checks every field of the phone's response; the error says which one is wrong.
[[nodiscard]] platform::Result<HandshakeResponse> checkHandshakeResponse(
    std::span<const std::uint8_t> record, const platform::bluetooth::Uuid& watchIdentifier);

}  // namespace kavowatch
