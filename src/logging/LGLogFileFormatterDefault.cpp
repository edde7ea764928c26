#include "logging/LGLogFileFormatterDefault.h"

#include "logging/LGTime.h"

std::optional<std::string> LGLogFileFormatterDefault::formatLogMessage(
    const LGLogMessage& message) {
    std::string line;
    line.reserve(25 + message.message().size() + 1);
    appendFormatted(message, line);
    return line;
}

LGFormatted LGLogFileFormatterDefault::appendFormatted(const LGLogMessage& message,
                                                       std::string& out) {
    char buffer[32];
    const std::string_view stamp =
        lgTimeStamp(buffer, message.timestamp().secondsSince1970, secondsFromGMT_, '/');
    out.append(stamp);
    out += "  ";
    out += message.message();
    return LGFormatted::formatted;
}
