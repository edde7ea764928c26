#pragma once

#include <cstdint>

// What a control packet is made of; only the low 2 bits of command and the low 4 bits of
// payload reach the wire.
struct TQControlModel {
    std::uint32_t command = 0;
    std::uint32_t payload = 0;
};
