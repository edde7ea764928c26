#include "logging/LGPlatformLogSink.h"

#include "logging/LGLog.h"

namespace {

std::uint64_t flagOf(platform::LogLevel level) {
    switch (level) {
        case platform::LogLevel::error:
            return LGLogFlagError;
        case platform::LogLevel::warn:
            return LGLogFlagWarning;
        case platform::LogLevel::info:
            return LGLogFlagInfo;
        case platform::LogLevel::debug:
            return LGLogFlagDebug;
        case platform::LogLevel::verbose:
            return LGLogFlagVerbose;
    }
    return LGLogFlagVerbose;
}

}  // namespace

bool LGPlatformLogSink::admits(platform::LogLevel level) const {
    return LGLog::admits(flagOf(level));
}

void LGPlatformLogSink::write(platform::LogLevel level, const platform::LogSite& site,
                              std::string message) {
    LGLog::log(level != platform::LogLevel::error, std::move(message), LGLogLevelSystem,
               flagOf(level), 0, site.file, site.function, site.line, platform::Value::null());
}
