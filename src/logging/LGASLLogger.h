#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "logging/LGLogger.h"
#include "platform/oslog/SystemLog.h"
#include "platform/oslog/SystemLogReader.h"

// The journal's PRIORITY of a record's flag: error 2, warning 3, info 4, everything else 5.
[[nodiscard]] int lgSystemLogPriority(std::uint64_t flag);

// Hands records of info and above to the system log with the fields PRIORITY
// (lgSystemLogPriority), MESSAGE, READUID (the effective user id) and LGLOG=1, which marks the
// lines as ours. The journal outlives our rotated files and other users of the machine read
// it, so debug and verbose lines, which carry the most detail, stay in our files and on the
// console. Records the capture fed in are not sent back. Without a system log, the first
// record writes one warning to standard error and none is sent.
class LGASLLogger : public LGAbstractLogger {
public:
    static constexpr const char* kMarkField = "LGLOG";
    // The flags that reach the system log; the launch registers the logger with this level.
    static constexpr std::uint64_t kLevel = LGLogFlagError | LGLogFlagWarning | LGLogFlagInfo;

    // log may be null: the machine has none.
    LGASLLogger(std::unique_ptr<platform::SystemLog> log,
                unsigned readUID = platform::effectiveUserId(),
                std::function<void(const std::string&)> warn = {});

    void logMessage(const LGLogMessage& message) override;

private:
    std::unique_ptr<platform::SystemLog> log_;
    const std::string readUID_;
    std::function<void(const std::string&)> warn_;
    bool warned_ = false;
};

// Feeds the system log's records of this process that LGASLLogger did not write into the hub,
// as records of file "LGASLLogCapture": PRIORITY 0-2 (or none) as errors, passed on
// synchronously, 3 warnings, 4 info, 5 debug, any other verbose. A thread of its own waits for
// new records while it runs.
class LGASLLogCapture {
public:
    explicit LGASLLogCapture(std::unique_ptr<platform::SystemLogReader> reader);
    ~LGASLLogCapture();
    LGASLLogCapture(const LGASLLogCapture&) = delete;
    LGASLLogCapture& operator=(const LGASLLogCapture&) = delete;

    // The journal's reader, or why capture cannot start on this machine.
    [[nodiscard]] static platform::Result<std::unique_ptr<LGASLLogCapture>> forJournal();

    // Flags passed on, and the level given to captured records.
    [[nodiscard]] std::uint64_t captureLevel() const { return captureLevel_.load(); }
    void setCaptureLevel(std::uint64_t level) { captureLevel_.store(level); }

    // Nothing when running already. Stopping ends the thread; capture cannot start again.
    void start();
    void stop();
    [[nodiscard]] bool isRunning() const { return thread_.joinable(); }

    // One round: reads what is new and passes it on. The thread runs it after every wait.
    void captureOnce();
    // The record a captured entry becomes, or none when it is ours, has no message or its
    // flag is not captured.
    [[nodiscard]] std::optional<LGLogMessage> messageFor(
        const platform::SystemLogEntry& entry) const;

private:
    std::unique_ptr<platform::SystemLogReader> reader_;
    std::atomic<std::uint64_t> captureLevel_{LGLogLevelSystem};
    std::thread thread_;
};
