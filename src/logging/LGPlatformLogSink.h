#pragma once

#include <string>

#include "platform/foundation/LogSink.h"

// Hands the platform's log lines to LGLog as the system's own calls would log them: level 31,
// context 0, no tag, the platform's file, function and line, error lines synchronous.
class LGPlatformLogSink final : public platform::LogSink {
public:
    [[nodiscard]] bool admits(platform::LogLevel level) const override;
    void write(platform::LogLevel level, const platform::LogSite& site,
               std::string message) override;
};
