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
// Output buffers up to this size stay with their thread for the next message; a larger one,
// left by a rare large message, is given back.
constexpr std::size_t kKeptOutput = 1 << 20;

// One zlib stream per thread, set up on first use and reset for every message: setting one up
// anew takes about 256 KB for deflate, which the allocator hands back to the system after each
// message and must fault in again the next time, costing more than coding a typical message.
template <int (*reset)(z_streamp), int (*end)(z_streamp)>
class KeptStream {
public:
    KeptStream() = default;
    KeptStream(const KeptStream&) = delete;
    KeptStream& operator=(const KeptStream&) = delete;
    ~KeptStream() {
        if (ready_) {
            end(&stream_);
        }
    }

    // The stream ready for a new message, or null when zlib could not set one up.
    template <typename Init>
    z_stream* acquire(Init init) {
        if (ready_) {
            if (reset(&stream_) == Z_OK) {
                return &stream_;
            }
            end(&stream_);
            ready_ = false;
        }
        stream_ = z_stream{};
        ready_ = init(&stream_) == Z_OK;
        return ready_ ? &stream_ : nullptr;
    }

private:
    z_stream stream_{};
    bool ready_ = false;
};

z_stream* deflater() {
    thread_local KeptStream<deflateReset, deflateEnd> kept;
    return kept.acquire([](z_streamp stream) {
        return deflateInit2(stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits,
                            kMemoryLevel, Z_DEFAULT_STRATEGY);
    });
}

z_stream* inflater() {
    thread_local KeptStream<inflateReset, inflateEnd> kept;
    return kept.acquire(
        [](z_streamp stream) { return inflateInit2(stream, kDetectWrapperWindowBits); });
}

// The thread's output buffer: its size only grows (while kept), so it is not cleared again
// for every message, and each result is copied out at its exact size.
class KeptOutput {
public:
    KeptOutput() : buffer_(scratch()) {}
    ~KeptOutput() {
        if (buffer_.size() > kKeptOutput) {
            Bytes().swap(buffer_);
        }
    }
    KeptOutput(const KeptOutput&) = delete;
    KeptOutput& operator=(const KeptOutput&) = delete;

    Bytes& buffer() { return buffer_; }
    [[nodiscard]] Bytes copy(std::size_t produced) const {
        return Bytes(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(produced));
    }

private:
    static Bytes& scratch() {
        thread_local Bytes kept;
        return kept;
    }

    Bytes& buffer_;
};

}  // namespace

std::optional<Bytes> dataDeflate(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return Bytes();
    }
    if (!zlib_buffer::fits(data.size())) {
        return std::nullopt;
    }
    z_stream* stream = deflater();
    if (stream == nullptr) {
        return std::nullopt;
    }
    stream->next_in = data.data();
    stream->avail_in = static_cast<uInt>(data.size());
    KeptOutput output;
    Bytes& out = output.buffer();
    // Room for the whole stream at once in all but pathological cases.
    const std::size_t bound = deflateBound(stream, static_cast<uLong>(data.size()));
    if (out.size() < bound) {
        out.resize(bound);
    }
    std::size_t produced = 0;
    int status = Z_OK;
    do {
        if (produced == out.size()) {
            zlib_buffer::grow(out, kDeflateGrowth, out.max_size());
        }
        const uInt room = zlib_buffer::roomBefore(out.size(), produced);
        stream->next_out = out.data() + produced;
        stream->avail_out = room;
        status = deflate(stream, Z_FINISH);
        produced += room - stream->avail_out;
    } while (status == Z_OK);
    if (status != Z_STREAM_END) {
        return std::nullopt;
    }
    return output.copy(produced);
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
    z_stream* stream = inflater();
    if (stream == nullptr) {
        return InflateFailure::damaged;
    }
    stream->next_in = data.data();
    stream->avail_in = static_cast<uInt>(data.size());
    // Half the input, but never nothing: a one-byte input would otherwise never grow.
    const std::size_t step = std::max<std::size_t>(data.size() / 2, 1);
    KeptOutput output;
    Bytes& out = output.buffer();
    const std::size_t first = std::min(data.size() + data.size() / 2, maxOutput);
    if (out.size() < first) {
        out.resize(first);
    }
    // The kept buffer may be larger than this message's bound; only its start is used then.
    std::size_t limit = std::min(out.size(), maxOutput);
    std::size_t produced = 0;
    std::uint8_t nowhere = 0;  // zlib wants a valid pointer even when there is no room
    int status = Z_OK;
    do {
        if (produced == limit && limit < maxOutput) {
            zlib_buffer::grow(out, step, maxOutput);
            limit = out.size();
        }
        // With no room left under the bound, zlib can still finish the trailer; anything that
        // needs output fails as making no progress.
        const uInt room = zlib_buffer::roomBefore(limit, produced);
        stream->next_out = room > 0 ? out.data() + produced : &nowhere;
        stream->avail_out = room;
        status = inflate(stream, Z_SYNC_FLUSH);
        produced += room - stream->avail_out;
    } while (status == Z_OK);
    if (status != Z_STREAM_END) {
        if (status != Z_BUF_ERROR) {
            return InflateFailure::damaged;
        }
        // No progress: either the bound left no room or the input ran out first.
        return produced == maxOutput ? InflateFailure::tooLarge : InflateFailure::truncated;
    }
    return output.copy(produced);
}

}  // namespace compression
