#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "logging/LGFileLogger.h"
#include "logging/LGLog.h"
#include "logging/LGLogFileFormatterDefault.h"
#include "logging/LGLogFileManager.h"
#include "logging/LoggingWorld.h"
#include "platform/oslog/ExtendedAttributes.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using logging_testing::kEpoch;

constexpr const char* kApp = "B";

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void logLine(std::string text) {
    LGLog::log(true, std::move(text), LGLogLevelSystem, LGLogFlagInfo, 0, "f.cpp", "f", 1, {});
}

class LogFilesTest : public ::testing::Test {
protected:
    // The folder and the attributes outlive the hub, whose end closes and marks the files.
    testing_support::TempDir folder;
    platform::HostExtendedAttributes attributes;
    logging_testing::LoggingWorld world;

    std::shared_ptr<LGLogFileManagerDefault> makeManager() {
        return std::make_shared<LGLogFileManagerDefault>(folder.path(), kApp, attributes,
                                                         world.clock);
    }
    // A log file made at `minute` minutes after the epoch, of `size` bytes.
    fs::path placeFile(int minute, std::uint64_t size, bool archived = true,
                       const std::string& counter = "") {
        const double at = kEpoch + 60.0 * minute;
        LGRunLoopClock then(world.loop, at - world.loop.now());
        LGLogFileManagerDefault namer(folder.path(), kApp, attributes, then);
        std::string name = namer.newLogFileName();
        if (!counter.empty()) {
            name.insert(name.size() - 4, " " + counter);
        }
        const fs::path path = folder.path() / name;
        std::ofstream(path).close();
        fs::resize_file(path, size);
        if (archived) {
            LGLogFileInfo(path, attributes).setIsArchived(true);
        }
        return path;
    }
    std::vector<std::string> names() {
        std::vector<std::string> result;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            result.push_back(entry.path().filename().string());
        }
        std::sort(result.begin(), result.end());
        return result;
    }
    // A file logger with the launch's settings, registered.
    std::shared_ptr<LGFileLogger> launchLogger(std::shared_ptr<LGLogFileManagerDefault> manager) {
        manager->setMaximumNumberOfLogFiles(7);
        auto logger = std::make_shared<LGFileLogger>(std::move(manager), world.clock);
        logger->setMaximumFileSize(5242880);
        logger->setRollingFrequency(86400);
        LGLog::addLogger(logger);
        world.settle();
        return logger;
    }
};

TEST_F(LogFilesTest, NamesCarryTheMinuteInGmtAndACounterWithinOneMinute) {
    auto manager = makeManager();
    EXPECT_EQ(manager->newLogFileName(), "B 2016-03-02 09-05.log");
    world.loop.advance(59);
    const char* expected[] = {"B 2016-03-02 09-05.log", "B 2016-03-02 09-05 2.log",
                              "B 2016-03-02 09-05 3.log"};
    for (const char* name : expected) {
        const auto made = manager->createNewLogFile();
        ASSERT_TRUE(made);
        EXPECT_EQ(made->fileName(), name);
    }
    EXPECT_EQ(manager->sortedLogFileNames(),
              (std::vector<std::string>{expected[2], expected[1], expected[0]}))
        << "newest first";
    world.loop.advance(1);
    EXPECT_EQ(manager->newLogFileName(), "B 2016-03-02 09-06.log");
}

