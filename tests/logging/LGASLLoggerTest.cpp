#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/LGASLLogger.h"
#include "logging/LoggingWorld.h"
#include "platform/oslog/SystemLog.h"
#include "platform/oslog/SystemLogReader.h"

namespace {

using Fields = std::vector<platform::SystemLogField>;

LGLogMessage record(std::uint64_t flag, std::string text = "text", std::string file = "TQAP.cpp") {
    return LGLogMessage(std::move(text), 31, flag, 0, file.c_str(), "f", 1, {},
                        LGLogMessage::CopyFile);
}

TEST(SystemLogLoggerTest, EachFlagHasItsJournalPriority) {
    const struct {
        std::uint64_t flag;
        int priority;
    } cases[] = {
        {LGLogFlagError, 2}, {LGLogFlagWarning, 3}, {LGLogFlagInfo, 4},
        {LGLogFlagDebug, 5}, {LGLogFlagVerbose, 5}, {3, 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lgSystemLogPriority(c.flag), c.priority) << "flag " << c.flag;
    }
}

// The journal outlives our rotated files and other users read it: debug and verbose lines
// stay out of it.
TEST(SystemLogLoggerTest, InfoAndAboveReachTheJournalWithPriorityTextReaderAndOurMark) {
    auto log = std::make_unique<platform::RecordingSystemLog>();
    platform::RecordingSystemLog& records = *log;
    LGASLLogger logger(std::move(log), 1000);
    const struct {
        std::uint64_t flag;
        const char* priority;  // none: not sent
    } cases[] = {
        {LGLogFlagError, "2"},
        {LGLogFlagWarning, "3"},
        {LGLogFlagInfo, "4"},
        {LGLogFlagDebug, nullptr},
        {LGLogFlagVerbose, nullptr},
        {3, "5"},
        {LGLogFlagInfo | LGLogFlagDebug, nullptr},
    };
    std::vector<Fields> expected;
    for (const auto& c : cases) {
        const std::string text = "flag " + std::to_string(c.flag);
        logger.logMessage(record(c.flag, text));
        if (c.priority != nullptr) {
            expected.push_back(Fields{
                {"PRIORITY", c.priority}, {"MESSAGE", text}, {"READUID", "1000"}, {"LGLOG", "1"}});
        }
    }
    EXPECT_EQ(records.records(), expected);
}

TEST(SystemLogLoggerTest, CapturedLinesAreNotSentBack) {
    auto log = std::make_unique<platform::RecordingSystemLog>();
    platform::RecordingSystemLog& records = *log;
    LGASLLogger logger(std::move(log), 0);
    logger.logMessage(record(LGLogFlagInfo, "from the journal", "LGASLLogCapture"));
    logger.logMessage(record(LGLogFlagInfo, "also", "/src/LGASLLogCapture.cpp"));
    logger.logMessage(record(LGLogFlagInfo, "ours", "/src/LGASLLogCaptureTest.cpp"));
    const auto sent = records.records();
    ASSERT_EQ(sent.size(), 1u) << "by the file name, without folder and extension";
    EXPECT_EQ(sent[0][1].value, "ours");
}

TEST(SystemLogLoggerTest, WithoutASystemLogOneWarningAndNothingElse) {
    std::vector<std::string> warnings;
    LGASLLogger logger(nullptr, 0, [&](const std::string& text) { warnings.push_back(text); });
    for (int i = 0; i < 3; ++i) {
        logger.logMessage(record(LGLogFlagError));
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("no system log"), std::string::npos);
}

platform::SystemLogEntry entry(std::optional<std::string> priority, const char* text = "m",
                               bool ours = false) {
    platform::SystemLogEntry result;
    if (text != nullptr) {
        result.fields.push_back({"MESSAGE", text});
    }
    if (priority) {
        result.fields.push_back({"PRIORITY", *priority});
    }
    if (ours) {
        result.fields.push_back({"LGLOG", "1"});
    }
    result.realtimeMicros = 1456909500250000;
    return result;
}

TEST(SystemLogCaptureTest, PrioritiesBecomeFlagsAndOurOwnLinesAreSkipped) {
    LGASLLogCapture capture(std::make_unique<platform::ScriptedSystemLogReader>());
    const struct {
        platform::SystemLogEntry entry;
        std::uint64_t flag;  // 0: skipped
    } cases[] = {
        {entry("0"), LGLogFlagError},
        {entry("2"), LGLogFlagError},
        {entry(std::nullopt), LGLogFlagError},
        {entry("3"), LGLogFlagWarning},
        {entry("4"), LGLogFlagInfo},
        {entry("5"), LGLogFlagDebug},
        {entry("6"), LGLogFlagVerbose},
        {entry("7"), LGLogFlagVerbose},
        {entry("8"), 0},
        {entry("4", "m", true), 0},
        {entry("4", nullptr), 0},
    };
    for (const auto& c : cases) {
        const auto message = capture.messageFor(c.entry);
        ASSERT_EQ(message.has_value(), c.flag != 0) << c.flag;
        if (message) {
            EXPECT_EQ(message->flag(), c.flag);
            EXPECT_EQ(message->level(), 31u);
            EXPECT_EQ(message->fileName(), "LGASLLogCapture");
            EXPECT_DOUBLE_EQ(message->timestamp().secondsSince1970, 1456909500.25);
        }
    }
    capture.setCaptureLevel(LGLogFlagError | LGLogFlagInfo);
    EXPECT_FALSE(capture.messageFor(entry("6")));
    EXPECT_EQ(capture.messageFor(entry("4"))->level(), 5u);
}

// Waits, without a clock, until it has taken a number of records.
class CountingLogger : public LGAbstractLogger {
public:
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        texts_.push_back(message.message());
        changed_.notify_all();
    }
    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return texts_.size() >= count; });
        return texts_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> texts_;
};

TEST(SystemLogCaptureTest, ARunningCaptureFeedsTheHubUntilItStops) {
    logging_testing::LoggingWorld world;
    auto logger = std::make_shared<CountingLogger>();
    LGLog::addLogger(logger);
    auto reader = std::make_unique<platform::ScriptedSystemLogReader>();
    platform::ScriptedSystemLogReader& journal = *reader;
    LGASLLogCapture capture(std::move(reader));
    capture.start();
    EXPECT_TRUE(capture.isRunning());
    journal.add(entry("4", "someone else's"));
    journal.add(entry("4", "ours", true));
    journal.add(entry("3", "a warning"));
    EXPECT_EQ(logger->waitFor(2), (std::vector<std::string>{"someone else's", "a warning"}));
    capture.stop();
    EXPECT_FALSE(capture.isRunning());
}

TEST(SystemLogCaptureTest, OnAMachineWithoutAJournalItCannotStart) {
    if (platform::probeSystemLog() == platform::SystemLogKind::journal) {
        GTEST_SKIP() << "a journal runs here";
    }
    const auto capture = LGASLLogCapture::forJournal();
    ASSERT_FALSE(capture);
    EXPECT_NE(capture.error().message.find("no journal"), std::string::npos);
}

}  // namespace
