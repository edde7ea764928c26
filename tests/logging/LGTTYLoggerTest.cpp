#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "logging/LGTTYLogger.h"
#include "logging/LoggingWorld.h"
#include "platform/oslog/Console.h"

namespace {

using logging_testing::kEpoch;

LGLogMessage record(std::uint64_t flag, std::string text = "text", std::int64_t context = 0,
                    platform::Value tag = {}) {
    return LGLogMessage(std::move(text), 31, flag, context, "f.cpp", "f", 1, std::move(tag), 0,
                        platform::Date{kEpoch + 0.042});
}

class ConsoleTest : public ::testing::Test {
protected:
    logging_testing::LoggingWorld world;

    // A console logger over a recording console, registered, coloured as the launch has it.
    std::shared_ptr<LGTTYLogger> launchLogger(platform::RecordingConsole& console) {
        auto logger = std::make_shared<LGTTYLogger>(
            console, LGTTYLogger::Identity{"kavomanager", 4242}, true, 0);
        LGLog::addLogger(logger);
        logger->setColorsEnabled(true);
        logger->setForegroundColor(LGColor{0, 0, 255}, std::nullopt, LGLogFlagDebug);
        logger->setForegroundColor(LGColor{0, 128, 0}, std::nullopt, LGLogFlagInfo);
        world.settle();
        return logger;
    }
};

TEST_F(ConsoleTest, TheHeaderHasLocalTimeProcessIdAndThread) {
    platform::RecordingConsole console(false, "");
    LGTTYLogger logger(console, {"kavomanager", 4242}, false, 3600);
    const LGLogMessage message = record(LGLogFlagInfo, "hello");
    logger.logMessage(message);
    logger.logMessage(record(LGLogFlagInfo, "ends\n"));
    EXPECT_EQ(console.written(),
              "2016-03-02 10:05:00:042 kavomanager[4242:" + message.threadID().substr(0, 8) +
                  "] hello\n"
                  "2016-03-02 10:05:00:042 kavomanager[4242:" +
                  message.threadID().substr(0, 8) + "] ends\n")
        << "a text that ends its line gets no second line end";
    LGTTYLogger unnamed(console, {"", 1}, false, 0);
    unnamed.logMessage(message);
    EXPECT_NE(console.written().find(" <UnnamedApp>[1:"), std::string::npos);
}

TEST_F(ConsoleTest, TheModeFollowsTheTerminal) {
    struct Case {
        bool terminal;
        const char* type;
        bool colourSwitch;
        LGColorMode mode;
    } cases[] = {
        {false, "xterm-256color", true, LGColorMode::plain},
        {false, "xterm-color", false, LGColorMode::plain},
        {true, "xterm-256color", false, LGColorMode::palette256},
        {true, "XTERM-COLOR", false, LGColorMode::palette16},
        {true, "xterm", false, LGColorMode::plain},
        {true, "xterm", true, LGColorMode::palette16},
        {true, "screen-256", true, LGColorMode::palette256},
        {true, "", false, LGColorMode::plain},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lgChooseColorMode(c.terminal, c.type, c.colourSwitch), c.mode)
            << c.terminal << " " << c.type << " " << c.colourSwitch;
    }
}

TEST_F(ConsoleTest, OnAColourTerminalTheLaunchProfilesBecomeSgrColours) {
    struct Case {
        const char* type;
        std::uint64_t flag;
        const char* begins;
    } cases[] = {
        {"xterm-color", LGLogFlagError, "\x1b[31m"},
        {"xterm-color", LGLogFlagWarning, "\x1b[33m"},
        {"xterm-color", LGLogFlagInfo, "\x1b[32m"},
        {"xterm-color", LGLogFlagDebug, "\x1b[34m"},
        {"xterm-256color", LGLogFlagDebug, "\x1b[38;5;20m"},
        {"xterm-256color", LGLogFlagInfo, "\x1b[38;5;28m"},
    };
    for (const auto& c : cases) {
        platform::RecordingConsole console(true, c.type);
        auto logger = launchLogger(console);
        logger->logMessage(record(c.flag));
        const std::string line = console.written();
        EXPECT_TRUE(line.starts_with(c.begins)) << c.type << " " << c.flag << ": " << line;
        EXPECT_TRUE(line.ends_with("text\n\x1b[0m")) << line;
        LGLog::removeLogger(logger);
    }
    platform::RecordingConsole console(true, "xterm-color");
    auto logger = launchLogger(console);
    logger->logMessage(record(LGLogFlagVerbose));
    EXPECT_EQ(console.written().find('\x1b'), std::string::npos) << "verbose has no profile";
}

