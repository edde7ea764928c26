#include "logging/LGLogFileFormatterDefault.h"

#include <cstdio>

#include "logging/LGTime.h"

std::optional<std::string> LGLogFileFormatterDefault::formatLogMessage(
    const LGLogMessage& message) {
    const LGCalendarTime time =
        lgCalendarTime(message.timestamp().secondsSince1970, secondsFromGMT_);
    char stamp[40];
    const int length = std::snprintf(stamp, sizeof stamp, "%04lld/%02u/%02u %02u:%02u:%02u:%03u  ",
                                     static_cast<long long>(time.year), time.month, time.day,
                                     time.hour, time.minute, time.second, time.millisecond);
    std::string line;
    line.reserve(static_cast<std::size_t>(length) + message.message().size() + 1);
    line.append(stamp, static_cast<std::size_t>(length));
    line += message.message();
    return line;
}
