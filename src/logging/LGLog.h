#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "logging/LGFormat.h"
#include "logging/LGLogMessage.h"
#include "logging/LGLogger.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Replaceable.h"

// What LGLog works on: its logging queue, its loggers and the per-class levels. The
// application's context owns one and installs it for its lifetime, and a test may install its
// own; without one, LGLog uses a process-wide hub that is never destroyed, so that lines logged
// while other statics go away still reach its loggers. A hub that goes flushes its loggers and
// tells them they are removed.
class LGLogHub : public platform::Replaceable<LGLogHub> {
public:
    LGLogHub();
    ~LGLogHub();
    LGLogHub(const LGLogHub&) = delete;
    LGLogHub& operator=(const LGLogHub&) = delete;

    struct State;
    // The installed hub's state, else the process-wide one's.
    static State& current();

private:
    std::unique_ptr<State> state_;
};

// The one entry point of every log line. Records go through one serial logging queue
// ("kavo.logging") to every registered logger whose level admits their flag, each logger on
// its own queue. At most 1000 records wait for delivery; a caller blocks beyond that.
// Error lines are logged synchronously: the call returns after every logger took the record.
// While asynchronous lines keep coming, the logging queue lets a small batch of them wait up to
// a millisecond for more before delivering it, so that a burst costs the loggers one write;
// a line after a quiet time, and whatever a waiting caller queued before, go at once.
class LGLog {
public:
    LGLog() = delete;

    static platform::SerialQueue& loggingQueue();

    static void addLogger(std::shared_ptr<LGLogger> logger, std::uint64_t level = LGLogLevelAll);
    static void removeLogger(const std::shared_ptr<LGLogger>& logger);
    static void removeAllLoggers();
    // In registration order; a logger registered twice appears twice.
    static std::vector<std::shared_ptr<LGLogger>> allLoggers();

    // Formats with printf-style conversions ("%@" included) and queues the record. A null
    // format logs nothing.
    template <typename... Args>
    static void log(bool asynchronous, std::uint64_t level, std::uint64_t flag,
                    std::int64_t context, const char* file, const char* function,
                    std::uint64_t line, const platform::Value& tag, const char* format,
                    const Args&... args) {
        if (format == nullptr || !hasLoggers()) {
            return;
        }
        if constexpr (sizeof...(Args) == 0) {
            logFormat(asynchronous, format, {}, level, flag, context, file, function, line, tag);
        } else {
            const lg::FormatArg list[] = {lg::FormatArg(args)...};
            logFormat(asynchronous, format, list, level, flag, context, file, function, line, tag);
        }
    }
    // The same with the arguments captured: the text is formatted into room the calling thread
    // keeps, so a line makes no text of its own.
    static void logFormat(bool asynchronous, std::string_view format,
                          std::span<const lg::FormatArg> args, std::uint64_t level,
                          std::uint64_t flag, std::int64_t context, const char* file,
                          const char* function, std::uint64_t line, const platform::Value& tag);
    static void log(bool asynchronous, std::string message, std::uint64_t level, std::uint64_t flag,
                    std::int64_t context, const char* file, const char* function,
                    std::uint64_t line, const platform::Value& tag);
    static void log(bool asynchronous, LGLogMessage message);
    static void queueLogMessage(LGLogMessage message, bool asynchronous);
    // Whether a logger is registered or about to be. A record logged while none is would
    // reach nobody, so callers may skip building it.
    static bool hasLoggers();
    // Whether a logger registered or about to be admits the flag: the hub keeps the OR of
    // their levels, updated as loggers come and go. The LG_* macros test it before they
    // evaluate their arguments.
    static bool admits(std::uint64_t flag);

    // Returns once every record queued before it is delivered and every logger flushed.
    static void flushLog();
    // Runs task on the logging queue behind everything queued before it, and waits for it.
    // Asynchronous records gathered for one write are delivered at once rather than after
    // their short wait for more. Never call it from the logging queue.
    static void syncOnLoggingQueue(const std::function<void()>& task);
    static void applicationWillTerminate();

    // Per-class log levels. Classes opt in explicitly (there is no class introspection here);
    // none of the system's classes does, so the registry is normally empty.
    struct ClassLevel {
        std::function<std::uint64_t()> get;
        std::function<void(std::uint64_t)> set;
    };
    // Registering a name again replaces its accessors.
    static void registerClass(std::string name, ClassLevel level);
    static bool isRegisteredClass(std::string_view name);
    static std::vector<std::string> registeredClassNames();
    // All bits for a class that is not registered.
    static std::uint64_t levelForClassWithName(std::string_view name);
    static void setLevelForClassWithName(std::uint64_t level, std::string_view name);
};

// The system's call convention: level 31, context 0, no tag, this file, function and line;
// error lines synchronous, all others asynchronous. While no logger admits the flag, the
// arguments are not evaluated at all: they must have no effect the caller relies on.
#define LG_LOG_AT(asynchronous, flag, format, ...)                                             \
    (::LGLog::admits(flag)                                                                     \
         ? ::LGLog::log(asynchronous, LGLogLevelSystem, flag, 0, __FILE__, __func__, __LINE__, \
                        ::platform::Value::null(), format __VA_OPT__(, ) __VA_ARGS__)          \
         : void())
#define LG_ERROR(format, ...) LG_LOG_AT(false, LGLogFlagError, format __VA_OPT__(, ) __VA_ARGS__)
#define LG_WARN(format, ...) LG_LOG_AT(true, LGLogFlagWarning, format __VA_OPT__(, ) __VA_ARGS__)
#define LG_INFO(format, ...) LG_LOG_AT(true, LGLogFlagInfo, format __VA_OPT__(, ) __VA_ARGS__)
#define LG_DEBUG(format, ...) LG_LOG_AT(true, LGLogFlagDebug, format __VA_OPT__(, ) __VA_ARGS__)
#define LG_VERBOSE(format, ...) LG_LOG_AT(true, LGLogFlagVerbose, format __VA_OPT__(, ) __VA_ARGS__)
