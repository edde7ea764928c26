#include "utils/DataCompression.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "utils/ZlibBuffer.h"

namespace compression {

namespace {

constexpr int kGzipWindowBits = 15 + 16;
constexpr int kDetectWrapperWindowBits = 15 + 32;
constexpr int kMemoryLevel = 8;
constexpr std::size_t kDeflateGrowth = 16384;

}  // namespace

std::optional<Bytes> dataDeflate(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return Bytes();
    }
    if (!zlib_buffer::fits(data.size())) {
        return std::nullopt;
    }
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return std::nullopt;
    }
    stream.next_in = data.data();
    stream.avail_in = static_cast<uInt>(data.size());
    Bytes out(kDeflateGrowth);
    std::size_t produced = 0;
    int status = Z_OK;
    do {
        if (produced == out.size()) {
            zlib_buffer::grow(out, kDeflateGrowth, out.max_size());
        }
        const uInt room = zlib_buffer::roomAfter(out, produced);
        stream.next_out = out.data() + produced;
        stream.avail_out = room;
        status = deflate(&stream, Z_FINISH);
        produced += room - stream.avail_out;
    } while (status == Z_OK);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        return std::nullopt;
    }
    out.resize(produced);
    return out;
}

std::optional<Bytes> dataInflate(std::span<const std::uint8_t> data, std::size_t maxOutput) {
    auto result = inflateLinkMessage(data, maxOutput);
    if (auto* bytes = std::get_if<Bytes>(&result)) {
        return std::move(*bytes);
    }
    return std::nullopt;
}

std::variant<Bytes, InflateFailure> inflateLinkMessage(std::span<const std::uint8_t> data,
                                                       std::size_t maxOutput) {
    if (data.empty()) {
        return Bytes();
    }
    if (!zlib_buffer::fits(data.size())) {
        return InflateFailure::tooLarge;
    }
    z_stream stream{};
    stream.next_in = data.data();
    stream.avail_in = static_cast<uInt>(data.size());
    if (inflateInit2(&stream, kDetectWrapperWindowBits) != Z_OK) {
        return InflateFailure::damaged;
    }
    // Half the input, but never nothing: a one-byte input would otherwise never grow.
    const std::size_t step = std::max<std::size_t>(data.size() / 2, 1);
    Bytes out(std::min(data.size() + data.size() / 2, maxOutput));
    std::size_t produced = 0;
    std::uint8_t nowhere = 0;  // zlib wants a valid pointer even when there is no room
    int status = Z_OK;
    do {
        if (produced == out.size()) {
            zlib_buffer::grow(out, step, maxOutput);
        }
        // With no room left under the bound, zlib can still finish the trailer; anything that
        // needs output fails as making no progress.
        const uInt room = zlib_buffer::roomAfter(out, produced);
        stream.next_out = room > 0 ? out.data() + produced : &nowhere;
        stream.avail_out = room;
        status = inflate(&stream, Z_SYNC_FLUSH);
        produced += room - stream.avail_out;
    } while (status == Z_OK);
    const bool ended = inflateEnd(&stream) == Z_OK && status == Z_STREAM_END;
    if (!ended) {
        if (status != Z_BUF_ERROR) {
            return InflateFailure::damaged;
        }
        // No progress: either the bound left no room or the input ran out first.
        return produced == maxOutput ? InflateFailure::tooLarge : InflateFailure::truncated;
    }
    out.resize(produced);
    return out;
}

}  // namespace compression
