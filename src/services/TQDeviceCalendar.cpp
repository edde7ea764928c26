#include "services/TQDeviceCalendar.h"

#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "platform/system/DeviceInfo.h"

std::int64_t TQDeviceCalendar::now() {
    const std::int64_t milliseconds = TQWallClock::current().millisecondsSince1970();
    return milliseconds >= 0 ? milliseconds / 1000 : -((-milliseconds + 999) / 1000);
}

platform::calendar::Zone TQDeviceCalendar::zone() {
    const std::string name = platform::DeviceInfo::current().timeZone(now()).name;
    if (auto zone = platform::calendar::Zone::named(name)) {
        return *zone;
    }
    LG_DEBUG("TQDeviceCalendar: unknown time zone %@, days are counted in UTC", name);
    return platform::calendar::Zone::utc();
}

std::int64_t TQDeviceCalendar::secondsFromGMTNow() {
    return platform::DeviceInfo::current().timeZone(now()).secondsFromGMT;
}

std::int64_t TQDeviceCalendar::dayStart(std::int64_t days) {
    const auto device = zone();
    const auto today = device.local(now());
    return device.fromLocal({today.year, today.month, static_cast<std::int64_t>(today.day) + days});
}

std::int64_t TQDeviceCalendar::dayEnd(std::int64_t days) {
    const auto device = zone();
    const auto today = device.local(now());
    return device.fromLocal(
        {today.year, today.month, static_cast<std::int64_t>(today.day) + days, 23, 59, 59});
}
