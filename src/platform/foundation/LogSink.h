#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace platform {

enum class LogLevel { error, warn, info, debug, verbose };

// Where a log line was written. File and function are literals of the calling code.
struct LogSite {
    const char* file = "";
    const char* function = "";
    std::uint32_t line = 0;
};

// Where the platform's log lines go. The platform has no logger of its own: the program
// installs a sink that hands lines to its logging. Without one, or for a level the sink does
// not admit, a line is never formatted.
class LogSink {
public:
    virtual ~LogSink() = default;

    // Whether a line of this level would be kept; called on whichever thread logs.
    [[nodiscard]] virtual bool admits(LogLevel level) const = 0;
    virtual void write(LogLevel level, const LogSite& site, std::string message) = 0;

    // Makes sink the installed one (nullptr: none) and gives back the previous one. A line
    // being written on another thread keeps the sink it started with alive until it is done.
    static std::shared_ptr<LogSink> install(std::shared_ptr<LogSink> sink);
    [[nodiscard]] static std::shared_ptr<LogSink> installed();
};

// Writes an already formatted line to the installed sink.
void logLine(LogLevel level, const LogSite& site, std::string_view message);

// Formats the line only when the installed sink admits the level.
template <typename MakeMessage>
requires std::is_invocable_r_v<std::string, MakeMessage>
void logLazily(LogLevel level, const LogSite& site, MakeMessage&& makeMessage) {
    if (const auto sink = LogSink::installed(); sink && sink->admits(level)) {
        sink->write(level, site, std::forward<MakeMessage>(makeMessage)());
    }
}

namespace log_text {

inline void append(std::string& out, std::string_view text) {
    out += text;
}

template <std::integral Number>
requires(!std::same_as<Number, bool> && !std::same_as<Number, char>) void append(std::string& out,
                                                                                 Number number) {
    out += std::to_string(number);
}

}  // namespace log_text

// The pieces of a line, texts and whole numbers, one after the other.
template <typename... Pieces>
[[nodiscard]] std::string logText(const Pieces&... pieces) {
    std::string out;
    (log_text::append(out, pieces), ...);
    return out;
}

}  // namespace platform

#define PLATFORM_LOG_SITE            \
    ::platform::LogSite {            \
        __FILE__, __func__, __LINE__ \
    }
// The pieces are evaluated and joined only when the installed sink admits the level.
#define PLATFORM_LOG(level, ...)                    \
    ::platform::logLazily(level, PLATFORM_LOG_SITE, \
                          [&] { return ::platform::logText(__VA_ARGS__); })
#define PLATFORM_LOG_ERROR(...) PLATFORM_LOG(::platform::LogLevel::error, __VA_ARGS__)
#define PLATFORM_LOG_WARN(...) PLATFORM_LOG(::platform::LogLevel::warn, __VA_ARGS__)
#define PLATFORM_LOG_INFO(...) PLATFORM_LOG(::platform::LogLevel::info, __VA_ARGS__)
#define PLATFORM_LOG_DEBUG(...) PLATFORM_LOG(::platform::LogLevel::debug, __VA_ARGS__)
#define PLATFORM_LOG_VERBOSE(...) PLATFORM_LOG(::platform::LogLevel::verbose, __VA_ARGS__)
