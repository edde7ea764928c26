#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/foundation/Value.h"

// The link's packets as the watch writes and reads them. Written apart from the phone's code on
// purpose: tests hold both sides to the same literal bytes, so a slip on one side shows.
namespace kavowatch {

using platform::Bytes;

inline constexpr std::size_t kPacketHeaderSize = 4;
inline constexpr std::size_t kMaxPayload = 148;
inline constexpr std::size_t kControlPacketSize = 22;
inline constexpr std::size_t kWindowSize = 8;

// Where a data packet stands in its message (header bits 5-4).
enum class Position : std::uint8_t { first = 0, only = 1, middle = 2, last = 3 };
// Control packet commands (header bits 5-4 with bit 7 set).
enum class Command : std::uint8_t { ack = 0, ping = 1, disconnect = 2, reset = 3 };

[[nodiscard]] constexpr bool endsMessage(Position position) {
    return position == Position::only || position == Position::last;
}

// CRC-16 with the reflected polynomial 0xA001, initial value 0 and no final XOR.
[[nodiscard]] std::uint16_t crc16(std::span<const std::uint8_t> bytes);

// The data packets of one compressed message, in order, with sequence number 0.
[[nodiscard]] std::vector<Bytes> packetise(std::span<const std::uint8_t> payload,
                                           bool acknowledged);

// A 22-byte control packet; only an acknowledgement carries a mask (bytes 1-2, high first).
[[nodiscard]] Bytes controlPacket(Command command, std::uint8_t argument = 0);
[[nodiscard]] Bytes ackPacket(std::uint16_t mask);

// The mask bit of a sequence number: bit 15 for 0 down to bit 0 for 15.
[[nodiscard]] constexpr std::uint16_t sequenceBit(unsigned sequence) {
    return static_cast<std::uint16_t>(0x8000u >> (sequence & 0x0F));
}

struct DataPacket {
    bool acknowledged = false;
    Position position = Position::first;
    std::uint8_t sequence = 0;
    bool crcMatches = false;
    std::span<const std::uint8_t> payload;
};

// Nothing for a packet that is no well-formed data packet: a control header, fewer than five
// bytes, or a length byte of 0, above 148 or beyond the bytes that arrived. The payload views
// the bytes given.
[[nodiscard]] std::optional<DataPacket> parseDataPacket(std::span<const std::uint8_t> packet);

struct ControlPacket {
    Command command = Command::ack;
    std::uint8_t argument = 0;
    std::uint16_t mask = 0;
};

// Control packets carry no CRC, so the watch takes only the exact shape the phone builds:
// 22 bytes, zero padding, and a mask only in an acknowledgement. A corrupted data packet
// rarely passes for one.
[[nodiscard]] std::optional<ControlPacket> parseControlPacket(std::span<const std::uint8_t> packet);

[[nodiscard]] inline bool isControlPacket(std::span<const std::uint8_t> packet) {
    return !packet.empty() && (packet[0] & 0x80) != 0;
}

}  // namespace kavowatch