TEST_F(LogFilesTest, OnlyNamesOfTheApplicationWithADateCount) {
    auto manager = makeManager();
    const struct {
        const char* name;
        bool counts;
    } cases[] = {
        {"B 2016-03-02 09-05.log", true},    {"B 2016-03-02 09-05 2.log", true},
        {"B 2016-12-31 23-59 17.log", true}, {"B.log", false},
        {"B notadate.log", false},           {"B 2016-03-02 09-05.txt", false},
        {"C 2016-03-02 09-05.log", false},   {"B 2016-03-02  09-05.log", false},
        {"B 2016-13-02 09-05.log", false},   {"B 2016-02-30 09-05.log", false},
        {"B 2016-03-02 24-00.log", false},   {"B 2016-03-02 09-05 2 3.log", false},
        {"B2016-03-02 09-05 2.log", false},  {"B 2016-03-02 09-05.log.archived", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(manager->isLogFile(c.name), c.counts) << c.name;
    }
}

TEST_F(LogFilesTest, AFileEndsWithTheLineThatBringsItTo5MiB) {
    auto logger = launchLogger(makeManager());
    const std::string text(65536, 'x');
    const std::size_t lineLength = 25 + text.size() + 1;  // stamp, two spaces, text, line end
    const std::size_t linesToFill = 5242880 / lineLength + 1;
    for (std::size_t i = 0; i < linesToFill + 2; ++i) {
        logLine(text);
    }
    LGLog::flushLog();
    const auto infos = makeManager()->sortedLogFileInfos();
    ASSERT_EQ(infos.size(), 2u);
    const LGLogFileInfo& full = infos[1];
    EXPECT_EQ(full.fileSize(), linesToFill * lineLength);
    EXPECT_GE(full.fileSize(), 5242880u);
    EXPECT_LT(full.fileSize() - lineLength, 5242880u);
    EXPECT_TRUE(full.isArchived());
    EXPECT_FALSE(infos[0].isArchived());
    EXPECT_EQ(infos[0].fileSize(), 2 * lineLength);
    EXPECT_EQ(infos[0].fileName(), "B 2016-03-02 09-05 2.log");
}

TEST_F(LogFilesTest, LinesHandedOverTogetherRollWhereTheyWouldOneByOne) {
    auto manager = makeManager();
    auto logger = std::make_shared<LGFileLogger>(manager, world.clock);
    logger->setLogFormatter(std::make_shared<LGLogFileFormatterDefault>(0));
    logger->setMaximumFileSize(100);
    LGLog::flushLog();
    // 36 bytes a line: the third takes a file past 100 bytes and ends it.
    std::vector<LGLogMessage> records;
    for (int i = 0; i < 7; ++i) {
        records.emplace_back("line " + std::to_string(i) + "    ", LGLogLevelSystem, LGLogFlagInfo,
                             0, "f.cpp", "f", 1, platform::Value{}, 0, platform::Date{kEpoch});
    }
    std::vector<const LGLogMessage*> batch;
    for (const auto& record : records) {
        batch.push_back(&record);
    }
    logger->loggerQueue()->sync([&] { logger->logMessages(batch); });
    logger->loggerQueue()->sync([&] { logger->willRemoveLogger(); });
    ASSERT_EQ(names(),
              (std::vector<std::string>{"B 2016-03-02 09-05 2.log", "B 2016-03-02 09-05 3.log",
                                        "B 2016-03-02 09-05.log"}));
    const auto lines = [](std::initializer_list<int> numbers) {
        std::string text;
        for (const int i : numbers) {
            text += "2016/03/02 09:05:00:000  line " + std::to_string(i) + "    \n";
        }
        return text;
    };
    EXPECT_EQ(readFile(folder.path() / "B 2016-03-02 09-05.log"), lines({0, 1, 2}));
    EXPECT_EQ(readFile(folder.path() / "B 2016-03-02 09-05 2.log"), lines({3, 4, 5}));
    EXPECT_EQ(readFile(folder.path() / "B 2016-03-02 09-05 3.log"), lines({6}));
}

TEST_F(LogFilesTest, AFileClosesAfterADayEvenWhenNothingIsLogged) {
    auto logger = launchLogger(makeManager());
    logLine("first");
    LGLog::flushLog();
    world.advance(86399);
    EXPECT_FALSE(makeManager()->sortedLogFileInfos().at(0).isArchived());
    world.advance(1);
    const auto before = makeManager()->sortedLogFileInfos();
    ASSERT_EQ(before.size(), 1u);
    EXPECT_TRUE(before[0].isArchived()) << "closed at T + 86400 s";
    logLine("second");
    LGLog::flushLog();
    const auto after = makeManager()->sortedLogFileInfos();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].fileName(), "B 2016-03-03 09-05.log");
    EXPECT_EQ(readFile(after[0].filePath()), "2016/03/03 09:05:00:000  second\n")
        << "time stamps come from the loop's clock";
}

