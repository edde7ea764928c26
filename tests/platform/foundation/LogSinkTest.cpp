#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/foundation/LogSink.h"
#include "support/RecordingLogSink.h"

namespace {

using platform::LogLevel;
using platform::LogSink;
using testing_support::RecordingLogSink;
using testing_support::ScopedLogSink;

// Admits the levels up to a threshold, as a logger set to "warnings and worse" would.
class ThresholdSink final : public LogSink {
public:
    explicit ThresholdSink(LogLevel worst) : worst_(worst) {}
    bool admits(LogLevel level) const override { return level <= worst_; }
    void write(LogLevel /*level*/, const platform::LogSite& /*site*/,
               std::string message) override {
        messages.push_back(std::move(message));
    }
    std::vector<std::string> messages;

private:
    LogLevel worst_;
};

class LogSinkTest : public ::testing::Test {
protected:
    // Whatever another test left installed goes; each test starts with no sink.
    ScopedLogSink none_{nullptr};
};

TEST_F(LogSinkTest, NothingIsFormattedWithoutASinkOrForALevelItRefuses) {
    int formatted = 0;
    const auto piece = [&formatted] {
        ++formatted;
        return std::string("piece");
    };
    PLATFORM_LOG_ERROR("no sink: ", piece());
    EXPECT_EQ(formatted, 0);

    auto sink = std::make_shared<ThresholdSink>(LogLevel::warn);
    ScopedLogSink installed(sink);
    PLATFORM_LOG_INFO("refused: ", piece());
    PLATFORM_LOG_VERBOSE("refused: ", piece());
    platform::logLazily(LogLevel::debug, PLATFORM_LOG_SITE, [&] { return piece(); });
    EXPECT_EQ(formatted, 0);

    PLATFORM_LOG_WARN("kept: ", piece());
    PLATFORM_LOG_ERROR("kept: ", piece());
    platform::logLine(LogLevel::error, PLATFORM_LOG_SITE, "formatted already");
    platform::logLine(LogLevel::debug, PLATFORM_LOG_SITE, "refused");
    EXPECT_EQ(formatted, 2);
    EXPECT_EQ(sink->messages,
              (std::vector<std::string>{"kept: piece", "kept: piece", "formatted already"}));
}

TEST_F(LogSinkTest, ALineCarriesItsLevelSiteAndJoinedPieces) {
    auto sink = std::make_shared<RecordingLogSink>();
    ScopedLogSink installed(sink);
    const std::string text = "text";
    const std::size_t size = 517;
    const unsigned mtu = 23;
    const int line = __LINE__ + 1;
    PLATFORM_LOG_DEBUG("a ", size, "-byte ", std::string_view("view"), " of ", mtu, " ", text, -4);
    PLATFORM_LOG_ERROR("e");
    PLATFORM_LOG_WARN("w");
    PLATFORM_LOG_INFO("i");
    PLATFORM_LOG_VERBOSE("v");

    const auto lines = sink->lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].message, "a 517-byte view of 23 text-4");
    EXPECT_EQ(lines[0].level, LogLevel::debug);
    EXPECT_STREQ(lines[0].site.file, __FILE__);
    EXPECT_STREQ(lines[0].site.function, "TestBody");
    EXPECT_EQ(lines[0].site.line, static_cast<std::uint32_t>(line));
    const LogLevel levels[] = {LogLevel::error, LogLevel::warn, LogLevel::info, LogLevel::verbose};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i + 1].level, levels[i]) << lines[i + 1].message;
    }
}

TEST_F(LogSinkTest, InstallingGivesBackThePreviousSink) {
    auto first = std::make_shared<RecordingLogSink>();
    auto second = std::make_shared<RecordingLogSink>();
    EXPECT_EQ(LogSink::install(first), nullptr);
    PLATFORM_LOG_INFO("to the first");
    {
        ScopedLogSink scoped(second);
        EXPECT_EQ(LogSink::installed(), second);
        PLATFORM_LOG_INFO("to the second");
    }
    EXPECT_EQ(LogSink::installed(), first);
    EXPECT_EQ(LogSink::install(nullptr), first);
    PLATFORM_LOG_INFO("to nobody");
    ASSERT_EQ(first->lines().size(), 1u);
    EXPECT_EQ(first->lines()[0].message, "to the first");
    ASSERT_EQ(second->lines().size(), 1u);
    EXPECT_EQ(second->lines()[0].message, "to the second");
}

// A sink that takes itself out while it writes: the line it is writing must not lose it.
class SelfRemovingSink final : public LogSink {
public:
    explicit SelfRemovingSink(std::vector<std::string>& written) : written_(written) {}
    bool admits(LogLevel /*level*/) const override { return true; }
    void write(LogLevel /*level*/, const platform::LogSite& /*site*/,
               std::string message) override {
        LogSink::install(nullptr);
        marker_ = std::move(message);
        written_.push_back(marker_);
    }

private:
    std::vector<std::string>& written_;
    std::string marker_;
};

TEST_F(LogSinkTest, ASinkReplacedWhileWritingLivesUntilTheLineIsDone) {
    std::vector<std::string> written;
    LogSink::install(std::make_shared<SelfRemovingSink>(written));
    PLATFORM_LOG_WARN("last words");
    PLATFORM_LOG_WARN("never written");
    EXPECT_EQ(written, std::vector<std::string>{"last words"});
    EXPECT_EQ(LogSink::installed(), nullptr);
}

TEST_F(LogSinkTest, LinesFromManyThreadsWhileTheSinkIsReplaced) {
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    auto first = std::make_shared<RecordingLogSink>();
    auto second = std::make_shared<RecordingLogSink>();
    LogSink::install(first);
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&finished, t] {
            for (int i = 0; i < kLines; ++i) {
                PLATFORM_LOG_INFO("thread ", t, " line ", i);
            }
            finished.fetch_add(1);
        });
    }
    for (bool useFirst = false; finished.load() < kThreads; useFirst = !useFirst) {
        LogSink::install(useFirst ? first : second);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(first->lines().size() + second->lines().size(),
              static_cast<std::size_t>(kThreads * kLines));
}

}  // namespace
