#include "sim/Compression.h"

#include <zlib.h>

#include <limits>

namespace kavowatch {

namespace {

bool looksCompressed(std::span<const std::uint8_t> payload) {
    if (payload.size() < 2) {
        return false;
    }
    if (payload[0] == 0x1F && payload[1] == 0x8B) {
        return true;
    }
    const unsigned header = static_cast<unsigned>(payload[0]) << 8 | payload[1];
    return (payload[0] & 0x0F) == 8 && (payload[0] >> 4) <= 7 && header % 31 == 0;
}

// zlib counts in uInt and does not take const input; it never writes through next_in.
bool fitsZlib(std::size_t size) {
    return size <= std::numeric_limits<uInt>::max();
}

Bytef* input(std::span<const std::uint8_t> bytes) {
    return const_cast<Bytef*>(bytes.data());
}

}  // namespace

Bytes compressMessage(std::span<const std::uint8_t> message) {
    z_stream stream{};
    if (message.empty() || !fitsZlib(message.size()) ||
        deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) {
        return {};
    }
    Bytes out(deflateBound(&stream, static_cast<uLong>(message.size())));
    stream.next_in = input(message);
    stream.avail_in = static_cast<uInt>(message.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return status == Z_STREAM_END ? out : Bytes{};
}

Inflated inflateMessage(std::span<const std::uint8_t> payload, std::size_t maxOutput) {
    Inflated result;
    if (!looksCompressed(payload)) {
        result.status = Inflated::Status::notCompressed;
        result.data.assign(payload.begin(), payload.end());
        return result;
    }
    z_stream stream{};
    // 15 + 32: zlib or gzip, told apart by the header.
    if (!fitsZlib(payload.size()) || inflateInit2(&stream, 15 + 32) != Z_OK) {
        return result;
    }
    stream.next_in = input(payload);
    stream.avail_in = static_cast<uInt>(payload.size());
    Bytes out;
    std::uint8_t buffer[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = sizeof buffer - stream.avail_out;
        if (out.size() + produced > maxOutput) {
            status = Z_MEM_ERROR;
            break;
        }
        out.insert(out.end(), buffer, buffer + produced);
        if (status == Z_OK && produced == 0) {
            break;  // the input ended before the stream did
        }
    }
    inflateEnd(&stream);
    if (status == Z_STREAM_END) {
        result.status = Inflated::Status::inflated;
        result.data = std::move(out);
    }
    return result;
}

}  // namespace kavowatch
