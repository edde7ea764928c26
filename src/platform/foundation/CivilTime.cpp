#include "platform/foundation/CivilTime.h"

namespace platform {

// Days-from-civil arithmetic over 400-year eras, exact for any year.
CivilTime civilFromSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    CivilTime time;
    time.day = doy - (153 * mp + 2) / 5 + 1;
    time.month = mp < 10 ? mp + 3 : mp - 9;
    time.year = static_cast<std::int64_t>(yoe) + era * 400 + (time.month <= 2);
    time.hour = static_cast<unsigned>(rest / 3600);
    time.minute = static_cast<unsigned>(rest / 60 % 60);
    time.second = static_cast<unsigned>(rest % 60);
    return time;
}

std::int64_t secondsFromCivil(const CivilTime& time) {
    const std::int64_t y = time.year - (time.month <= 2);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (time.month + (time.month > 2 ? -3 : 9)) + 2) / 5 + time.day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
    return days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
}

}  // namespace platform
