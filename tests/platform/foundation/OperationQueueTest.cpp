#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/ContinueHere.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"

namespace platform {
namespace {

// Finishes a given time after it starts, like a send waiting for the watch's acknowledgement.
class TimedOperation final : public Operation {
public:
    TimedOperation(RunLoop& loop, double duration)
        : Operation(/*asynchronous=*/true), loop_(loop), duration_(duration) {}

    int mainCalls = 0;

private:
    void main() override {
        ++mainCalls;
        loop_.scheduleTimer(duration_, false, [this] { finish(); });
    }

    RunLoop& loop_;
    const double duration_;
};

struct OperationQueueTest : ::testing::Test {
    RunLoop loop{RunLoop::Clock::virtualTime};
    OperationQueue queue{loop};
    std::vector<std::string> ran;

    std::function<void()> record(std::string name) {
        return [this, name = std::move(name)] { ran.push_back(name); };
    }
};

TEST_F(OperationQueueTest, StartsHighestPriorityFirstAndFifoWithinAPriority) {
    struct Added {
        const char* name;
        QueuePriority priority;
    };
    const Added added[] = {
        {"normal 1", QueuePriority::normal},    {"low", QueuePriority::low},
        {"very high", QueuePriority::veryHigh}, {"normal 2", QueuePriority::normal},
        {"very low", QueuePriority::veryLow},   {"high", QueuePriority::high},
        {"normal 3", QueuePriority::normal},
    };
    queue.setMaxConcurrentOperationCount(1);
    queue.setSuspended(true);
    for (const Added& operation : added) {
        queue.addOperation(record(operation.name), operation.priority);
    }
    loop.runUntilIdle();
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(queue.operationCount(), 7u);

    queue.setSuspended(false);
    loop.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"very high", "high", "normal 1", "normal 2",
                                             "normal 3", "low", "very low"}));
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST_F(OperationQueueTest, SuspendingStopsNewStartsButNotTheRunningOperation) {
    queue.setMaxConcurrentOperationCount(2);
    auto sending = std::make_shared<TimedOperation>(loop, 2.1);
    queue.addOperation(sending);
    queue.addOperation([&] {
        ran.push_back("suspender");
        queue.setSuspended(true);
    });
    queue.addOperation(record("after resume"));

    loop.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"suspender"}));
    EXPECT_TRUE(sending->isExecuting());

    loop.advance(2.1);
    EXPECT_TRUE(sending->isFinished());
    EXPECT_EQ(ran.size(), 1u);
    EXPECT_EQ(queue.operationCount(), 1u);

    queue.setSuspended(false);
    loop.runUntilIdle();
    EXPECT_EQ(ran.back(), "after resume");
}

TEST_F(OperationQueueTest, CancelledOperationsFinishWithoutRunning) {
    queue.setSuspended(true);
    auto timed = std::make_shared<TimedOperation>(loop, 1.0);
    int completions = 0;
    timed->setCompletionBlock([&] { ++completions; });
    queue.addOperation(timed);
    for (int i = 0; i < 3; ++i) {
        auto block = std::make_shared<BlockOperation>(record("block"));
        block->setCompletionBlock([&] { ++completions; });
        queue.addOperation(block);
    }

    queue.cancelAllOperations();
    queue.setSuspended(false);
    loop.runUntilIdle();
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(timed->mainCalls, 0);
    EXPECT_TRUE(timed->isCancelled());
    EXPECT_TRUE(timed->isFinished());
    EXPECT_EQ(completions, 4);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST_F(OperationQueueTest, AsynchronousOperationHoldsItsSlotUntilItFinishes) {
    queue.setMaxConcurrentOperationCount(1);
    auto sending = std::make_shared<TimedOperation>(loop, 2.1);
    queue.addOperation(sending);
    queue.addOperation([&] { ran.push_back("next at " + std::to_string(loop.now())); });

    loop.advance(2.0);
    EXPECT_TRUE(sending->isExecuting());
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(queue.operationCount(), 2u);

    loop.advance(0.1);
    EXPECT_TRUE(sending->isFinished());
    EXPECT_FALSE(sending->isExecuting());
    EXPECT_EQ(ran, (std::vector<std::string>{"next at 2.100000"}));
}

TEST_F(OperationQueueTest, WaitingOnALoopQueueDrivesTheLoop) {
    auto sending = std::make_shared<TimedOperation>(loop, 2.1);
    queue.addOperation(sending);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sending->isFinished());
    EXPECT_DOUBLE_EQ(loop.now(), 2.1);
}

