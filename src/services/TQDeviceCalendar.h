#pragma once

#include <cstdint>

#include "platform/calendar/Zone.h"

// The phone's calendar days as the calendar service counts them: now from the wall clock
// (TQWallClock), the zone the device is set to (platform::DeviceInfo), UTC when the system
// does not know it.
class TQDeviceCalendar {
public:
    [[nodiscard]] static std::int64_t now();
    [[nodiscard]] static platform::calendar::Zone zone();
    // The device zone's offset from UTC in force now, in seconds.
    [[nodiscard]] static std::int64_t secondsFromGMTNow();
    // Midnight that begins the day `days` after today, and 23:59:59 of that day.
    [[nodiscard]] static std::int64_t dayStart(std::int64_t days);
    [[nodiscard]] static std::int64_t dayEnd(std::int64_t days);
};
