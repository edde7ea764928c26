#pragma once

#include <optional>
#include <string>

#include "logging/LGLogger.h"

// A log file's line: the record's time as "yyyy/MM/dd HH:mm:ss:SSS", two spaces, the text.
class LGLogFileFormatterDefault : public LGLogFormatter {
public:
    // Without an offset from GMT, the machine's time zone.
    explicit LGLogFileFormatterDefault(std::optional<long> secondsFromGMT = std::nullopt)
        : secondsFromGMT_(secondsFromGMT) {}

    std::optional<std::string> formatLogMessage(const LGLogMessage& message) override;
    LGFormatted appendFormatted(const LGLogMessage& message, std::string& out) override;

private:
    std::optional<long> secondsFromGMT_;
};
