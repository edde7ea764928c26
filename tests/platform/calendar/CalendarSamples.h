#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/CivilTime.h"

namespace calendar_test {

// Seconds of a UTC calendar time.
inline std::int64_t utc(std::int64_t year, unsigned month, unsigned day, unsigned hour = 0,
                        unsigned minute = 0, unsigned second = 0) {
    return platform::secondsFromCivil({year, month, day, hour, minute, second});
}

// One VCALENDAR around the given components, lines joined by CR LF.
inline std::string ics(std::string_view components) {
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n";
    for (char c : components) {
        if (c == '\n') {
            text += "\r\n";
        } else {
            text += c;
        }
    }
    if (!text.ends_with("\r\n")) {
        text += "\r\n";
    }
    return text + "END:VCALENDAR\r\n";
}

// A VEVENT with the given lines after its UID.
inline std::string vevent(std::string_view uid, std::string_view lines) {
    return "BEGIN:VEVENT\nUID:" + std::string(uid) + "\n" + std::string(lines) +
           (lines.ends_with('\n') ? "" : "\n") + "END:VEVENT\n";
}

}  // namespace calendar_test
