#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform::bluetooth {

// A Bluetooth UUID. Every UUID is kept as its 128 bits; one derived from the Bluetooth base UUID
// (0000xxxx-0000-1000-8000-00805F9B34FB) is "short" and travels and prints as 16 bits, so
// "2902" and its long form compare equal.
class Uuid {
public:
    constexpr Uuid() = default;
    static Uuid fromShort(std::uint16_t value);
    // Bytes in text order (most significant first).
    static Uuid fromBytes(const std::array<std::uint8_t, 16>& bytes);
    // "2902" or "9A3F68E0-86CE-11E5-A309-0002A5D5C51B", any case.
    static std::optional<Uuid> parse(std::string_view text);
    // The on-air form: 2 or 16 bytes, least significant first.
    static std::optional<Uuid> fromLittleEndian(std::span<const std::uint8_t> bytes);
    // A version-4 UUID drawn from the generator, for identifiers that must be repeatable.
    static Uuid random(std::mt19937_64& generator);

    [[nodiscard]] bool isShort() const;
    [[nodiscard]] std::optional<std::uint16_t> shortValue() const;
    // Upper-case; four digits when short.
    [[nodiscard]] std::string toString() const;
    // The 36-character form even when short, for names that must have one shape.
    [[nodiscard]] std::string toLongString() const;
    [[nodiscard]] Bytes littleEndian() const;
    [[nodiscard]] const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace platform::bluetooth
