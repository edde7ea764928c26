#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/RunLoop.h"

namespace platform {
namespace {

// Records what fired and the loop's clock at that moment.
struct Trace {
    RunLoop& loop;
    std::vector<std::pair<std::string, double>> events;

    std::function<void()> record(std::string name) {
        return [this, name = std::move(name)] { events.emplace_back(name, loop.now()); };
    }
};

using Events = std::vector<std::pair<std::string, double>>;

TEST(RunLoopTest, OneShotTimerFiresOnceAtItsDeadlineThenIsInvalid) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    Trace trace{loop, {}};
    auto timer = loop.scheduleTimer(2.1, false, trace.record("retransmit"));

    loop.advance(2.0);
    EXPECT_TRUE(trace.events.empty());
    EXPECT_TRUE(timer->isValid());

    loop.advance(10.0);
    EXPECT_EQ(trace.events, (Events{{"retransmit", 2.1}}));
    EXPECT_FALSE(timer->isValid());
    EXPECT_DOUBLE_EQ(loop.now(), 12.0);
}

TEST(RunLoopTest, RepeatingTimerFiresOncePerIntervalAtItsOwnTime) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    Trace trace{loop, {}};
    auto timer = loop.scheduleTimer(1.0, true, trace.record("tick"));

    loop.advance(10.0);
    ASSERT_EQ(trace.events.size(), 10u);
    for (std::size_t i = 0; i < trace.events.size(); ++i) {
        EXPECT_DOUBLE_EQ(trace.events[i].second, static_cast<double>(i + 1));
    }
    EXPECT_TRUE(timer->isValid());

    timer->invalidate();
    loop.advance(5.0);
    EXPECT_EQ(trace.events.size(), 10u);
}

TEST(RunLoopTest, RepeatingTimerCanInvalidateItselfFromItsCallback) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    int fires = 0;
    std::shared_ptr<Timer> timer;
    timer = loop.scheduleTimer(1.0, true, [&] {
        if (++fires == 3) {
            timer->invalidate();
        }
    });
    loop.advance(10.0);
    EXPECT_EQ(fires, 3);
}

TEST(RunLoopTest, TimerInvalidatedByAnEarlierCallbackAtTheSameDeadlineNeverFires) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    Trace trace{loop, {}};
    std::shared_ptr<Timer> victim;
    loop.scheduleTimer(1.0, false, [&] {
        trace.events.emplace_back("killer", loop.now());
        victim->invalidate();
    });
    victim = loop.scheduleTimer(1.0, false, trace.record("victim"));

    loop.advance(5.0);
    EXPECT_EQ(trace.events, (Events{{"killer", 1.0}}));
}

TEST(RunLoopTest, LoopKeepsATimerWhoseCallerDroppedIt) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    bool fired = false;
    loop.scheduleTimer(1.0, false, [&] { fired = true; });
    loop.advance(1.0);
    EXPECT_TRUE(fired);
}

TEST(RunLoopTest, TimersScheduledFromTimersFireWithinTheSameAdvance) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    Trace trace{loop, {}};
    loop.scheduleTimer(1.0, false, [&] {
        trace.events.emplace_back("outer", loop.now());
        loop.scheduleTimer(0.5, false, trace.record("inner"));
        loop.scheduleTimer(2.0, false, trace.record("late"));
    });

    loop.advance(2.0);
    EXPECT_EQ(trace.events, (Events{{"outer", 1.0}, {"inner", 1.5}}));
    loop.advance(1.0);
    EXPECT_EQ(trace.events.back(), (std::pair<std::string, double>{"late", 3.0}));
}

TEST(RunLoopTest, PostsAndTimersRunByDeadlineThenCreationOrder) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    Trace trace{loop, {}};
    loop.scheduleTimer(1.0, false, trace.record("timer a"));
    loop.post(trace.record("post"));
    loop.postDelayed(1.0, trace.record("delayed"));
    loop.scheduleTimer(1.0, false, trace.record("timer b"));
    loop.scheduleTimer(0.5, false, [&] {
        trace.events.emplace_back("half", loop.now());
        loop.post(trace.record("posted by half"));
    });

    loop.advance(1.0);
    EXPECT_EQ(trace.events, (Events{{"post", 0.0},
                                    {"half", 0.5},
                                    {"posted by half", 0.5},
                                    {"timer a", 1.0},
                                    {"delayed", 1.0},
                                    {"timer b", 1.0}}));
}

TEST(RunLoopTest, RunUntilIdleRunsChainedPostsWithoutMovingTheClock) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    int depth = 0;
    std::function<void()> chain = [&] {
        if (++depth < 5) {
            loop.post(chain);
        }
    };
    loop.post(chain);
    bool timerFired = false;
    loop.scheduleTimer(0.1, false, [&] { timerFired = true; });

    loop.runUntilIdle();
    EXPECT_EQ(depth, 5);
    EXPECT_FALSE(timerFired);
    EXPECT_EQ(loop.now(), 0.0);
}

