#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/ContinueHere.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"

namespace platform {
namespace {

using Priority = DispatchQueue::Priority;

TEST(DispatchTest, SerialQueueRunsTasksOneAtATimeInFifoOrder) {
    SerialQueue queue("test.serial");
    std::vector<int> order;
    std::atomic<int> inside = 0;
    bool overlapped = false;
    bool alwaysCurrent = true;
    constexpr int kTasks = 200;  // more than one batch, so the queue hops between workers
    for (int i = 0; i < kTasks; ++i) {
        queue.async([&, i] {
            overlapped = overlapped || inside.fetch_add(1) != 0;
            alwaysCurrent = alwaysCurrent && queue.isCurrent();
            order.push_back(i);
            inside.fetch_sub(1);
        });
    }
    queue.sync([] {});

    std::vector<int> expected(kTasks);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(overlapped);
    EXPECT_TRUE(alwaysCurrent);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(queue.label(), "test.serial");
}

TEST(DispatchTest, SyncRunsInlineOnItsOwnQueueAndRethrows) {
    SerialQueue queue("test.sync");
    bool innerRan = false;
    queue.sync([&] { queue.sync([&] { innerRan = true; }); });
    EXPECT_TRUE(innerRan);
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);

    bool onHigh = false;
    bool onLow = true;
    DispatchQueue::global(Priority::high).sync([&] {
        onHigh = DispatchQueue::global(Priority::high).isCurrent();
        onLow = DispatchQueue::global(Priority::low).isCurrent();
    });
    EXPECT_TRUE(onHigh);
    EXPECT_FALSE(onLow);
}

TEST(DispatchTest, SyncHereWhenIdleRunsOnTheCallerOnlyWhileTheQueueHasNothingToDo) {
    SerialQueue queue("test.here");
    std::vector<int> order;
    const auto caller = std::this_thread::get_id();
    bool here = false;
    bool current = false;
    queue.syncHereWhenIdle([&] {
        here = std::this_thread::get_id() == caller;
        current = queue.isCurrent() && DispatchQueue::currentLabel() == "test.here";
        queue.async([&] { order.push_back(2); });
        order.push_back(1);
    });
    EXPECT_TRUE(here);
    EXPECT_TRUE(current);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(queue.lastNumber(), 2u);
    queue.sync([] {});
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    // Busy: the task waits for what is queued, on the queue's own worker.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    queue.async([released] { released.wait(); });
    queue.async([&] { order.push_back(3); });
    // Released once the call below has queued its task behind those two.
    const std::uint64_t queuedBefore = queue.lastNumber();
    std::thread releaser([&] {
        while (queue.lastNumber() == queuedBefore) {
            std::this_thread::yield();
        }
        release.set_value();
    });
    std::thread::id ranOn;
    queue.syncHereWhenIdle([&] {
        ranOn = std::this_thread::get_id();
        order.push_back(4);
    });
    releaser.join();
    EXPECT_NE(ranOn, caller);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));

    EXPECT_THROW(queue.syncHereWhenIdle([] { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    bool after = false;
    queue.sync([&] { after = true; });
    EXPECT_TRUE(after);
}

TEST(DispatchTest, AContinueHereScopeRunsWhatItsThreadHandsToAGlobalQueueAtItsEnd) {
    const auto caller = std::this_thread::get_id();
    SerialQueue serial("test.continue");
    std::vector<std::string> here;
    std::promise<std::thread::id> serialRanOn;
    bool onHigh = false;
    {
        ContinueHereScope outer;
        {
            ContinueHereScope inner;
            ContinueHereScope::async(DispatchQueue::global(), [&] {
                here.push_back("inner 1");
                // Handed on from a kept task: the scope around takes it.
                ContinueHereScope::async(DispatchQueue::global(),
                                         [&] { here.push_back("from inner"); });
            });
            ContinueHereScope::async(DispatchQueue::global(Priority::high), [&] {
                onHigh = DispatchQueue::global(Priority::high).isCurrent() &&
                         std::this_thread::get_id() == caller;
                here.push_back("inner 2");
            });
            // A serial queue keeps its own turn.
            ContinueHereScope::async(serial,
                                     [&] { serialRanOn.set_value(std::this_thread::get_id()); });
            EXPECT_TRUE(here.empty());
        }
        EXPECT_EQ(here, (std::vector<std::string>{"inner 1", "inner 2"}));
        EXPECT_TRUE(onHigh);
    }
    EXPECT_EQ(here, (std::vector<std::string>{"inner 1", "inner 2", "from inner"}));
    EXPECT_NE(serialRanOn.get_future().get(), caller);
    EXPECT_FALSE(DispatchQueue::global().isCurrent());

    // Without a scope the task is queued as async queues it.
    std::promise<std::thread::id> queuedRanOn;
    ContinueHereScope::async(DispatchQueue::global(),
                             [&] { queuedRanOn.set_value(std::this_thread::get_id()); });
    EXPECT_NE(queuedRanOn.get_future().get(), caller);
}

TEST(DispatchTest, SerialQueueDestructorWaitsForQueuedTasks) {
    std::atomic<int> ran = 0;
    {
        SerialQueue queue("test.drain");
        for (int i = 0; i < 100; ++i) {
            queue.async([&] { ++ran; });
        }
    }
    EXPECT_EQ(ran, 100);
}

TEST(DispatchTest, MainQueueRunsOnTheInstalledMainLoop) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    ScopedMainRunLoop install(loop);

    bool asyncRanOnMain = false;
    bool inlineRan = false;
    DispatchQueue::main().async([&] {
        asyncRanOnMain = DispatchQueue::main().isCurrent();
        DispatchQueue::main().sync([&] { inlineRan = true; });
    });
    EXPECT_FALSE(asyncRanOnMain);
    loop.runUntilIdle();
    EXPECT_TRUE(asyncRanOnMain);
    EXPECT_TRUE(inlineRan);

    bool syncRanOnMain = false;
    std::thread worker([&] {
        DispatchQueue::main().sync([&] { syncRanOnMain = loop.isCurrent(); });
        loop.stop();
    });
    loop.run();
    worker.join();
    EXPECT_TRUE(syncRanOnMain);
}

TEST(DispatchTest, GroupNotifiesOnceEveryTaskFinished) {
    constexpr Priority kPriorities[] = {Priority::high, Priority::normal, Priority::low,
                                        Priority::background};
    std::promise<int> notified;
    SerialQueue notifyQueue("test.notify");
    DispatchGroup group;
    std::atomic<int> done = 0;
    for (int i = 0; i < 64; ++i) {
        group.async(DispatchQueue::global(kPriorities[i % 4]), [&] { ++done; });
    }
    group.notify(notifyQueue, [&] { notified.set_value(done.load()); });

    group.wait();
    EXPECT_EQ(done, 64);
    EXPECT_EQ(notified.get_future().get(), 64);
}

TEST(DispatchTest, GroupTimedWaitFailsWhileEnteredAndLeaveMustMatch) {
    DispatchGroup group;
    group.enter();
    EXPECT_FALSE(group.wait(0));
    group.leave();
    EXPECT_TRUE(group.wait(0));
    EXPECT_THROW(group.leave(), std::logic_error);
}

TEST(DispatchTest, SemaphoreTimedWaitTakesOnlyAvailableSignals) {
    struct Case {
        long initial;
        int signals;
        int available;
    };
    const Case cases[] = {{0, 0, 0}, {0, 2, 2}, {3, 0, 3}, {1, 1, 2}, {-1, 2, 1}};
    for (const Case& c : cases) {
        Semaphore semaphore(c.initial);
        for (int i = 0; i < c.signals; ++i) {
            semaphore.signal();
        }
        int taken = 0;
        while (semaphore.wait(0)) {
            ++taken;
        }
        EXPECT_EQ(taken, c.available) << "initial " << c.initial << ", signals " << c.signals;
    }
}

TEST(DispatchTest, BlockedWorkersDoNotStarveThePool) {
    // More blocked tasks than the pool has base threads; the one that releases them is queued
    // last, so it only runs if blocked workers lend their slots.
    const int blockers = 4 * static_cast<int>(std::max(4u, std::thread::hardware_concurrency()));
    Semaphore gate(0);
    Semaphore finished(0);
    for (int i = 0; i < blockers; ++i) {
        DispatchQueue::global().async([&gate, &finished] {
            gate.wait();
            finished.signal();
        });
    }
    DispatchQueue::global(Priority::background).async([&gate, blockers] {
        for (int i = 0; i < blockers; ++i) {
            gate.signal();
        }
    });
    for (int i = 0; i < blockers; ++i) {
        finished.wait();
    }
    SUCCEED();
}

}  // namespace
}  // namespace platform
