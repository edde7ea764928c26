#include "link/TQCrc16.h"

#include <array>

namespace {

constexpr std::array<std::uint16_t, 256> makeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < table.size(); ++byte) {
        unsigned value = byte;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1U) != 0 ? (value >> 1) ^ 0xA001U : value >> 1;
        }
        table[byte] = static_cast<std::uint16_t>(value);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kTable = makeTable();

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> data, std::uint16_t start) {
    unsigned crc = start;
    for (const std::uint8_t byte : data) {
        crc = kTable[(crc ^ byte) & 0xFFU] ^ (crc >> 8);
    }
    return static_cast<std::uint16_t>(crc);
}
