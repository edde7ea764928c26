#include "link/TQFileSegments.h"

#include <algorithm>

#include "link/TQCrc16.h"

namespace file_segment {

namespace {

void putLittle16(platform::Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint16_t little16(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// The longest prefix of at most limit bytes that does not split a UTF-8 character.
std::size_t cutAtCharacter(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text.size();
    }
    std::size_t length = limit;
    while (length > 0 && (static_cast<std::uint8_t>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    return length;
}

}  // namespace

bool isDataSegment(std::span<const std::uint8_t> segment) {
    if (segment.empty()) {
        return false;
    }
    const std::uint8_t first = segment[0];
    return first == kFirst || first == kOnly || first == kMiddle || first == kLast;
}

std::uint64_t pieceCount(std::uint64_t size) {
    return size / kMaxSegmentData + 1;
}

std::uint16_t announcedCount(std::uint32_t size) {
    return static_cast<std::uint16_t>((std::uint64_t{size} + kMaxSegmentData - 1) /
                                      kMaxSegmentData);
}

Position positionFor(std::uint64_t index, std::uint64_t count) {
    if (count == 1) {
        return kOnly;
    }
    if (index == 0) {
        return kFirst;
    }
    return index + 1 == count ? kLast : kMiddle;
}

std::span<const std::uint8_t> piece(std::span<const std::uint8_t> data, std::uint64_t index) {
    const std::uint64_t start = std::min<std::uint64_t>(index * kMaxSegmentData, data.size());
    const std::uint64_t length = std::min<std::uint64_t>(kMaxSegmentData, data.size() - start);
    return data.subspan(start, length);
}

platform::Bytes control(Code code) {
    return {code};
}

platform::Bytes announcement(Code code, std::string_view name, std::uint32_t size) {
    platform::Bytes segment(kAnnouncementSize, 0);
    segment[0] = code;
    for (int i = 0; i < 4; ++i) {
        segment[1 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    }
    const std::size_t length = cutAtCharacter(name, kNameField - 1);
    std::copy_n(name.begin(), length, segment.begin() + kNameOffset);
    return segment;
}

platform::Bytes resumeAccept(std::uint16_t lastAccepted) {
    platform::Bytes segment{kResumeAccept};
    putLittle16(segment, lastAccepted);
    return segment;
}

platform::Bytes dataSegment(Position position, std::uint16_t sequence,
                            std::span<const std::uint8_t> data) {
    platform::Bytes segment;
    segment.reserve(kDataHeaderSize + data.size() + kCrcSize);
    segment.push_back(position);
    putLittle16(segment, sequence);
    segment.insert(segment.end(), data.begin(), data.end());
    putLittle16(segment, crc16(segment));
    return segment;
}

std::optional<Announcement> readAnnouncement(std::span<const std::uint8_t> segment) {
    if (segment.size() < kNameOffset) {
        return std::nullopt;
    }
    Announcement read;
    for (int i = 0; i < 4; ++i) {
        read.size |= std::uint32_t{segment[1 + i]} << (8 * i);
    }
    const auto field =
        segment.subspan(kNameOffset, std::min(kNameField, segment.size() - kNameOffset));
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    read.name.assign(field.begin(), end);
    return read;
}

std::optional<Data> readData(std::span<const std::uint8_t> segment) {
    if (segment.size() < kDataHeaderSize || !isDataSegment(segment)) {
        return std::nullopt;
    }
    return Data{static_cast<Position>(segment[0]), little16(segment.subspan(1)),
                segment.subspan(kDataHeaderSize)};
}

std::optional<std::uint16_t> readResumeAccept(std::span<const std::uint8_t> segment) {
    if (segment.size() < 3 || segment[0] != kResumeAccept) {
        return std::nullopt;
    }
    return little16(segment.subspan(1));
}

}  // namespace file_segment
