#include "platform/bluetooth/Uuid.h"

#include <algorithm>

#include "platform/foundation/Text.h"

namespace platform::bluetooth {

namespace {

constexpr std::array<std::uint8_t, 16> kBase = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

// Reads pairs of hex digits into out; false at the first character that is not one.
bool readHex(std::string_view text, std::span<std::uint8_t> out) {
    if (text.size() != out.size() * 2) {
        return false;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = hexDigitValue(text[2 * i]);
        const int low = hexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return true;
}

void appendHex(std::string& out, std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::uint8_t byte : bytes) {
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 0x0F]);
    }
}

}  // namespace

Uuid Uuid::fromShort(std::uint16_t value) {
    Uuid uuid;
    uuid.bytes_ = kBase;
    uuid.bytes_[2] = static_cast<std::uint8_t>(value >> 8);
    uuid.bytes_[3] = static_cast<std::uint8_t>(value & 0xFF);
    return uuid;
}

Uuid Uuid::fromBytes(const std::array<std::uint8_t, 16>& bytes) {
    Uuid uuid;
    uuid.bytes_ = bytes;
    return uuid;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() == 4) {
        std::array<std::uint8_t, 2> value{};
        if (!readHex(text, value)) {
            return std::nullopt;
        }
        return fromShort(static_cast<std::uint16_t>(value[0] << 8 | value[1]));
    }
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-') {
        return std::nullopt;
    }
    Uuid uuid;
    std::span<std::uint8_t> out(uuid.bytes_);
    if (!readHex(text.substr(0, 8), out.subspan(0, 4)) ||
        !readHex(text.substr(9, 4), out.subspan(4, 2)) ||
        !readHex(text.substr(14, 4), out.subspan(6, 2)) ||
        !readHex(text.substr(19, 4), out.subspan(8, 2)) ||
        !readHex(text.substr(24, 12), out.subspan(10, 6))) {
        return std::nullopt;
    }
    return uuid;
}

std::optional<Uuid> Uuid::fromLittleEndian(std::span<const std::uint8_t> bytes) {
    if (bytes.size() == 2) {
        return fromShort(static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8));
    }
    if (bytes.size() != 16) {
        return std::nullopt;
    }
    Uuid uuid;
    std::reverse_copy(bytes.begin(), bytes.end(), uuid.bytes_.begin());
    return uuid;
}

Uuid Uuid::random(std::mt19937_64& generator) {
    Uuid uuid;
    for (std::size_t i = 0; i < uuid.bytes_.size(); i += 8) {
        std::uint64_t word = generator();
        for (std::size_t j = 0; j < 8; ++j) {
            uuid.bytes_[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    uuid.bytes_[6] = static_cast<std::uint8_t>((uuid.bytes_[6] & 0x0F) | 0x40);
    uuid.bytes_[8] = static_cast<std::uint8_t>((uuid.bytes_[8] & 0x3F) | 0x80);
    return uuid;
}

bool Uuid::isShort() const {
    return bytes_[0] == 0 && bytes_[1] == 0 &&
           std::equal(bytes_.begin() + 4, bytes_.end(), kBase.begin() + 4);
}

std::optional<std::uint16_t> Uuid::shortValue() const {
    if (!isShort()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(bytes_[2] << 8 | bytes_[3]);
}

std::string Uuid::toString() const {
    if (isShort()) {
        std::string out;
        appendHex(out, std::span(bytes_).subspan(2, 2));
        return out;
    }
    return toLongString();
}

std::string Uuid::toLongString() const {
    std::string out;
    out.reserve(36);
    const std::span<const std::uint8_t> all(bytes_);
    appendHex(out, all.subspan(0, 4));
    out.push_back('-');
    appendHex(out, all.subspan(4, 2));
    out.push_back('-');
    appendHex(out, all.subspan(6, 2));
    out.push_back('-');
    appendHex(out, all.subspan(8, 2));
    out.push_back('-');
    appendHex(out, all.subspan(10, 6));
    return out;
}

Bytes Uuid::littleEndian() const {
    if (isShort()) {
        return {bytes_[3], bytes_[2]};
    }
    return Bytes(bytes_.rbegin(), bytes_.rend());
}

}  // namespace platform::bluetooth
