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

[[nodiscard]] constexpr bool isLeapYear(std::int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Days in month (1-12) of year.
[[nodiscard]] constexpr unsigned daysInMonth(std::int64_t year, unsigned month) {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Whole seconds since 1970-01-01 00:00:00 UTC to calendar time and back.
[[nodiscard]] CivilTime civilFromSeconds(std::int64_t seconds);
[[nodiscard]] std::int64_t secondsFromCivil(const CivilTime& time);

}  // namespace platform
