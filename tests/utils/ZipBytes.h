#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zip_test {

// One entry of a zip archive as its bytes will say, true or not.
struct ZipEntrySpec {
    std::string name;
    std::string stored;  // the bytes in the archive, after compression
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t dosDate =
        (44U << 25) | (6U << 21) | (15U << 16) | (12U << 11);  // 2024-06-15 12:00
    std::uint16_t versionMadeBy = (3U << 8) | 20U;             // Unix
};

// Writes zip archives byte by byte, so that tests can say anything a hostile archive might.
class ZipBytes {
public:
    static ZipEntrySpec storedEntry(std::string name, std::string_view content,
                                    std::uint32_t mode = 0100644) {
        ZipEntrySpec entry;
        entry.name = std::move(name);
        entry.stored = std::string(content);
        entry.crc = crcOf(content);
        entry.uncompressedSize = static_cast<std::uint32_t>(content.size());
        entry.externalAttributes = mode << 16;
        return entry;
    }

    // Raw deflate of count copies of content.
    static ZipEntrySpec deflatedEntry(std::string name, std::string_view content,
                                      std::size_t count = 1) {
        ZipEntrySpec entry;
        entry.name = std::move(name);
        entry.method = 8;
        z_stream stream{};
        deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        std::vector<unsigned char> out(1 << 16);
        uLong crc = crc32(0, nullptr, 0);
        for (std::size_t i = 0; i < count; ++i) {
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
            stream.avail_in = static_cast<uInt>(content.size());
            crc = crc32(crc, stream.next_in, stream.avail_in);
            const int flush = i + 1 == count ? Z_FINISH : Z_NO_FLUSH;
            int status = Z_OK;
            do {
                stream.next_out = out.data();
                stream.avail_out = static_cast<uInt>(out.size());
                status = deflate(&stream, flush);
                entry.stored.append(reinterpret_cast<char*>(out.data()),
                                    out.size() - stream.avail_out);
            } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
        }
        deflateEnd(&stream);
        entry.crc = static_cast<std::uint32_t>(crc);
        entry.uncompressedSize = static_cast<std::uint32_t>(content.size() * count);
        entry.externalAttributes = 0100644U << 16;
        return entry;
    }

    // A deflated entry of mebibytes zeros, small in the archive: one compressed mebibyte
    // repeated (each ends on a full flush, so the copies stand alone), then a final empty
    // block. It declares declaredSize, whatever it inflates to.
    static ZipEntrySpec zeroBombEntry(std::string name, std::size_t mebibytes,
                                      std::uint32_t declaredSize) {
        z_stream stream{};
        deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        std::vector<unsigned char> zeros(1 << 20, 0);
        std::vector<unsigned char> out(1 << 16);
        stream.next_in = zeros.data();
        stream.avail_in = static_cast<uInt>(zeros.size());
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, Z_FULL_FLUSH);
        const std::string block(reinterpret_cast<char*>(out.data()), out.size() - stream.avail_out);
        deflateEnd(&stream);

        ZipEntrySpec entry;
        entry.name = std::move(name);
        entry.method = 8;
        entry.stored.reserve(block.size() * mebibytes + 2);
        for (std::size_t i = 0; i < mebibytes; ++i) {
            entry.stored += block;
        }
        entry.stored += std::string("\x03\x00", 2);  // a final, empty fixed-code block
        entry.uncompressedSize = declaredSize;
        entry.externalAttributes = 0100644U << 16;
        return entry;
    }

    ZipBytes& add(ZipEntrySpec entry) {
        entries_.push_back(std::move(entry));
        return *this;
    }

    [[nodiscard]] std::string bytes() const {
        std::string out;
        std::string directory;
        for (const auto& entry : entries_) {
            const auto offset = static_cast<std::uint32_t>(out.size());
            put32(out, 0x04034b50);
            put16(out, 20);
            put16(out, 0);
            put16(out, entry.method);
            put32(out, entry.dosDate);
            put32(out, entry.crc);
            put32(out, static_cast<std::uint32_t>(entry.stored.size()));
            put32(out, entry.uncompressedSize);
            put16(out, static_cast<std::uint16_t>(entry.name.size()));
            put16(out, 0);
            out += entry.name;
            out += entry.stored;

            put32(directory, 0x02014b50);
            put16(directory, entry.versionMadeBy);
            put16(directory, 20);
            put16(directory, 0);
            put16(directory, entry.method);
            put32(directory, entry.dosDate);
            put32(directory, entry.crc);
            put32(directory, static_cast<std::uint32_t>(entry.stored.size()));
            put32(directory, entry.uncompressedSize);
            put16(directory, static_cast<std::uint16_t>(entry.name.size()));
            put16(directory, 0);
            put16(directory, 0);
            put16(directory, 0);
            put16(directory, 0);
            put32(directory, entry.externalAttributes);
            put32(directory, offset);
            directory += entry.name;
        }
        const auto directoryOffset = static_cast<std::uint32_t>(out.size());
        out += directory;
        put32(out, 0x06054b50);
        put16(out, 0);
        put16(out, 0);
        put16(out, static_cast<std::uint16_t>(entries_.size()));
        put16(out, static_cast<std::uint16_t>(entries_.size()));
        put32(out, static_cast<std::uint32_t>(directory.size()));
        put32(out, directoryOffset);
        put16(out, 0);
        return out;
    }

    static std::uint32_t crcOf(std::string_view content) {
        return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                                static_cast<uInt>(content.size())));
    }

private:
    static void put16(std::string& out, std::uint16_t value) {
        out += static_cast<char>(value & 0xFF);
        out += static_cast<char>(value >> 8);
    }
    static void put32(std::string& out, std::uint32_t value) {
        put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
        put16(out, static_cast<std::uint16_t>(value >> 16));
    }

    std::vector<ZipEntrySpec> entries_;
};

}  // namespace zip_test
