#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A moment split for display: calendar fields and milliseconds.
struct LGCalendarTime {
    std::int64_t year = 1970;
    unsigned month = 1;
    unsigned day = 1;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    unsigned millisecond = 0;
};

// seconds (since 1970) at an offset from GMT; without one, in the machine's time zone.
[[nodiscard]] LGCalendarTime lgCalendarTime(double seconds,
                                            std::optional<long> secondsFromGMT = std::nullopt);

// Writes a report of the logging layer itself straight to standard error: it must not pass
// through the hub, which may be waiting for the logger that reports.
void lgReport(const std::string& text);
