#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/LGLog.h"

namespace {

class RecordingLogger : public LGAbstractLogger {
public:
    RecordingLogger() : LGAbstractLogger("test.recording") {}

    void logMessage(const LGLogMessage& message) override {
        std::string text = message.message();
        if (formatter_) {
            text = formatter_->formatLogMessage(message).value_or("<dropped>");
        }
        std::lock_guard lock(mutex_);
        lines_.push_back(text);
    }
    void flush() override { ++flushes; }

    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    std::atomic<int> flushes{0};

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Every test leaves the process-wide hub without loggers.
class LGLogTest : public ::testing::Test {
protected:
    void TearDown() override {
        LGLog::removeAllLoggers();
        LGLog::flushLog();
    }
};

TEST_F(LGLogTest, RecordsFromManyThreadsReachEveryLoggerInOneOrder) {
    auto first = std::make_shared<RecordingLogger>();
    auto second = std::make_shared<RecordingLogger>();
    LGLog::addLogger(first);
    LGLog::addLogger(second);
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                LG_VERBOSE("%d %d", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    LGLog::flushLog();
    const auto lines = first->lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
    EXPECT_EQ(lines, second->lines());
    std::vector<int> next(kThreads, 0);
    for (const auto& line : lines) {
        const int t = line[0] - '0';
        EXPECT_EQ(line, std::to_string(t) + " " + std::to_string(next[t]));
        ++next[t];
    }
}

TEST_F(LGLogTest, AnErrorLineIsDeliveredBeforeTheCallReturns) {
    auto logger = std::make_shared<RecordingLogger>();
    LGLog::addLogger(logger);
    LG_ERROR("Error %s", "now");
    EXPECT_EQ(logger->lines(), std::vector<std::string>{"Error now"});
}

TEST_F(LGLogTest, LevelsFilterByFlag) {
    auto infoOnly = std::make_shared<RecordingLogger>();
    auto everything = std::make_shared<RecordingLogger>();
    LGLog::addLogger(infoOnly, LGLogFlagInfo);
    LGLog::addLogger(everything);
    LG_ERROR("e");
    LG_WARN("w");
    LG_INFO("i");
    LG_DEBUG("d");
    LG_VERBOSE("v");
    LGLog::flushLog();
    EXPECT_EQ(infoOnly->lines(), std::vector<std::string>{"i"});
    EXPECT_EQ(everything->lines(), (std::vector<std::string>{"e", "w", "i", "d", "v"}));
}

TEST_F(LGLogTest, RegistrationOrderDuplicatesAndRemoval) {
    auto a = std::make_shared<RecordingLogger>();
    auto b = std::make_shared<RecordingLogger>();
    LGLog::addLogger(a);
    LGLog::addLogger(b);
    LGLog::addLogger(a);
    LGLog::addLogger(nullptr);
    EXPECT_EQ(LGLog::allLoggers(), (std::vector<std::shared_ptr<LGLogger>>{a, b, a}));
    LG_INFO("twice");
    LGLog::removeLogger(a);
    EXPECT_EQ(LGLog::allLoggers(), (std::vector<std::shared_ptr<LGLogger>>{b, a}));
    LGLog::flushLog();
    EXPECT_EQ(a->lines(), (std::vector<std::string>{"twice", "twice"}));
}

TEST_F(LGLogTest, RecordsThatReachNoLoggerStillReleaseTheBound) {
    for (int i = 0; i < 2500; ++i) {
        LG_VERBOSE("nobody listens %d", i);
    }
    // Queued but admitted by no logger: a record that kept its place would block the 1001st.
    auto infoOnly = std::make_shared<RecordingLogger>();
    LGLog::addLogger(infoOnly, LGLogFlagInfo);
    for (int i = 0; i < 2500; ++i) {
        // Past the macros' own filter, as a record queued just before its logger went would be.
        LGLog::queueLogMessage(LGLogMessage("filtered", LGLogLevelSystem, LGLogFlagVerbose, 0,
                                            __FILE__, __func__, __LINE__),
                               true);
    }
    LG_INFO("admitted");
    LGLog::flushLog();
    EXPECT_EQ(infoOnly->lines(), std::vector<std::string>{"admitted"});
}

TEST_F(LGLogTest, ARecordLoggedRightAfterRegistrationReachesTheLogger) {
    auto logger = std::make_shared<RecordingLogger>();
    LGLog::addLogger(logger);
    LG_VERBOSE("first");
    LGLog::removeLogger(logger);
    LG_VERBOSE("after removal");
    LGLog::flushLog();
    EXPECT_EQ(logger->lines(), std::vector<std::string>{"first"});
    EXPECT_FALSE(LGLog::hasLoggers());
}

TEST_F(LGLogTest, ArgumentsAreEvaluatedOnlyWhenALoggerAdmitsTheFlag) {
    int evaluated = 0;
    const auto argument = [&evaluated] { return ++evaluated; };
    // Which of error, info and verbose lines had their arguments evaluated.
    const auto evaluatedFor = [&] {
        std::string seen;
        evaluated = 0;
        LG_ERROR("%d", argument());
        seen += evaluated > 0 ? 'e' : '-';
        evaluated = 0;
        LG_INFO("%d", argument());
        seen += evaluated > 0 ? 'i' : '-';
        evaluated = 0;
        LG_VERBOSE("%d", argument());
        seen += evaluated > 0 ? 'v' : '-';
        return seen;
    };
    auto infoOnly = std::make_shared<RecordingLogger>();
    auto verboseOnly = std::make_shared<RecordingLogger>();
    EXPECT_EQ(evaluatedFor(), "---") << "no logger";
    LGLog::addLogger(infoOnly, LGLogFlagInfo);
    EXPECT_EQ(evaluatedFor(), "-i-") << "an info logger, at once";
    LGLog::addLogger(verboseOnly, LGLogFlagVerbose);
    LGLog::addLogger(verboseOnly, LGLogFlagVerbose);
    EXPECT_EQ(evaluatedFor(), "-iv") << "and a verbose one, twice";
    LGLog::removeLogger(verboseOnly);
    LGLog::flushLog();
    EXPECT_EQ(evaluatedFor(), "-iv") << "the verbose one, once more";
    LGLog::removeLogger(verboseOnly);
    LGLog::flushLog();
    EXPECT_EQ(evaluatedFor(), "-i-") << "the verbose one removed";
    {
        LGLogHub hub;
        platform::ScopedInstall<LGLogHub> installed(&hub);
        EXPECT_EQ(evaluatedFor(), "---") << "a hub of its own has no logger";
    }
    // A registration made while a removal of everything waits keeps its level.
    LGLog::removeAllLoggers();
    LGLog::addLogger(infoOnly, LGLogFlagError);
    LGLog::flushLog();
    EXPECT_EQ(evaluatedFor(), "e--") << "all removed, then an error logger";
    EXPECT_EQ(infoOnly->lines(), (std::vector<std::string>{"1", "1", "1", "1", "1"}));
}

class GatedLogger : public LGAbstractLogger {
public:
    GatedLogger() : LGAbstractLogger("test.gated") {}
    void logMessage(const LGLogMessage&) override {
        if (delivered == 0) {
            started.signal();
            gate.wait();
        }
        ++delivered;
    }
    platform::Semaphore started{0};
    platform::Semaphore gate{0};
    std::atomic<int> delivered{0};
};

TEST_F(LGLogTest, TheThousandAndFirstWaitingRecordBlocksItsCaller) {
    auto logger = std::make_shared<GatedLogger>();
    LGLog::addLogger(logger);
    platform::Semaphore aboutToExceed{0};
    int deliveredWhenReturned = -1;
    std::thread caller([&] {
        for (int i = 0; i < 1000; ++i) {
            LG_VERBOSE("line %d", i);
        }
        aboutToExceed.signal();
        LG_VERBOSE("one too many");
        deliveredWhenReturned = logger->delivered;
    });
    logger->started.wait();
    aboutToExceed.wait();
    EXPECT_EQ(logger->delivered, 0);
    logger->gate.signal();
    caller.join();
    EXPECT_GE(deliveredWhenReturned, 1);
    LGLog::flushLog();
    EXPECT_EQ(logger->delivered, 1001);
}

TEST_F(LGLogTest, FlushDeliversEverythingQueuedThenFlushesEveryLogger) {
    auto a = std::make_shared<RecordingLogger>();
    auto b = std::make_shared<RecordingLogger>();
    LGLog::addLogger(a);
    LGLog::addLogger(b);
    for (int i = 0; i < 50; ++i) {
        LG_DEBUG("%d", i);
    }
    LGLog::flushLog();
    EXPECT_EQ(a->lines().size(), 50u);
    EXPECT_EQ(a->flushes, 1);
    EXPECT_EQ(b->flushes, 1);
}

class PrefixFormatter : public LGLogFormatter {
public:
    std::optional<std::string> formatLogMessage(const LGLogMessage& message) override {
        if (message.message() == "drop") {
            return std::nullopt;
        }
        return std::string(message.fileName()) + ": " + message.message();
    }
    void didAddToLogger(LGLogger&) override { ++added; }
    std::atomic<int> added{0};
};

TEST_F(LGLogTest, AFormatterTakesEffectInOrderWithTheRecords) {
    auto logger = std::make_shared<RecordingLogger>();
    auto formatter = std::make_shared<PrefixFormatter>();
    LGLog::addLogger(logger);
    LG_INFO("before");
    logger->setLogFormatter(formatter);
    LG_INFO("after");
    LG_INFO("drop");
    LGLog::flushLog();
    EXPECT_EQ(logger->lines(),
              (std::vector<std::string>{"before", "LGLogTest: after", "<dropped>"}));
    EXPECT_EQ(logger->logFormatter(), formatter);
    EXPECT_EQ(formatter->added, 1);
}

// What a logger saw of each record, read while it had the record.
class FieldsLogger : public LGAbstractLogger {
public:
    struct Seen {
        std::string message;
        std::string file;
        std::string function;
        std::uint64_t line;
        std::int64_t context;
        std::int64_t options;
        bool tagged;
        std::string threadID;
    };

    FieldsLogger() : LGAbstractLogger("test.fields") {}
    void logMessage(const LGLogMessage& m) override {
        std::lock_guard lock(mutex_);
        seen_.push_back({m.message(), std::string(m.file()), std::string(m.function()), m.line(),
                         m.context(), m.options(), !m.tag().isNull(), m.threadID()});
    }
    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// The hub refills the records of spent batches: a line must carry nothing of the one that held
// its record before, and a record must keep its thread's identity after the thread is gone.
TEST_F(LGLogTest, ARefilledRecordCarriesNothingOfTheLineBefore) {
    auto logger = std::make_shared<FieldsLogger>();
    LGLog::addLogger(logger);
    const std::string hereID = LGLogMessage("", 31, 1, 0, "", "", 0).threadID();
    const std::string longText(5000, 'x');
    auto file = std::make_unique<std::string>("/made/Dynamic.cpp");
    LGLog::queueLogMessage(LGLogMessage(longText, 31, LGLogFlagInfo, 7, file->c_str(), "made", 3,
                                        platform::Value("tag"),
                                        LGLogMessage::CopyFile | LGLogMessage::CopyFunction),
                           true);
    file.reset();
    std::string goneID;
    std::thread([&goneID] {
        goneID = LGLogMessage("", 31, 1, 0, "", "", 0).threadID();
        LG_INFO("from a thread now gone");
    }).join();
    LGLog::flushLog();
    // Into the records the lines above held.
    LG_INFO("short %d", 1);
    LG_VERBOSE("%@", "plain");
    LGLog::flushLog();

    const auto seen = logger->seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].message, longText);
    EXPECT_EQ(seen[0].file, "/made/Dynamic.cpp");
    EXPECT_EQ(seen[0].function, "made");
    EXPECT_TRUE(seen[0].tagged);
    EXPECT_EQ(seen[1].message, "from a thread now gone");
    EXPECT_EQ(seen[1].threadID, goneID);
    const char* const texts[] = {"short 1", "plain"};
    for (std::size_t i = 2; i < 4; ++i) {
        EXPECT_EQ(seen[i].message, texts[i - 2]);
        EXPECT_EQ(seen[i].file, __FILE__);
        EXPECT_EQ(seen[i].function, "TestBody");
        EXPECT_EQ(seen[i].context, 0);
        EXPECT_EQ(seen[i].options, 0);
        EXPECT_FALSE(seen[i].tagged);
        EXPECT_EQ(seen[i].threadID, hereID);
    }
    EXPECT_NE(goneID, hereID);
}

// A thread's last lines may come from the destructors of its own thread-local objects (and
// the main thread's from static ones), after what the logging keeps per thread is gone.
TEST_F(LGLogTest, LinesFromAThreadThatIsEndingArriveWhole) {
    auto logger = std::make_shared<RecordingLogger>();
    LGLog::addLogger(logger);
    const std::string longText(200, 'y');
    // The spent record the thread's first line takes leaves the thread its room for that line.
    LG_INFO("before %s", longText);
    LGLog::flushLog();
    std::thread([&longText] {
        struct LogsAtExit {
            const std::string* text;
            ~LogsAtExit() { LG_INFO("last %s", *text); }
        };
        // Made before the thread's first line, so it goes after what that line made.
        thread_local LogsAtExit logsAtExit{nullptr};
        logsAtExit.text = &longText;
        LG_INFO("first %s", longText);
    }).join();
    LGLog::flushLog();
    EXPECT_EQ(logger->lines(), (std::vector<std::string>{"before " + longText, "first " + longText,
                                                         "last " + longText}));
}

TEST(LGLogMessageTest, FieldsOfARecord) {
    struct Case {
        const char* file;
        const char* fileName;
    };
    const Case cases[] = {{"/src/link/TQProtocol.mm", "TQProtocol"},
                          {"/a/b/x.y.cpp", "x.y"},
                          {"Makefile", "Makefile"},
                          {"/dir.d/noext", "noext"}};
    for (const auto& c : cases) {
        LGLogMessage message("text", 31, LGLogFlagInfo, 0, c.file, "f", 7);
        EXPECT_EQ(message.fileName(), c.fileName) << c.file;
    }
    LGLogMessage message("text", 31, LGLogFlagInfo, 0, "f.cpp", "function", 7, {}, 0,
                         platform::Date{5.0});
    EXPECT_EQ(message.timestamp(), platform::Date{5.0});
    EXPECT_FALSE(message.threadID().empty());
    EXPECT_EQ(message.threadID().find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(message.withMessage("other").message(), "other");
    EXPECT_EQ(message.withMessage("other").line(), 7u);

    platform::SerialQueue queue("kavo.test.label");
    std::string label;
    queue.sync([&] { label = LGLogMessage("t", 31, 1, 0, "", "", 0).queueLabel(); });
    EXPECT_EQ(label, "kavo.test.label");
}

TEST(LGLogMessageTest, StaticFileAndFunctionAreBorrowedOthersCopiedOnRequest) {
    static const char kFile[] = "/src/link/TQAP.cpp";
    const LGLogMessage borrowed("t", 31, 1, 0, kFile, __func__, 1);
    EXPECT_EQ(borrowed.file().data(), kFile);
    EXPECT_EQ(borrowed.function(), __func__);
    EXPECT_EQ(LGLogMessage("t", 31, 1, 0, nullptr, nullptr, 1).file(), "");

    auto file = std::make_unique<std::string>("/gone/Made.cpp");
    auto function = std::make_unique<std::string>("made");
    const LGLogMessage copied("t", 31, 1, 0, file->c_str(), function->c_str(), 1, {},
                              LGLogMessage::CopyFile | LGLogMessage::CopyFunction);
    const LGLogMessage fileOnly("t", 31, 1, 0, file->c_str(), "kept", 1, {},
                                LGLogMessage::CopyFile);
    file.reset();
    function.reset();
    const LGLogMessage copy = copied.withMessage("u");
    EXPECT_EQ(copy.file(), "/gone/Made.cpp");
    EXPECT_EQ(copy.fileName(), "Made");
    EXPECT_EQ(copy.function(), "made");
    EXPECT_EQ(fileOnly.file(), "/gone/Made.cpp");
    EXPECT_EQ(fileOnly.function(), "kept");
}

TEST(LGLogClassLevelTest, OnlyRegisteredClassesHaveLevels) {
    EXPECT_FALSE(LGLog::isRegisteredClass("TQProtocol"));
    EXPECT_EQ(LGLog::levelForClassWithName("TQProtocol"), LGLogLevelAll);
    LGLog::setLevelForClassWithName(4, "TQProtocol");
    EXPECT_EQ(LGLog::levelForClassWithName("TQProtocol"), LGLogLevelAll);

    static std::uint64_t level = 31;
    LGLog::registerClass("TQRegistered",
                         {[] { return level; }, [](std::uint64_t l) { level = l; }});
    EXPECT_TRUE(LGLog::isRegisteredClass("TQRegistered"));
    LGLog::setLevelForClassWithName(4, "TQRegistered");
    EXPECT_EQ(LGLog::levelForClassWithName("TQRegistered"), 4u);
    EXPECT_EQ(LGLog::registeredClassNames(), std::vector<std::string>{"TQRegistered"});
}

}  // namespace

namespace {

TEST(LGLogExitTest, TheProcessExitsWithARegistrationStillQueued) {
    // A forked child would inherit the pools' locks held by threads it does not have.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            for (int i = 0; i < 8; ++i) {
                LGLog::addLogger(std::make_shared<RecordingLogger>());
                LG_VERBOSE("line %d", i);
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
