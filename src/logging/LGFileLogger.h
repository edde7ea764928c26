#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "logging/LGClock.h"
#include "logging/LGLogFileInfo.h"
#include "logging/LGLogFileManager.h"
#include "logging/LGLogger.h"
#include "platform/foundation/RunLoop.h"
#include "platform/oslog/AppendFile.h"

// Writes every record as one line of the current log file of its manager's folder, and starts
// a new file once the current one reaches maximumFileSize bytes or rollingFrequency seconds of
// age (timed on the clock's run loop, even when nothing is logged then). A finished file gets
// the archived mark. A current file deleted or renamed from outside is noticed at the next
// line, which goes to a new file.
class LGFileLogger : public LGAbstractLogger {
public:
    static constexpr std::uint64_t kDefaultMaximumFileSize = 1048576;
    static constexpr double kDefaultRollingFrequency = 86400;

    // The clock must outlive the logger.
    explicit LGFileLogger(std::shared_ptr<LGLogFileManager> manager,
                          const LGClock& clock = LGClock::current());
    ~LGFileLogger() override;

    [[nodiscard]] LGLogFileManager& logFileManager() { return *manager_; }

    // Read after the records queued before; never from the logging or this logger's queue.
    [[nodiscard]] std::uint64_t maximumFileSize();
    [[nodiscard]] double rollingFrequency();
    // Applied after the records queued before.
    void setMaximumFileSize(std::uint64_t bytes);
    void setRollingFrequency(double seconds);
    void setDoNotReuseLogFiles(bool doNotReuse);
    void setAutomaticallyAppendNewlineForCustomFormatters(bool append);

    // Closes the current file after the records queued before; completion then runs on the
    // clock's run loop.
    void rollLogFile(std::function<void()> completion = {});
    // The file being written, chosen or made when there is none; on this logger's queue.
    [[nodiscard]] std::optional<LGLogFileInfo> currentLogFileInfo();

    void logMessage(const LGLogMessage& message) override;
    // Writes the lines with one write, rolling between them where a line reaches a limit.
    void logMessages(std::span<const LGLogMessage* const> messages) override;
    void willRemoveLogger() override;

private:
    // The record's line at the end of lines_; false when it has none or no file takes it.
    bool appendLine(const LGLogMessage& message);
    void writeLines();
    void rollLogFileNow();
    void maybeRollLogFileDueToAge();
    void maybeRollLogFileDueToSize();
    void scheduleTimerToRollLogFileDueToAge();
    bool openCurrentLogFile();
    void reportError(const std::string& text);

    std::shared_ptr<LGLogFileManager> manager_;
    const LGClock& clock_;
    // Touched only on the logger's queue.
    std::optional<LGLogFileInfo> current_;
    std::optional<platform::AppendFile> file_;
    // Lines of the current batch for file_, not written yet; empty between batches.
    std::string lines_;
    std::shared_ptr<platform::Timer> rollingTimer_;
    std::uint64_t maximumFileSize_ = kDefaultMaximumFileSize;
    double rollingFrequency_ = kDefaultRollingFrequency;
    bool doNotReuseLogFiles_ = false;
    bool automaticallyAppendNewline_ = true;
    int errorsReported_ = 0;
};
