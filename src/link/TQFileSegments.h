#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

// The segments of a file conversation, as the bytes after the link's header byte. Numbers are
// little-endian. Every reader is bounded by the bytes that arrived.
namespace file_segment {

enum Code : std::uint8_t {
    kInfo = 0x00,
    kAccept = 0x01,
    kCancel = 0x02,
    kReject = 0x04,
    kAck = 0x08,
    kNak = 0x09,
    kResumeReject = 0x0C,
    kResumeAccept = 0x0E,
    kResumeRequest = 0x0F,
};

// The first byte of a data segment.
enum Position : std::uint8_t {
    kFirst = 0x10,
    kOnly = 0x20,
    kMiddle = 0x40,
    kLast = 0x80,
};

inline constexpr std::size_t kMaxSegmentData = 5120;
inline constexpr std::size_t kAnnouncementSize = 147;
inline constexpr std::size_t kNameOffset = 5;
// The name and the NUL bytes after it.
inline constexpr std::size_t kNameField = kAnnouncementSize - kNameOffset;
inline constexpr std::size_t kDataHeaderSize = 3;
inline constexpr std::size_t kCrcSize = 2;
// 0xFFFF in a resume acceptance: nothing was accepted yet.
inline constexpr std::uint16_t kNothingAccepted = 0xFFFF;

[[nodiscard]] bool isDataSegment(std::span<const std::uint8_t> segment);

// Pieces of kMaxSegmentData for size bytes: one more than the whole pieces, so a file whose
// size is a multiple of the piece ends with an empty one and an empty file is one empty piece.
[[nodiscard]] std::uint64_t pieceCount(std::uint64_t size);
// Pieces the receiver expects for an announced size: rounded up, in 16 bits.
[[nodiscard]] std::uint16_t announcedCount(std::uint32_t size);
[[nodiscard]] Position positionFor(std::uint64_t index, std::uint64_t count);
// Piece index of data, cut on demand.
[[nodiscard]] std::span<const std::uint8_t> piece(std::span<const std::uint8_t> data,
                                                  std::uint64_t index);

// A one-byte control segment.
[[nodiscard]] platform::Bytes control(Code code);
// FILE_INFO or FILE_RESUME_REQUEST; the name is cut, at a character boundary, to leave room
// for its NUL.
[[nodiscard]] platform::Bytes announcement(Code code, std::string_view name, std::uint32_t size);
[[nodiscard]] platform::Bytes resumeAccept(std::uint16_t lastAccepted);
// Position, sequence, data and the CRC-16 of all three, low byte first.
[[nodiscard]] platform::Bytes dataSegment(Position position, std::uint16_t sequence,
                                          std::span<const std::uint8_t> data);

struct Announcement {
    std::uint32_t size = 0;
    std::string name;
};
// Size and the name up to its first NUL or the field's end; nothing when the size is cut off.
[[nodiscard]] std::optional<Announcement> readAnnouncement(std::span<const std::uint8_t> segment);

struct Data {
    Position position = kOnly;
    std::uint16_t sequence = 0;
    // Bytes 3 to the end, as the watch sends them.
    std::span<const std::uint8_t> content;
};
// Nothing for a segment shorter than its header or whose first byte is no position.
[[nodiscard]] std::optional<Data> readData(std::span<const std::uint8_t> segment);
[[nodiscard]] std::optional<std::uint16_t> readResumeAccept(std::span<const std::uint8_t> segment);

}  // namespace file_segment
