#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/CivilTime.h"

// A moment split for display: calendar fields and milliseconds.
struct LGCalendarTime : platform::CivilTime {
    unsigned millisecond = 0;
};

// seconds (since 1970) at an offset from GMT; without one, in the machine's time zone.
[[nodiscard]] LGCalendarTime lgCalendarTime(double seconds,
                                            std::optional<long> secondsFromGMT = std::nullopt);

// "yyyy<s>MM<s>dd HH:mm:ss:SSS" with the date separator s, into buffer; the text written.
std::string_view lgTimeStamp(char (&buffer)[32], double seconds, std::optional<long> secondsFromGMT,
                             char dateSeparator);

// Writes a report of the logging layer itself straight to standard error: it must not pass
// through the hub, which may be waiting for the logger that reports.
void lgReport(const std::string& text);
