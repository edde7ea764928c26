#pragma once

// Input pointers are const, as in the link's own coder.
#ifndef ZLIB_CONST
#define ZLIB_CONST
#endif
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace bench {

// Deflate (gzip-wrapped, default level) and inflate straight on zlib, with both streams and
// their output buffers kept from call to call: the floor that the link's coding is measured
// against.
class ZlibReference {
public:
    ZlibReference() {
        if (deflateInit2(&deflater_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK ||
            inflateInit2(&inflater_, 15 + 32) != Z_OK) {
            throw std::runtime_error("zlib streams");
        }
    }
    ~ZlibReference() {
        deflateEnd(&deflater_);
        inflateEnd(&inflater_);
    }
    ZlibReference(const ZlibReference&) = delete;
    ZlibReference& operator=(const ZlibReference&) = delete;

    std::span<const std::uint8_t> deflate(std::span<const std::uint8_t> data) {
        deflateReset(&deflater_);
        packed_.resize(deflateBound(&deflater_, static_cast<uLong>(data.size())));
        deflater_.next_in = data.data();
        deflater_.avail_in = static_cast<uInt>(data.size());
        deflater_.next_out = packed_.data();
        deflater_.avail_out = static_cast<uInt>(packed_.size());
        if (::deflate(&deflater_, Z_FINISH) != Z_STREAM_END) {
            throw std::runtime_error("deflate");
        }
        return {packed_.data(), packed_.size() - deflater_.avail_out};
    }

    // The original size must be known: the reference does not grow its buffer.
    std::span<const std::uint8_t> inflate(std::span<const std::uint8_t> packed,
                                          std::size_t originalSize) {
        inflateReset(&inflater_);
        unpacked_.resize(originalSize);
        inflater_.next_in = packed.data();
        inflater_.avail_in = static_cast<uInt>(packed.size());
        inflater_.next_out = unpacked_.data();
        inflater_.avail_out = static_cast<uInt>(unpacked_.size());
        if (::inflate(&inflater_, Z_FINISH) != Z_STREAM_END) {
            throw std::runtime_error("inflate");
        }
        return {unpacked_.data(), unpacked_.size() - inflater_.avail_out};
    }

private:
    z_stream deflater_{};
    z_stream inflater_{};
    std::vector<std::uint8_t> packed_;
    std::vector<std::uint8_t> unpacked_;
};

}  // namespace bench
