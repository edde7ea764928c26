#include "platform/calendar/Zone.h"

#include <libical/ical.h>

namespace platform::calendar {

namespace {

icaltimezone* rules(void* zone) {
    return static_cast<icaltimezone*>(zone);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

}  // namespace

std::optional<Zone> Zone::named(std::string_view name) {
    if (name == "UTC" || name == "GMT" || name == "Etc/UTC") {
        return Zone(icaltimezone_get_utc_timezone(), std::string(name));
    }
    const std::string text(name);
    if (text.empty() || text.size() > 128) {
        return std::nullopt;
    }
    icaltimezone* zone = icaltimezone_get_builtin_timezone(text.c_str());
    if (zone == nullptr) {
        return std::nullopt;
    }
    return Zone(zone, text);
}

Zone Zone::utc() {
    return Zone(icaltimezone_get_utc_timezone(), "UTC");
}

std::int64_t Zone::offsetAt(std::int64_t utcSeconds) const {
    icaltimetype time = icaltime_from_timet_with_zone(static_cast<time_t>(utcSeconds), 0,
                                                      icaltimezone_get_utc_timezone());
    int daylight = 0;
    return icaltimezone_get_utc_offset_of_utc_time(rules(zone_), &time, &daylight);
}

CivilTime Zone::local(std::int64_t utcSeconds) const {
    return civilFromSeconds(utcSeconds + offsetAt(utcSeconds));
}

std::int64_t Zone::localSeconds(const LocalTime& time) {
    const std::int64_t months = time.month - 1;
    const std::int64_t year = time.year + floorDiv(months, 12);
    const auto month = static_cast<unsigned>(months - floorDiv(months, 12) * 12 + 1);
    const std::int64_t firstOfMonth = secondsFromCivil(CivilTime{year, month, 1, 0, 0, 0});
    return firstOfMonth + (time.day - 1) * 86400 + time.hour * 3600 + time.minute * 60 +
           time.second;
}

std::int64_t Zone::fromLocal(const LocalTime& time) const {
    const std::int64_t wall = localSeconds(time);
    const CivilTime fields = civilFromSeconds(wall);
    icaltimetype local = icaltime_null_time();
    local.year = static_cast<int>(fields.year);
    local.month = static_cast<int>(fields.month);
    local.day = static_cast<int>(fields.day);
    local.hour = static_cast<int>(fields.hour);
    local.minute = static_cast<int>(fields.minute);
    local.second = static_cast<int>(fields.second);
    int daylight = 0;
    return wall - icaltimezone_get_utc_offset(rules(zone_), &local, &daylight);
}

}  // namespace platform::calendar