TEST_F(LogFilesTest, TheCountKeepsSevenWithTheNewFile) {
    for (int minute = 0; minute < 8; ++minute) {
        placeFile(minute, 10);
    }
    const fs::path stranger = folder.path() / "B no date.log";
    std::ofstream(stranger).put('x');
    auto manager = makeManager();
    manager->setMaximumNumberOfLogFiles(7);
    world.settle();
    ASSERT_EQ(manager->sortedLogFileInfos().size(), 7u) << "a lower limit deletes at once";
    world.loop.advance(10 * 60);
    ASSERT_TRUE(manager->createNewLogFile());
    const auto left = manager->sortedLogFileNames();
    ASSERT_EQ(left.size(), 7u);
    EXPECT_EQ(left.front(), "B 2016-03-02 09-15.log");
    EXPECT_EQ(left.back(), "B 2016-03-02 09-07.log") << "the two oldest went";
    EXPECT_TRUE(fs::exists(stranger)) << "a name without a date is no log file";
}

TEST_F(LogFilesTest, TheQuotaBindsBeforeTheCountForFullFiles) {
    for (int minute = 0; minute < 6; ++minute) {
        placeFile(minute, 5242881);
    }
    world.loop.advance(10 * 60);
    auto manager = makeManager();
    manager->setMaximumNumberOfLogFiles(7);
    world.settle();
    ASSERT_TRUE(manager->createNewLogFile());
    EXPECT_EQ(manager->sortedLogFileNames(),
              (std::vector<std::string>{"B 2016-03-02 09-15.log", "B 2016-03-02 09-10.log",
                                        "B 2016-03-02 09-09.log", "B 2016-03-02 09-08.log"}));
}

TEST_F(LogFilesTest, TheFileBeingWrittenIsKeptWhenItAloneExceedsTheQuota) {
    placeFile(0, 100);
    placeFile(1, 100);
    placeFile(2, 1000, false);
    auto manager = makeManager();
    manager->setLogFilesDiskQuota(500);
    world.settle();
    EXPECT_EQ(manager->sortedLogFileNames(), std::vector<std::string>{"B 2016-03-02 09-07.log"});
}

TEST_F(LogFilesTest, AnArchivedNewestFileGoesWhenItExceedsTheQuota) {
    placeFile(0, 100);
    placeFile(1, 1000);
    auto manager = makeManager();
    manager->setLogFilesDiskQuota(500);
    world.settle();
    EXPECT_TRUE(manager->sortedLogFileNames().empty());
}

TEST_F(LogFilesTest, ACurrentFileDeletedFromOutsideIsReplacedByANewOne) {
    auto logger = launchLogger(makeManager());
    logLine("one");
    LGLog::flushLog();
    const auto first = makeManager()->sortedLogFilePaths();
    ASSERT_EQ(first.size(), 1u);
    fs::remove(first[0]);
    logLine("two");
    LGLog::flushLog();
    const auto second = makeManager()->sortedLogFilePaths();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(readFile(second[0]), "2016/03/02 09:05:00:000  two\n");
}

TEST_F(LogFilesTest, TheNewestFileIsContinuedUnlessItIsArchivedFullOrOld) {
    struct Case {
        const char* what;
        std::uint64_t size;
        bool archived;
        double ageMinutes;
        bool continued;
    } cases[] = {
        {"young and small", 10, false, 1, true},
        {"archived", 10, true, 1, false},
        {"full", 5242880, false, 1, false},
        {"a day old", 10, false, 24 * 60, false},
    };
    for (const auto& c : cases) {
        testing_support::TempDir own;
        logging_testing::LoggingWorld inner;
        inner.loop.advance(c.ageMinutes * 60);
        // The file was made at kEpoch; the clock now reads kEpoch + age.
        LGRunLoopClock atEpoch(inner.loop, kEpoch - inner.loop.now());
        const fs::path old =
            own.path() /
            LGLogFileManagerDefault(own.path(), kApp, attributes, atEpoch).newLogFileName();
        std::ofstream(old).close();
        fs::resize_file(old, c.size);
        if (c.archived) {
            LGLogFileInfo(old, attributes).setIsArchived(true);
        }
        auto manager =
            std::make_shared<LGLogFileManagerDefault>(own.path(), kApp, attributes, inner.clock);
        auto logger = std::make_shared<LGFileLogger>(manager, inner.clock);
        logger->setMaximumFileSize(5242880);
        LGLog::addLogger(logger);
        logLine("next");
        LGLog::flushLog();
        const auto infos = manager->sortedLogFileInfos();
        EXPECT_EQ(infos.size(), c.continued ? 1u : 2u) << c.what;
        EXPECT_EQ(LGLogFileInfo(old, attributes).isArchived(), !c.continued) << c.what;
    }
}

