#pragma once

#include <cstdint>

#include "platform/foundation/Value.h"

// One whole link message on its way down to the packet protocol or up from it: the header byte
// followed by the body. Only bit 0 of arqVal counts: 1 asks for acknowledged windows.
struct TQDataModel {
    platform::Bytes data;
    std::uint32_t arqVal = 0;

    friend bool operator==(const TQDataModel&, const TQDataModel&) = default;
};
