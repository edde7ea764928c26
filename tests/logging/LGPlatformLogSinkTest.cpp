#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/LGLog.h"
#include "logging/LGPlatformLogSink.h"
#include "platform/foundation/LogSink.h"
#include "support/RecordingLogSink.h"

namespace {

class RecordKeeper : public LGAbstractLogger {
public:
    RecordKeeper() : LGAbstractLogger("test.platform-sink") {}
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        records_.push_back(message);
    }
    std::vector<LGLogMessage> records() {
        std::lock_guard lock(mutex_);
        return records_;
    }

private:
    std::mutex mutex_;
    std::vector<LGLogMessage> records_;
};

class LGPlatformLogSinkTest : public ::testing::Test {
protected:
    ~LGPlatformLogSinkTest() override {
        LGLog::removeAllLoggers();
        LGLog::flushLog();
    }

    testing_support::ScopedLogSink sink_{std::make_shared<LGPlatformLogSink>()};
    std::shared_ptr<RecordKeeper> keeper_ = std::make_shared<RecordKeeper>();
};

TEST_F(LGPlatformLogSinkTest, PlatformLinesLookAsTheSystemsOwnLines) {
    LGLog::addLogger(keeper_);
    // Each platform line, then the same line as the system's own code logs it.
    PLATFORM_LOG_ERROR("Bluetooth air: cannot power ", "ABCD", " on: ", "busy");
    LG_ERROR("Bluetooth air: cannot power %s on: %s", "ABCD", "busy");
    PLATFORM_LOG_WARN("Bluetooth air: not sending a PDU of ", std::size_t{600}, " bytes");
    LG_WARN("Bluetooth air: not sending a PDU of %zu bytes", std::size_t{600});
    PLATFORM_LOG_INFO("Bluetooth: restoring peripheral manager state for ", std::string("r"));
    LG_INFO("Bluetooth: restoring peripheral manager state for %s", std::string("r"));
    PLATFORM_LOG_DEBUG("Bluetooth: notification for unknown handle ", 7u, " from ", "X");
    LG_DEBUG("Bluetooth: notification for unknown handle %u from %s", 7u, "X");
    PLATFORM_LOG_VERBOSE("v ", -1);
    LG_VERBOSE("v %d", -1);
    LGLog::flushLog();

    const auto records = keeper_->records();
    ASSERT_EQ(records.size(), 10u);
    const std::uint64_t flags[] = {LGLogFlagError, LGLogFlagWarning, LGLogFlagInfo, LGLogFlagDebug,
                                   LGLogFlagVerbose};
    for (std::size_t i = 0; i < records.size(); i += 2) {
        const LGLogMessage& platform = records[i];
        const LGLogMessage& own = records[i + 1];
        EXPECT_EQ(platform.message(), own.message());
        EXPECT_EQ(platform.flag(), flags[i / 2]) << platform.message();
        EXPECT_EQ(platform.flag(), own.flag());
        EXPECT_EQ(platform.level(), own.level());
        EXPECT_EQ(platform.context(), own.context());
        EXPECT_EQ(platform.file(), own.file());
        EXPECT_EQ(platform.fileName(), own.fileName());
        EXPECT_EQ(platform.function(), own.function());
        EXPECT_EQ(platform.line() + 1, own.line());
        EXPECT_EQ(platform.tag(), own.tag());
    }
}

TEST_F(LGPlatformLogSinkTest, AnErrorLineIsDeliveredBeforeTheCallReturns) {
    LGLog::addLogger(keeper_);
    PLATFORM_LOG_ERROR("Bluetooth air: listener stopped: ", "gone");
    const auto records = keeper_->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message(), "Bluetooth air: listener stopped: gone");
}

TEST_F(LGPlatformLogSinkTest, NothingIsFormattedWhileNoLoggerIsThere) {
    int formatted = 0;
    const auto piece = [&formatted] {
        ++formatted;
        return std::string("piece");
    };
    PLATFORM_LOG_ERROR(piece());
    PLATFORM_LOG_VERBOSE(piece());
    EXPECT_EQ(formatted, 0);
    LGLog::addLogger(keeper_, LGLogFlagError);
    PLATFORM_LOG_ERROR(piece());
    EXPECT_EQ(formatted, 1);
}

}  // namespace