TEST_F(LogFilesTest, TheArchivedMarkRoundTripsAsAnAttributeOrACompanionFile) {
    const fs::path path = placeFile(0, 10, false);
    platform::MemoryExtendedAttributes refusing(false);
    for (platform::ExtendedAttributes* kind :
         {static_cast<platform::ExtendedAttributes*>(&attributes),
          static_cast<platform::ExtendedAttributes*>(&refusing)}) {
        LGLogFileInfo info(path, *kind);
        EXPECT_FALSE(info.isArchived());
        info.setIsArchived(true);
        EXPECT_TRUE(LGLogFileInfo(path, *kind).isArchived());
        info.setIsArchived(false);
        EXPECT_FALSE(LGLogFileInfo(path, *kind).isArchived());
    }
    LGLogFileInfo(path, refusing).setIsArchived(true);
    EXPECT_EQ(names(), (std::vector<std::string>{"B 2016-03-02 09-05.log",
                                                 "B 2016-03-02 09-05.log.archived"}));
    LGLogFileManagerDefault manager(folder.path(), kApp, refusing, world.clock);
    EXPECT_EQ(manager.unsortedLogFileNames(), std::vector<std::string>{"B 2016-03-02 09-05.log"});
    manager.sortedLogFileInfos().at(0).removeFile();
    EXPECT_TRUE(names().empty()) << "the companion goes with its file";
}

// Hands the text back as it is, or a text of its own.
class EchoFormatter : public LGLogFormatter {
public:
    explicit EchoFormatter(bool rewrite) : rewrite_(rewrite) {}
    std::optional<std::string> formatLogMessage(const LGLogMessage& message) override {
        return rewrite_ ? "<" + message.message() + ">" : message.message();
    }

private:
    bool rewrite_;
};

TEST_F(LogFilesTest, ALineEndFollowsUnformattedTextAndFormattedTextWhileAsked) {
    struct Case {
        bool rewrite;
        bool append;
        const char* expected;
    } cases[] = {
        {false, false, "a\n"},
        {true, true, "<a>\n"},
        {true, false, "<a>"},
    };
    for (const auto& c : cases) {
        testing_support::TempDir own;
        auto manager =
            std::make_shared<LGLogFileManagerDefault>(own.path(), kApp, attributes, world.clock);
        auto logger = std::make_shared<LGFileLogger>(manager, world.clock);
        logger->setLogFormatter(std::make_shared<EchoFormatter>(c.rewrite));
        logger->setAutomaticallyAppendNewlineForCustomFormatters(c.append);
        LGLog::addLogger(logger);
        logLine("a");
        LGLog::flushLog();
        EXPECT_EQ(readFile(manager->sortedLogFilePaths().at(0)), c.expected);
        LGLog::removeLogger(logger);
        world.settle();
    }
}

TEST(LogFileFormatterTest, TheLineHasTheDateWithMillisecondsAndTwoSpaces) {
    LGLogFileFormatterDefault formatter(3600);
    const LGLogMessage message("text", 31, LGLogFlagInfo, 0, "f", "g", 1, {}, 0,
                               platform::Date{kEpoch + 0.25});
    EXPECT_EQ(formatter.formatLogMessage(message), "2016/03/02 10:05:00:250  text");
}

TEST(LogFileFormatterTest, StampsWithinOneSecondFollowTheirZoneAndMilliseconds) {
    LGLogFileFormatterDefault east(3600);
    LGLogFileFormatterDefault west(-3600);
    const auto at = [](double seconds) {
        return LGLogMessage("t", 31, LGLogFlagInfo, 0, "f", "g", 1, {}, 0,
                            platform::Date{kEpoch + seconds});
    };
    EXPECT_EQ(east.formatLogMessage(at(0.25)), "2016/03/02 10:05:00:250  t");
    EXPECT_EQ(east.formatLogMessage(at(0.5)), "2016/03/02 10:05:00:500  t");
    EXPECT_EQ(west.formatLogMessage(at(0.5)), "2016/03/02 08:05:00:500  t");
    EXPECT_EQ(east.formatLogMessage(at(1.5)), "2016/03/02 10:05:01:500  t");
    EXPECT_EQ(east.formatLogMessage(at(-0.5)), "2016/03/02 10:04:59:500  t");
}

}  // namespace
