#include "sim/WireFormat.h"

#include <algorithm>

namespace kavowatch {

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    // Bit by bit rather than by table: the watch's side stays small and obviously right.
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::vector<Bytes> packetise(std::span<const std::uint8_t> payload, bool acknowledged) {
    std::vector<Bytes> packets;
    const std::size_t count = (payload.size() + kMaxPayload - 1) / kMaxPayload;
    for (std::size_t index = 0; index < count; ++index) {
        const auto chunk = payload.subspan(
            index * kMaxPayload, std::min(kMaxPayload, payload.size() - index * kMaxPayload));
        Position position = Position::middle;
        if (count == 1) {
            position = Position::only;
        } else if (index == 0) {
            position = Position::first;
        } else if (index + 1 == count) {
            position = Position::last;
        }
        const std::uint16_t crc = crc16(chunk);
        Bytes packet;
        packet.reserve(kPacketHeaderSize + chunk.size());
        packet.push_back(static_cast<std::uint8_t>((acknowledged ? 0x40 : 0x00) |
                                                   static_cast<std::uint8_t>(position) << 4));
        packet.push_back(static_cast<std::uint8_t>(chunk.size()));
        packet.push_back(static_cast<std::uint8_t>(crc >> 8));
        packet.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        packet.insert(packet.end(), chunk.begin(), chunk.end());
        packets.push_back(std::move(packet));
    }
    return packets;
}

Bytes controlPacket(Command command, std::uint8_t argument) {
    Bytes packet(kControlPacketSize, 0);
    packet[0] = static_cast<std::uint8_t>(0x80 | static_cast<std::uint8_t>(command) << 4 |
                                          (argument & 0x0F));
    return packet;
}

Bytes ackPacket(std::uint16_t mask) {
    Bytes packet = controlPacket(Command::ack);
    packet[1] = static_cast<std::uint8_t>(mask >> 8);
    packet[2] = static_cast<std::uint8_t>(mask & 0xFF);
    return packet;
}

std::optional<DataPacket> parseDataPacket(std::span<const std::uint8_t> packet) {
    if (packet.size() <= kPacketHeaderSize || isControlPacket(packet)) {
        return std::nullopt;
    }
    const std::size_t length = packet[1];
    if (length == 0 || length > kMaxPayload || length > packet.size() - kPacketHeaderSize) {
        return std::nullopt;
    }
    DataPacket parsed;
    parsed.acknowledged = (packet[0] & 0x40) != 0;
    parsed.position = static_cast<Position>((packet[0] >> 4) & 0x03);
    parsed.sequence = packet[0] & 0x0F;
    parsed.payload = packet.subspan(kPacketHeaderSize, length);
    const std::uint16_t sent = static_cast<std::uint16_t>(packet[2] << 8 | packet[3]);
    parsed.crcMatches = crc16(parsed.payload) == sent;
    return parsed;
}

std::optional<ControlPacket> parseControlPacket(std::span<const std::uint8_t> packet) {
    if (packet.size() != kControlPacketSize || !isControlPacket(packet)) {
        return std::nullopt;
    }
    ControlPacket parsed;
    parsed.command = static_cast<Command>((packet[0] >> 4) & 0x03);
    parsed.argument = packet[0] & 0x0F;
    const std::size_t padding = parsed.command == Command::ack ? 3 : 1;
    if (!std::all_of(packet.begin() + static_cast<std::ptrdiff_t>(padding), packet.end(),
                     [](std::uint8_t byte) { return byte == 0; })) {
        return std::nullopt;
    }
    if (parsed.command == Command::ack) {
        if (parsed.argument != 0) {
            return std::nullopt;
        }
        parsed.mask = static_cast<std::uint16_t>(packet[1] << 8 | packet[2]);
    }
    return parsed;
}

}  // namespace kavowatch
