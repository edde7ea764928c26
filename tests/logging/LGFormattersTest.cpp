#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "logging/LGContextFilterLogFormatter.h"
#include "logging/LGDispatchQueueLogFormatter.h"
#include "logging/LGMultiFormatter.h"
#include "logging/LoggingWorld.h"
#include "platform/foundation/Dispatch.h"

namespace {

using logging_testing::kEpoch;

LGLogMessage record(std::int64_t context = 0, std::string text = "text") {
    return LGLogMessage(std::move(text), 31, LGLogFlagInfo, context, "f", "g", 1, {}, 0,
                        platform::Date{kEpoch + 0.5});
}

// A record made on a serial queue of this label.
LGLogMessage recordOnQueue(const std::string& label) {
    platform::SerialQueue queue(label);
    std::optional<LGLogMessage> made;
    queue.sync([&] { made = record(); });
    return *made;
}

// A record made on a thread without a queue or a name.
LGLogMessage recordOnPlainThread() {
    std::optional<LGLogMessage> made;
    std::thread([&] {
        // A thread starts with the process's name.
        pthread_setname_np(pthread_self(), "");
        made = record();
    }).join();
    return *made;
}

TEST(ContextFilterTest, EmptyListsDropAllOrPassAll) {
    LGContextWhitelistFilterLogFormatter whitelist;
    LGContextBlacklistFilterLogFormatter blacklist;
    EXPECT_EQ(whitelist.formatLogMessage(record(0)), std::nullopt);
    EXPECT_EQ(blacklist.formatLogMessage(record(0)), "text");
    whitelist.addToWhitelist(3);
    blacklist.addToBlacklist(3);
    EXPECT_EQ(whitelist.formatLogMessage(record(3)), "text");
    EXPECT_EQ(whitelist.formatLogMessage(record(4)), std::nullopt);
    EXPECT_EQ(blacklist.formatLogMessage(record(3)), std::nullopt);
    EXPECT_EQ(blacklist.formatLogMessage(record(4)), "text");
    whitelist.removeFromWhitelist(3);
    EXPECT_TRUE(whitelist.whitelist().empty());
    EXPECT_EQ(blacklist.blacklist(), std::vector<std::int64_t>{3});
}

TEST(DispatchQueueFormatterTest, LabelsComeFromTheQueueElseTheThread) {
    LGDispatchQueueLogFormatter formatter(0);
    EXPECT_EQ(formatter.formatLogMessage(recordOnQueue("kavo.worker")),
              "2016-03-02 09:05:00:500 [kavo.worker] text");
    const LGLogMessage plain = recordOnPlainThread();
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(plain), plain.threadID());
    formatter.setReplacementString(std::string("x"), plain.threadID());
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(plain), plain.threadID())
        << "a thread's number is never replaced";

    logging_testing::LoggingWorld world;
    std::optional<LGLogMessage> onMain;
    world.loop.post([&] { onMain = record(); });
    world.loop.runUntilIdle();
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(*onMain), "main");

    std::optional<LGLogMessage> onGlobal;
    platform::DispatchGroup group;
    group.async(platform::DispatchQueue::global(platform::DispatchQueue::Priority::normal),
                [&] { onGlobal = record(); });
    group.wait();
    EXPECT_NE(formatter.queueThreadLabelForLogMessage(*onGlobal), "global.normal")
        << "a global queue's label does not count";
}

TEST(DispatchQueueFormatterTest, ReplacementsThenCutOrPad) {
    LGDispatchQueueLogFormatter formatter(0);
    const LGLogMessage worker = recordOnQueue("kavo.worker");
    const LGLogMessage main = recordOnQueue("main");
    struct Case {
        std::uint64_t minimum;
        std::uint64_t maximum;
        const LGLogMessage* message;
        const char* label;
    } cases[] = {
        {0, 4, &worker, "kavo"},
        {6, 0, &main, "main  "},
        {6, 4, &main, "main  "},
        {0, 0, &worker, "kavo.worker"},
    };
    for (const auto& c : cases) {
        formatter.setMinQueueLength(c.minimum);
        formatter.setMaxQueueLength(c.maximum);
        EXPECT_EQ(formatter.queueThreadLabelForLogMessage(*c.message), c.label);
    }
    formatter.setMinQueueLength(0);
    formatter.setMaxQueueLength(0);
    formatter.setReplacementString(std::string("w"), "kavo.worker");
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(worker), "w");
    formatter.setReplacementString(std::nullopt, "kavo.worker");
    EXPECT_EQ(formatter.replacementStringForQueueLabel("kavo.worker"), std::nullopt);
}

// Counts what reaches it.
class CountingFormatter : public LGLogFormatter {
public:
    std::optional<std::string> formatLogMessage(const LGLogMessage& message) override {
        ++seen;
        return "[" + message.message() + "]";
    }
    std::atomic<int> seen{0};
};

TEST(MultiFormatterTest, TheChainStopsAtTheFirstFormatterThatDrops) {
    LGMultiFormatter chain;
    auto blacklist = std::make_shared<LGContextBlacklistFilterLogFormatter>();
    blacklist->addToBlacklist(7);
    auto counting = std::make_shared<CountingFormatter>();
    chain.addFormatter(blacklist);
    chain.addFormatter(counting);
    chain.addFormatter(counting);
    EXPECT_EQ(chain.formatLogMessage(record(1)), "[[text]]");
    EXPECT_EQ(counting->seen, 2);
    EXPECT_EQ(chain.formatLogMessage(record(7)), std::nullopt);
    EXPECT_EQ(counting->seen, 2) << "the second never saw the dropped record";
    EXPECT_TRUE(chain.isFormattingWithFormatter(counting));
    chain.removeFormatter(counting);
    EXPECT_EQ(chain.formatters().size(), 1u);
    chain.removeAllFormatters();
    EXPECT_EQ(chain.formatLogMessage(record(7)), "text");
}

}  // namespace
