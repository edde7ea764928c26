#include "platform/image/FileStructure.h"

#include <algorithm>

namespace platform::image {

namespace {

std::uint32_t bigEndian32(std::span<const std::uint8_t> d, std::size_t at) {
    return std::uint32_t{d[at]} << 24 | std::uint32_t{d[at + 1]} << 16 |
           std::uint32_t{d[at + 2]} << 8 | d[at + 3];
}

std::uint16_t bigEndian16(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] << 8 | d[at + 1]);
}

std::uint16_t littleEndian16(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | d[at + 1] << 8);
}

// Chunks of length, type, data and CRC from IHDR to IEND.
FileStructure walkPng(std::span<const std::uint8_t> d) {
    FileStructure s;
    std::size_t at = 8;
    bool first = true;
    while (at + 8 <= d.size()) {
        const std::uint32_t length = bigEndian32(d, at);
        if (length > 0x7FFFFFFFu) {
            return s;
        }
        const std::uint32_t type = bigEndian32(d, at + 4);
        if (first) {
            if (type != 0x49484452u || length < 8 || at + 16 > d.size()) {  // "IHDR"
                return s;
            }
            s.size = {
                static_cast<int>(std::min<std::uint32_t>(bigEndian32(d, at + 8), 0x7FFFFFFF)),
                static_cast<int>(std::min<std::uint32_t>(bigEndian32(d, at + 12), 0x7FFFFFFF))};
            first = false;
        }
        if (type == 0x49454E44u) {  // "IEND"
            s.complete = true;
            break;
        }
        at += std::size_t{12} + length;
    }
    s.valid = !first;
    return s;
}

// Segments up to each scan, entropy-coded data (where 0xFF is always followed by a stuffed 0
// or a restart marker) to the next marker, until EOI.
FileStructure walkJpeg(std::span<const std::uint8_t> d) {
    FileStructure s;
    std::size_t at = 2;
    while (at < d.size()) {
        if (d[at] != 0xFF) {
            return s;
        }
        while (at < d.size() && d[at] == 0xFF) {
            ++at;
        }
        if (at >= d.size()) {
            break;
        }
        const std::uint8_t marker = d[at++];
        if (marker == 0xD9) {
            s.complete = true;
            break;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            continue;
        }
        if (at + 2 > d.size()) {
            break;
        }
        const std::uint16_t length = bigEndian16(d, at);
        if (length < 2) {
            return s;
        }
        const bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame && at + 7 <= d.size()) {
            s.size = {bigEndian16(d, at + 5), bigEndian16(d, at + 3)};
        }
        at += length;
        if (marker == 0xDA) {
            while (at + 1 < d.size() &&
                   !(d[at] == 0xFF && d[at + 1] != 0 && (d[at + 1] < 0xD0 || d[at + 1] > 0xD7))) {
                ++at;
            }
            if (at + 1 >= d.size()) {
                break;
            }
        }
    }
    s.valid = true;
    return s;
}

// Sub-blocks of a length byte and that many bytes, ended by a zero length; false when cut.
bool skipSubBlocks(std::span<const std::uint8_t> d, std::size_t& at) {
    while (at < d.size()) {
        const std::uint8_t length = d[at++];
        if (length == 0) {
            return true;
        }
        at += length;
    }
    return false;
}

// Header, screen, colour table, then extensions and image blocks until the trailer.
FileStructure walkGif(std::span<const std::uint8_t> d) {
    FileStructure s;
    if (d.size() < 13) {
        return s;
    }
    s.size = {littleEndian16(d, 6), littleEndian16(d, 8)};
    std::size_t at = 13;
    if (d[10] & 0x80) {
        at += std::size_t{3} << ((d[10] & 0x07) + 1);
    }
    s.valid = true;
    std::optional<std::uint16_t> pendingDelay;
    while (at < d.size()) {
        const std::uint8_t block = d[at++];
        if (block == 0x3B) {
            s.complete = true;
            return s;
        }
        if (block == 0x21) {
            if (at >= d.size()) {
                return s;
            }
            const std::uint8_t label = d[at++];
            if (label == 0xF9 && at + 5 <= d.size() && d[at] >= 4) {
                pendingDelay = littleEndian16(d, at + 2);
            }
            if (!skipSubBlocks(d, at)) {
                return s;
            }
        } else if (block == 0x2C) {
            if (at + 9 > d.size()) {
                return s;
            }
            ++s.frames;
            s.delays.push_back(pendingDelay);
            pendingDelay.reset();
            if (littleEndian16(d, at + 4) == 0 || littleEndian16(d, at + 6) == 0) {
                s.emptyFrame = true;
            }
            const std::uint8_t flags = d[at + 8];
            at += 9;
            if (flags & 0x80) {
                at += std::size_t{3} << ((flags & 0x07) + 1);
            }
            ++at;  // LZW minimum code size
            if (!skipSubBlocks(d, at)) {
                return s;
            }
        } else {
            s.valid = false;
            return s;
        }
    }
    return s;
}

}  // namespace

FileStructure walkStructure(Format format, std::span<const std::uint8_t> data) {
    switch (format) {
        case Format::png:
            return walkPng(data);
        case Format::jpeg:
            return walkJpeg(data);
        case Format::gif:
            return walkGif(data);
        default:
            return {};
    }
}

}  // namespace platform::image