TEST_F(OperationQueueTest, AnOperationJoinsOnlyOneQueueOnce) {
    auto operation = std::make_shared<BlockOperation>([] {});
    queue.addOperation(operation);
    EXPECT_THROW(queue.addOperation(operation), std::logic_error);
    OperationQueue other(loop);
    EXPECT_THROW(other.addOperation(operation), std::logic_error);
}

TEST(OperationQueuePoolTest, RespectsTheConcurrencyLimitOnThePool) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(3);
    std::atomic<int> running = 0;
    std::atomic<int> peak = 0;
    std::atomic<int> done = 0;
    for (int i = 0; i < 60; ++i) {
        queue.addOperation([&] {
            const int now = ++running;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            --running;
            ++done;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done, 60);
    EXPECT_LE(peak, 3);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueuePoolTest, AnIdleQueueRunsAnOperationOnTheCallerAndWhatItHandsOnAfterIt) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    const auto caller = std::this_thread::get_id();
    std::mutex mutex;
    std::vector<std::string> order;
    const auto note = [&](std::string what) {
        std::lock_guard lock(mutex);
        order.push_back(std::move(what));
    };
    std::promise<void> laterRan;
    bool here = false;
    bool handedOnHere = false;
    std::size_t countWhenHandedOn = 1;
    const bool ranHere = queue.addOperationHereWhenIdle([&] {
        here = std::this_thread::get_id() == caller;
        // Queued behind this one, never beside it.
        queue.addOperation([&] {
            note("later");
            laterRan.set_value();
        });
        ContinueHereScope::async(DispatchQueue::global(), [&] {
            handedOnHere =
                std::this_thread::get_id() == caller && DispatchQueue::global().isCurrent();
            countWhenHandedOn = queue.operationCount();
            note("handed on");
        });
        note("first");
    });
    EXPECT_TRUE(ranHere);
    EXPECT_TRUE(here);
    // What the operation handed on ran here once the operation had left the queue.
    EXPECT_TRUE(handedOnHere);
    EXPECT_LE(countWhenHandedOn, 1u);
    laterRan.get_future().wait();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order.front(), "first");
    EXPECT_EQ(order.size(), 3u);
}

TEST(OperationQueuePoolTest, ABusyOrSuspendedQueueQueuesInsteadOfRunningOnTheCaller) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> holding = true;
    queue.addOperation([&, released] {
        released.wait();
        holding = false;
    });
    std::atomic<bool> overlapped = false;
    std::atomic<bool> onCaller = false;
    const auto caller = std::this_thread::get_id();
    EXPECT_FALSE(queue.addOperationHereWhenIdle([&] {
        overlapped = holding.load();
        onCaller = std::this_thread::get_id() == caller;
    }));
    release.set_value();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(onCaller);

    queue.setSuspended(true);
    std::atomic<bool> ran = false;
    EXPECT_FALSE(queue.addOperationHereWhenIdle([&] { ran = true; }));
    EXPECT_FALSE(ran);
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(ran);
}

TEST_F(OperationQueueTest, ALoopQueueNeverRunsAnOperationOnTheCaller) {
    EXPECT_FALSE(queue.addOperationHereWhenIdle(record("a")));
    EXPECT_TRUE(ran.empty());
    loop.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"a"}));
}

}  // namespace
}  // namespace platform