TEST_F(ConsoleTest, APipeGetsNoEscapeBytesWhateverIsEnabled) {
    platform::RecordingConsole console(false, "xterm-256color");
    auto logger = launchLogger(console);
    logger->setForegroundColorForTag(LGColor{1, 2, 3}, LGColor{4, 5, 6}, "tagged");
    world.settle();
    for (const auto flag : {LGLogFlagError, LGLogFlagWarning, LGLogFlagInfo, LGLogFlagDebug}) {
        logger->logMessage(record(flag));
    }
    logger->logMessage(record(LGLogFlagInfo, "t", 0, platform::Value("tagged")));
    EXPECT_EQ(console.written().find('\x1b'), std::string::npos);
}

TEST_F(ConsoleTest, ProfilesGoByTagThenExactContextThenEveryContext) {
    platform::RecordingConsole console(true, "xterm-color");
    auto logger = std::make_shared<LGTTYLogger>(console, LGTTYLogger::Identity{"k", 1}, false, 0);
    LGLog::addLogger(logger);
    logger->setColorsEnabled(true);
    logger->setForegroundColor(LGColor{194, 54, 33}, std::nullopt, LGLogFlagInfo);     // 31m
    logger->setForegroundColor(LGColor{37, 188, 36}, std::nullopt, LGLogFlagInfo, 5);  // 32m
    logger->setForegroundColorForTag(LGColor{73, 46, 225}, std::nullopt, "blue");      // 34m
    world.settle();
    struct Case {
        std::int64_t context;
        platform::Value tag;
        const char* begins;
    } cases[] = {
        {5, {}, "\x1b[32m"},
        {6, {}, "\x1b[31m"},
        {5, platform::Value("blue"), "\x1b[34m"},
        {6, platform::Value("no profile"), "\x1b[31m"},
    };
    for (const auto& c : cases) {
        const std::string before = console.written();
        logger->logMessage(record(LGLogFlagInfo, "t", c.context, c.tag));
        const std::string line = console.written().substr(before.size());
        EXPECT_TRUE(line.starts_with(c.begins)) << c.context << ": " << line;
    }

    logger->clearColorsForFlag(LGLogFlagInfo);  // context 0: the every-context one stays
    world.settle();
    std::string before = console.written();
    logger->logMessage(record(LGLogFlagInfo, "t", 6));
    EXPECT_TRUE(console.written().substr(before.size()).starts_with("\x1b[31m"));

    logger->setColorsEnabled(false);
    world.settle();
    before = console.written();
    logger->logMessage(record(LGLogFlagInfo, "t", 5, platform::Value("blue")));
    EXPECT_EQ(console.written().find('\x1b', before.size()), std::string::npos);
}

TEST_F(ConsoleTest, TheDefaultProfilesColourErrorsAndWarnings) {
    platform::RecordingConsole console(true, "xterm-color");
    auto logger = std::make_shared<LGTTYLogger>(console, LGTTYLogger::Identity{"k", 1}, false, 0);
    LGLog::addLogger(logger);
    logger->setColorsEnabled(true);
    world.settle();
    logger->logMessage(record(LGLogFlagError));
    logger->logMessage(record(LGLogFlagWarning));
    logger->logMessage(record(LGLogFlagInfo));
    const std::string written = console.written();
    EXPECT_TRUE(written.starts_with("\x1b[31m"));
    EXPECT_NE(written.find("\x1b[0m\x1b[33m"), std::string::npos);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\x1b'), 4)
        << "the info line after them has no codes";
    EXPECT_TRUE(written.ends_with("] text\n"));
}

}  // namespace
