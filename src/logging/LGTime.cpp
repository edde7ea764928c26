#include "logging/LGTime.h"

#include <unistd.h>

#include <cmath>
#include <ctime>

#include "platform/foundation/CivilTime.h"

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
    return {civil.year,
            civil.month,
            civil.day,
            civil.hour,
            civil.minute,
            civil.second,
            millis > 999 ? 999 : millis};
}

void lgReport(const std::string& text) {
    const std::string line = text + "\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, line.data(), line.size());
}
