#pragma once

#include <cstdint>

namespace platform {

// A UTC calendar time of the proleptic Gregorian calendar.
struct CivilTime {
    std::int64_t year = 1970;
    unsigned month = 1;
    unsigned day = 1;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
};

// Whole seconds since 1970-01-01 00:00:00 UTC to calendar time and back.
[[nodiscard]] CivilTime civilFromSeconds(std::int64_t seconds);
[[nodiscard]] std::int64_t secondsFromCivil(const CivilTime& time);

}  // namespace platform
