#include "platform/foundation/KeyHash.h"

#include <bit>
#include <cstring>
#include <random>

namespace platform {

namespace {

struct HashKey {
    std::uint64_t k0;
    std::uint64_t k1;
};

HashKey drawKey() {
    std::random_device device;
    const auto word = [&device] {
        return (std::uint64_t{device()} << 32) ^ std::uint64_t{device()};
    };
    const std::uint64_t k0 = word();
    return HashKey{k0, word()};
}

class SipState {
public:
    explicit SipState(const HashKey& key)
        : v0_(key.k0 ^ 0x736f6d6570736575ULL),
          v1_(key.k1 ^ 0x646f72616e646f6dULL),
          v2_(key.k0 ^ 0x6c7967656e657261ULL),
          v3_(key.k1 ^ 0x7465646279746573ULL) {}

    void absorb(std::uint64_t word) {
        v3_ ^= word;
        round();
        v0_ ^= word;
    }

    std::uint64_t finish() {
        v2_ ^= 0xFF;
        round();
        round();
        round();
        return v0_ ^ v1_ ^ v2_ ^ v3_;
    }

private:
    void round() {
        v0_ += v1_;
        v1_ = std::rotl(v1_, 13);
        v1_ ^= v0_;
        v0_ = std::rotl(v0_, 32);
        v2_ += v3_;
        v3_ = std::rotl(v3_, 16);
        v3_ ^= v2_;
        v0_ += v3_;
        v3_ = std::rotl(v3_, 21);
        v3_ ^= v0_;
        v2_ += v1_;
        v1_ = std::rotl(v1_, 17);
        v1_ ^= v2_;
        v2_ = std::rotl(v2_, 32);
    }

    std::uint64_t v0_;
    std::uint64_t v1_;
    std::uint64_t v2_;
    std::uint64_t v3_;
};

std::uint64_t littleEndianWord(const char* bytes, std::size_t count) {
    std::uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, bytes, count);
        return word;
    }
    for (std::size_t i = 0; i < count; ++i) {
        word |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    }
    return word;
}

}  // namespace

// SipHash-1-3: a fast keyed hash made for tables filled from untrusted input.
std::uint64_t keyedHash(std::string_view text) {
    static const HashKey key = drawKey();
    SipState state(key);
    const std::size_t whole = text.size() / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8) {
        state.absorb(littleEndianWord(text.data() + i, 8));
    }
    const std::uint64_t last = littleEndianWord(text.data() + whole, text.size() - whole) |
                               (std::uint64_t{text.size() & 0xFF} << 56);
    state.absorb(last);
    return state.finish();
}

}  // namespace platform
