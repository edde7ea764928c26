#pragma once

#include <cstdint>

#include "platform/foundation/Value.h"

// A coded option: a number read as unsigned, 0 when missing or negative.
inline std::uint64_t HCCodedUnsigned(const platform::Value& coded) {
    const auto number = coded.isNumber() ? coded.intValue() : std::nullopt;
    return number && *number > 0 ? static_cast<std::uint64_t>(*number) : 0;
}