TEST(RunLoopTest, VirtualRunJumpsToTimersUntilStopped) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    std::vector<double> fired;
    loop.scheduleTimer(5.0, false, [&] { fired.push_back(loop.now()); });
    loop.scheduleTimer(7.0, false, [&] {
        fired.push_back(loop.now());
        EXPECT_TRUE(loop.isCurrent());
        loop.stop();
    });
    loop.scheduleTimer(9.0, false, [&] { fired.push_back(loop.now()); });

    loop.run();
    EXPECT_EQ(fired, (std::vector<double>{5.0, 7.0}));
    EXPECT_DOUBLE_EQ(loop.now(), 7.0);
    EXPECT_FALSE(loop.isCurrent());
}

TEST(RunLoopTest, VirtualRunUntilWaitsForAPostFromAnotherThread) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    bool delivered = false;
    std::thread poster([&] { loop.post([&] { delivered = true; }); });
    loop.runUntil([&] { return delivered; });
    poster.join();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(loop.now(), 0.0);
}

TEST(RunLoopTest, TheLoopThreadIsTheDriverElseTheLastDriverElseTheMaker) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    const auto onAnotherThread = [&] {
        bool result = true;
        std::thread([&] { result = loop.isLoopThread(); }).join();
        return result;
    };
    EXPECT_TRUE(loop.isLoopThread()) << "made here and never driven";
    EXPECT_FALSE(onAnotherThread());

    bool driverInside = false;
    std::thread driver([&] {
        loop.post([&] { driverInside = loop.isLoopThread() && loop.isCurrent(); });
        loop.runUntilIdle();
    });
    driver.join();
    EXPECT_TRUE(driverInside);
    EXPECT_FALSE(loop.isLoopThread()) << "another thread drove it last";

    loop.runUntilIdle();
    EXPECT_TRUE(loop.isLoopThread());
    EXPECT_FALSE(loop.isCurrent()) << "between steps nothing drives it";
    EXPECT_FALSE(onAnotherThread());
}

TEST(RunLoopTest, RealRunWakesForAPostFromAnotherThread) {
    RunLoop loop(RunLoop::Clock::real);
    bool ranOnLoop = false;
    std::thread poster([&] {
        loop.post([&] {
            ranOnLoop = loop.isCurrent();
            loop.stop();
        });
    });
    loop.run();
    poster.join();
    EXPECT_TRUE(ranOnLoop);
}

TEST(RunLoopTest, RealRunUntilFiresTimersAndCrossThreadPosts) {
    RunLoop loop(RunLoop::Clock::real);
    int steps = 0;
    std::thread poster;
    loop.scheduleTimer(0.001, false, [&] {
        ++steps;
        poster = std::thread([&] { loop.post([&] { ++steps; }); });
    });
    loop.runUntil([&] { return steps == 2; });
    poster.join();
    EXPECT_EQ(steps, 2);
    EXPECT_THROW(loop.advance(1.0), std::logic_error);
}

TEST(RunLoopTest, HostLoopSeesNextDeadlineAndWakeUps) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    std::atomic<int> wakeUps = 0;
    loop.setWakeUpHandler([&] { ++wakeUps; });
    EXPECT_TRUE(std::isinf(loop.nextDeadline()));

    auto timer = loop.scheduleTimer(3.0, false, [] {});
    EXPECT_EQ(loop.nextDeadline(), 3.0);
    std::thread([&] { loop.post([] {}); }).join();
    EXPECT_EQ(wakeUps, 2);
    EXPECT_EQ(loop.nextDeadline(), 0.0);

    loop.processDue();
    timer->invalidate();
    EXPECT_TRUE(std::isinf(loop.nextDeadline()));
}

TEST(RunLoopTest, ScopedMainRunLoopInstallsAndRestores) {
    RunLoop& before = RunLoop::main();
    RunLoop outer(RunLoop::Clock::virtualTime);
    RunLoop inner(RunLoop::Clock::virtualTime);
    {
        ScopedMainRunLoop installOuter(outer);
        EXPECT_EQ(&RunLoop::main(), &outer);
        {
            ScopedMainRunLoop installInner(inner);
            EXPECT_EQ(&RunLoop::main(), &inner);
        }
        EXPECT_EQ(&RunLoop::main(), &outer);
    }
    EXPECT_EQ(&RunLoop::main(), &before);
    EXPECT_FALSE(before.isVirtual());
}

}  // namespace
}  // namespace platform
