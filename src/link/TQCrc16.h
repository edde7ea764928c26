#pragma once

#include <cstdint>
#include <span>

// CRC-16/ARC: reflected polynomial 0xA001, no final exclusive-or. The link's packets and file
// segments both carry it; every caller starts from 0, and a running value can be passed back
// in to continue over a following block.
[[nodiscard]] std::uint16_t crc16(std::span<const std::uint8_t> data, std::uint16_t start = 0);
