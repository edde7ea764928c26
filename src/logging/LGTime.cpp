#include "logging/LGTime.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

LGCalendarTime lgCalendarTime(double seconds, std::optional<long> secondsFromGMT) {
    const double whole = std::floor(seconds);
    auto unix = static_cast<std::int64_t>(whole);
    if (!secondsFromGMT) {
        const auto time = static_cast<std::time_t>(unix);
        std::tm local{};
        ::localtime_r(&time, &local);
        secondsFromGMT = local.tm_gmtoff;
    }
    const platform::CivilTime civil = platform::civilFromSeconds(unix + *secondsFromGMT);
    auto millis = static_cast<unsigned>((seconds - whole) * 1000);
    LGCalendarTime time;
    static_cast<platform::CivilTime&>(time) = civil;
    time.millisecond = millis > 999 ? 999 : millis;
    return time;
}

std::string_view lgTimeStamp(char (&buffer)[32], double seconds, std::optional<long> secondsFromGMT,
                             char dateSeparator) {
    const LGCalendarTime time = lgCalendarTime(seconds, secondsFromGMT);
    const int length =
        std::snprintf(buffer, sizeof buffer, "%04lld%c%02u%c%02u %02u:%02u:%02u:%03u",
                      static_cast<long long>(time.year), dateSeparator, time.month, dateSeparator,
                      time.day, time.hour, time.minute, time.second, time.millisecond);
    return {buffer, static_cast<std::size_t>(std::clamp(length, 0, 31))};
}

void lgReport(const std::string& text) {
    const std::string line = text + "\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, line.data(), line.size());
}
