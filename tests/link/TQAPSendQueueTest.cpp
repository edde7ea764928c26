#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/TQAPSendQueue.h"
#include "link/TQMessageQueue.h"
#include "platform/foundation/RunLoop.h"

namespace {

using platform::Bytes;

class TQAPSendQueueTest : public ::testing::Test {
protected:
    void add(char tag, int priority) {
        queue_.add({Bytes{static_cast<std::uint8_t>(tag)}, 0}, priority);
    }

    platform::RunLoop loop_{platform::RunLoop::Clock::virtualTime};
    std::string started_;
    bool suspendOnStart_ = true;
    TQAPSendQueue queue_{loop_, [this](const TQDataModel& model, const TQSendCompletion&) {
                             started_.push_back(static_cast<char>(model.data.at(0)));
                             if (suspendOnStart_) {
                                 queue_.setSuspended(true);
                             }
                         }};
};

TEST_F(TQAPSendQueueTest, StartsOneAtATimeHighestPriorityFirstThenInOrder) {
    add('a', TQAPSendQueue::kNormal);
    add('b', TQAPSendQueue::kLow);
    add('c', TQAPSendQueue::kHigh);
    add('d', TQAPSendQueue::kNormal);
    add('e', TQAPSendQueue::kVeryLow);
    add('f', TQAPSendQueue::kHigh);
    EXPECT_EQ(started_, "") << "operations start on the loop, never inside add";

    for (int i = 0; i < 7; ++i) {
        loop_.runUntilIdle();
        EXPECT_TRUE(queue_.isSuspended() || queue_.operationCount() == 0);
        queue_.setSuspended(false);
    }
    EXPECT_EQ(started_, "cfadbe");
}

TEST_F(TQAPSendQueueTest, CancellingDropsWaitingOperationsEvenWhileSuspended) {
    add('a', TQAPSendQueue::kNormal);
    loop_.runUntilIdle();
    add('b', TQAPSendQueue::kHigh);
    add('c', TQAPSendQueue::kLow);

    EXPECT_EQ(queue_.cancelAllOperations().size(), 2U);
    queue_.setSuspended(false);
    loop_.runUntilIdle();
    EXPECT_EQ(started_, "a");

    add('d', TQAPSendQueue::kNormal);
    loop_.runUntilIdle();
    EXPECT_EQ(started_, "ad");
}

TEST_F(TQAPSendQueueTest, AnOperationThatDoesNotSuspendLetsTheNextOneStart) {
    suspendOnStart_ = false;
    add('a', TQAPSendQueue::kLow);
    add('b', TQAPSendQueue::kHigh);
    loop_.runUntilIdle();
    EXPECT_EQ(started_, "ba");
}

TEST_F(TQAPSendQueueTest, EachMessageKeepsItsCompletionToTheOperationOrBackFromCancelling) {
    std::string heard;
    const auto completion = [&heard](char tag) {
        return [&heard, tag](const TQSendOutcome&) { heard.push_back(tag); };
    };
    const auto acknowledged = TQSendOutcome::acknowledged();
    TQAPSendQueue queue(loop_, [&](const TQDataModel&, const TQSendCompletion& done) {
        done(acknowledged);
        queue.setSuspended(true);
    });
    queue.add({Bytes{1}, 0}, TQAPSendQueue::kLow, completion('a'));
    queue.add({Bytes{2}, 0}, TQAPSendQueue::kHigh, completion('b'));
    queue.add({Bytes{3}, 0}, TQAPSendQueue::kNormal, completion('c'));
    queue.add({Bytes{4}, 0}, TQAPSendQueue::kHigh, completion('d'));
    loop_.runUntilIdle();
    EXPECT_EQ(heard, "b");

    for (const TQSendCompletion& cancelled : queue.cancelAllOperations()) {
        cancelled(acknowledged);
    }
    EXPECT_EQ(heard, "bdca") << "cancelled in the order they would have run";
}

TEST_F(TQAPSendQueueTest, APumpPostedBeforeTheQueueWentAwayDoesNothing) {
    platform::RunLoop loop(platform::RunLoop::Clock::virtualTime);
    int started = 0;
    {
        TQAPSendQueue queue(loop, [&](const TQDataModel&, const TQSendCompletion&) { ++started; });
        queue.add({Bytes{1}, 0}, TQAPSendQueue::kNormal);
    }
    loop.runUntilIdle();
    EXPECT_EQ(started, 0);
}

TEST(TQMessageQueueTest, IsOneFirstInFirstOutListForTheApplication) {
    TQMessageQueue installed;
    platform::ScopedInstall<TQMessageQueue> install(&installed);
    TQMessageQueue& queue = TQMessageQueue::getInstance();
    EXPECT_EQ(&queue, &installed);

    queue.enqueue("first");
    queue.enqueue(platform::Value{{"msgId", "second"}});
    EXPECT_FALSE(queue.empty());
    EXPECT_EQ(queue.dequeue(), platform::Value("first"));
    EXPECT_EQ(queue.dequeue(), (platform::Value{{"msgId", "second"}}));
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.dequeue(), std::nullopt);
}

}  // namespace
