#include "logging/LGTime.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

unsigned millisecondsOf(double seconds, double whole) {
    const auto millis = static_cast<unsigned>((seconds - whole) * 1000);
    return millis > 999 ? 999 : millis;
}

// "yyyy/MM/dd HH:mm:ss:".
constexpr int kUsualPrefix = 20;

// The stamp up to its milliseconds, of the last second a thread stamped: lines come many to a
// second, and the calendar (with the time zone's rules) need not be worked out for each.
struct StampPrefix {
    bool valid = false;
    std::int64_t second = 0;
    std::optional<long> secondsFromGMT;
    char dateSeparator = 0;
    char text[32] = {};
    int length = 0;
};

}  // namespace

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
    LGCalendarTime time;
    static_cast<platform::CivilTime&>(time) = civil;
    time.millisecond = millisecondsOf(seconds, whole);
    return time;
}

std::string_view lgTimeStamp(char (&buffer)[32], double seconds, std::optional<long> secondsFromGMT,
                             char dateSeparator) {
    thread_local StampPrefix prefix;
    // The second as floor gives it, without a call for it: this runs for every line.
    auto second = static_cast<std::int64_t>(seconds);
    if (static_cast<double>(second) > seconds) {
        --second;
    }
    const auto whole = static_cast<double>(second);
    if (!prefix.valid || prefix.second != second || prefix.secondsFromGMT != secondsFromGMT ||
        prefix.dateSeparator != dateSeparator) {
        const LGCalendarTime time = lgCalendarTime(seconds, secondsFromGMT);
        prefix.length = std::snprintf(
            prefix.text, sizeof prefix.text,
            "%04lld%c%02u%c%02u %02u:%02u:%02u:", static_cast<long long>(time.year), dateSeparator,
            time.month, dateSeparator, time.day, time.hour, time.minute, time.second);
        prefix.valid = true;
        prefix.second = second;
        prefix.secondsFromGMT = secondsFromGMT;
        prefix.dateSeparator = dateSeparator;
    }
    const unsigned millis = millisecondsOf(seconds, whole);
    const int length = std::clamp(prefix.length, 0, 31);
    if (length == kUsualPrefix) {
        // A year of four digits: a copy of known size.
        std::memcpy(buffer, prefix.text, kUsualPrefix);
    } else {
        std::memcpy(buffer, prefix.text, static_cast<std::size_t>(length));
    }
    char digits[3] = {static_cast<char>('0' + millis / 100),
                      static_cast<char>('0' + millis / 10 % 10),
                      static_cast<char>('0' + millis % 10)};
    // A year past 9999 leaves less room: the stamp is cut at 31 characters, as printing it whole
    // into the buffer would cut it.
    const int kept = std::min(3, 31 - length);
    std::memcpy(buffer + length, digits, static_cast<std::size_t>(kept));
    buffer[length + kept] = '\0';
    return {buffer, static_cast<std::size_t>(length + kept)};
}

void lgReport(const std::string& text) {
    const std::string line = text + "\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, line.data(), line.size());
}
