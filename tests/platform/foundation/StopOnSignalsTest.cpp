#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/StopOnSignals.h"

namespace platform {
namespace {

// In a process of its own: the signal goes to the whole process, and any thread the test
// binary started earlier would take it and die.
[[noreturn]] void runUntilSignalled(int signal) {
    RunLoop loop(RunLoop::Clock::real);
    int received = 0;
    {
        StopOnSignals stop(loop);
        ::kill(::getpid(), signal);
        loop.run();  // nothing else stops it
        received = stop.received();
    }
    std::exit(received == signal ? 0 : 1);
}

TEST(StopOnSignalsTest, TheSignalStopsTheLoopInsteadOfTheProcess) {
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        EXPECT_EXIT(runUntilSignalled(signal), ::testing::ExitedWithCode(0), "");
    }
    GTEST_FLAG_SET(death_test_style, style);
}

bool blocks(int signal) {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

TEST(StopOnSignalsTest, EndingWithoutASignalLeavesTheLoopRunningAndTheMaskAsItWas) {
    const bool blockedBefore = blocks(SIGTERM);
    RunLoop loop(RunLoop::Clock::virtualTime);
    {
        StopOnSignals stop(loop);
        EXPECT_TRUE(blocks(SIGINT));
        EXPECT_TRUE(blocks(SIGTERM));
        EXPECT_EQ(stop.received(), 0);
    }
    EXPECT_EQ(blocks(SIGTERM), blockedBefore);
    // Its own wake-up at the end was no stop: the next run does its work.
    bool ran = false;
    loop.post([&] { ran = true; });
    loop.runUntil([&] { return ran; });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace platform
