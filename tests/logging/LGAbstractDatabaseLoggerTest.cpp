#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "logging/LGAbstractDatabaseLogger.h"
#include "logging/LoggingWorld.h"

namespace {

// Counts what the base asks of its storage.
class CountingDatabaseLogger : public LGAbstractDatabaseLogger {
public:
    explicit CountingDatabaseLogger(const LGClock& clock, bool takes = true)
        : LGAbstractDatabaseLogger("test.database", clock), takes_(takes) {}

    std::atomic<int> taken{0};
    std::atomic<int> saves{0};
    std::atomic<int> deletes{0};
    std::atomic<int> savesAndDeletes{0};

protected:
    bool db_log(const LGLogMessage& /*message*/) override {
        if (takes_) {
            ++taken;
        }
        return takes_;
    }
    void db_save() override { ++saves; }
    void db_delete() override { ++deletes; }
    void db_saveAndDelete() override { ++savesAndDeletes; }

private:
    const bool takes_;
};

class DatabaseLoggerTest : public ::testing::Test {
protected:
    logging_testing::LoggingWorld world;

    std::shared_ptr<CountingDatabaseLogger> registered(bool takes = true) {
        auto logger = std::make_shared<CountingDatabaseLogger>(world.clock, takes);
        LGLog::addLogger(logger);
        world.settle();
        return logger;
    }
    void log(int count) {
        for (int i = 0; i < count; ++i) {
            LGLog::log(true, "entry", LGLogLevelSystem, LGLogFlagInfo, 0, "f", "g", 1, {});
        }
        world.settle();
    }
};

TEST_F(DatabaseLoggerTest, TheFiveHundredthEntrySavesAtOnce) {
    auto logger = registered();
    log(499);
    EXPECT_EQ(logger->saves, 0);
    log(1);
    EXPECT_EQ(logger->saves, 1);
    world.advance(60);
    EXPECT_EQ(logger->saves, 1) << "nothing waits, so the timer does not save again";
}

TEST_F(DatabaseLoggerTest, ASingleEntryIsSavedSixtySecondsAfterItCame) {
    auto logger = registered();
    world.advance(10);
    log(1);
    world.advance(59.5);
    EXPECT_EQ(logger->saves, 0);
    log(1);
    world.advance(0.5);
    EXPECT_EQ(logger->saves, 1) << "timed from the first waiting entry";
    log(1);
    world.advance(60);
    EXPECT_EQ(logger->saves, 2);
}

TEST_F(DatabaseLoggerTest, WithoutThresholdOrIntervalOnlyAnExplicitSaveSaves) {
    struct Case {
        const char* how;
        void (*save)(CountingDatabaseLogger&);
    } cases[] = {
        {"savePendingLogEntries", [](CountingDatabaseLogger& l) { l.savePendingLogEntries(); }},
        {"flush", [](CountingDatabaseLogger&) { LGLog::flushLog(); }},
        {"removal",
         [](CountingDatabaseLogger& l) {
             LGLog::removeLogger(std::static_pointer_cast<LGLogger>(l.shared_from_this()));
         }},
    };
    for (const auto& c : cases) {
        auto logger = registered();
        logger->setSaveThreshold(0);
        logger->setSaveInterval(0);
        log(600);
        world.advance(7 * 86400);
        EXPECT_EQ(logger->saves, 0) << c.how;
        c.save(*logger);
        world.settle();
        EXPECT_EQ(logger->saves, 1) << c.how;
        LGLog::removeLogger(logger);
        world.settle();
    }
}

TEST_F(DatabaseLoggerTest, DeletionRunsEveryIntervalAndALowerAgeDeletesAtOnce) {
    auto logger = registered();
    world.advance(299);
    EXPECT_EQ(logger->deletes, 0);
    world.advance(1);
    EXPECT_EQ(logger->deletes, 1);
    world.advance(100);
    logger->setMaxAge(86400);
    world.settle();
    EXPECT_EQ(logger->deletes, 2) << "a lower age deletes at once";
    world.advance(299);
    EXPECT_EQ(logger->deletes, 2) << "and the interval counts from then";
    world.advance(1);
    EXPECT_EQ(logger->deletes, 3);
    logger->setMaxAge(7 * 86400);
    world.settle();
    EXPECT_EQ(logger->deletes, 3) << "a higher age deletes nothing";
    logger->setMaxAge(0);
    world.advance(3000);
    EXPECT_EQ(logger->deletes, 3) << "no age, no deletion";
}

TEST_F(DatabaseLoggerTest, SavingAlsoDeletesWhenAsked) {
    auto logger = registered();
    logger->setDeleteOnEverySave(true);
    log(1);
    world.advance(60);
    EXPECT_EQ(logger->saves, 0);
    EXPECT_EQ(logger->savesAndDeletes, 1);
}

TEST_F(DatabaseLoggerTest, AnEntryTheStorageRefusesNeverCausesASave) {
    auto logger = registered(false);
    log(1000);
    world.advance(600);
    LGLog::flushLog();
    EXPECT_EQ(logger->saves, 0);
}

TEST_F(DatabaseLoggerTest, SettingsReadBackInOrder) {
    auto logger = registered();
    EXPECT_EQ(logger->saveThreshold(), 500u);
    EXPECT_EQ(logger->saveInterval(), 60);
    EXPECT_EQ(logger->maxAge(), 604800);
    EXPECT_EQ(logger->deleteInterval(), 300);
    EXPECT_FALSE(logger->deleteOnEverySave());
    log(10);
    logger->setSaveThreshold(10);
    EXPECT_EQ(logger->saveThreshold(), 10u);
    EXPECT_EQ(logger->saves, 1) << "a threshold already reached saves at once";
}

}  // namespace
