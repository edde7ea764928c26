#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/foundation/Value.h"

// One web-proxy frame (the bytes after the link's header byte): two fixed bytes, the frame
// type, the transaction identifier, the payload length (32 bits, big-endian), the payload.
struct TQWebProxyFrame {
    static constexpr std::size_t kHeaderSize = 8;
    static constexpr std::uint8_t kFixedByte = 0x01;
    static constexpr std::uint8_t kData = 0x02;
    static constexpr std::uint8_t kControl = 0x04;
    // The one-byte payloads of control frames.
    static constexpr std::uint8_t kCloseRequest = 1;
    static constexpr std::uint8_t kAcknowledgement = 2;

    std::uint8_t type = kData;
    std::uint8_t transactionId = 0;
    // Within the frame it was read from.
    std::span<const std::uint8_t> payload;

    // A frame from the watch, or why not: a header cut short, or a length beyond the bytes that
    // follow it. Bytes after the payload are not part of the frame.
    static std::optional<TQWebProxyFrame> read(std::span<const std::uint8_t> bytes,
                                               std::string& whyNot);

    // A data frame to the watch.
    static platform::Bytes makeSuccessAPDUPacket(std::span<const std::uint8_t> payload,
                                                 std::uint8_t transactionId);
    // The close (or error) frame to the watch: a control frame with the payload 0x01.
    static platform::Bytes makeErrorAPDUPacket(std::uint8_t transactionId);
    // Frames from the watch, for the simulated watch and tests.
    static platform::Bytes make(std::uint8_t type, std::uint8_t transactionId,
                                std::span<const std::uint8_t> payload);
};
