#include "logging/LGLogFileFormatterDefault.h"

#include "logging/LGTime.h"

std::optional<std::string> LGLogFileFormatterDefault::formatLogMessage(
    const LGLogMessage& message) {
    char buffer[32];
    const std::string_view stamp =
        lgTimeStamp(buffer, message.timestamp().secondsSince1970, secondsFromGMT_, '/');
    std::string line;
    line.reserve(stamp.size() + 2 + message.message().size() + 1);
    line.append(stamp);
    line += "  ";
    line += message.message();
    return line;
}
