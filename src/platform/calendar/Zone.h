#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/CivilTime.h"

namespace platform::calendar {

// A wall-clock time whose fields may run over their ranges (hour 26, day 32, month 0); building
// a time from it carries the overflow into the neighbouring fields, as a calendar does.
struct LocalTime {
    std::int64_t year = 1970;
    std::int64_t month = 1;
    std::int64_t day = 1;
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    std::int64_t second = 0;
};

// A time zone of the system's zoneinfo (an IANA name) or UTC. Copies are cheap; the rules
// belong to the process. Main thread, as everything that reads them.
class Zone {
public:
    // Nothing for a name the system does not know.
    [[nodiscard]] static std::optional<Zone> named(std::string_view name);
    [[nodiscard]] static Zone utc();

    [[nodiscard]] const std::string& name() const { return name_; }
    // Seconds east of UTC in force at utcSeconds.
    [[nodiscard]] std::int64_t offsetAt(std::int64_t utcSeconds) const;
    // The wall clock at utcSeconds.
    [[nodiscard]] CivilTime local(std::int64_t utcSeconds) const;
    // The moment the wall clock shows time; a time a change of offset skips or repeats takes
    // the offset in force before the change.
    [[nodiscard]] std::int64_t fromLocal(const LocalTime& time) const;

    // The calendar arithmetic of fromLocal without a zone: seconds of the wall clock as if
    // it were UTC.
    [[nodiscard]] static std::int64_t localSeconds(const LocalTime& time);

private:
    Zone(void* zone, std::string name) : zone_(zone), name_(std::move(name)) {}

    void* zone_;  // the library's rules, which it keeps for the process
    std::string name_;
};

}  // namespace platform::calendar
