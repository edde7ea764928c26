#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "e2e/E2EWorld.h"
#include "link/TQBLEStatus.h"

namespace e2e {
namespace {

using kavowatch::Purpose;
using platform::bluetooth::PeripheralState;

class ReconnectionTest : public E2ETest {
protected:
    void pairWatch() {
        ASSERT_NO_FATAL_FAILURE(startPhone());
        watch = makeWatch(kWatch);
        watch->powerOn();
        watch->advertise(static_cast<std::uint8_t>(Purpose::setupWizard));
        ASSERT_NO_FATAL_FAILURE(pairThroughTheScreens(*watch));
    }

    // The watch walks away and comes back looking for its phone; the time of the loss.
    double vanishAndReturn() {
        const int disconnects = world.delegate->count("disconnect");
        watch->vanish();
        EXPECT_TRUE(runUntil([&] { return world.delegate->count("disconnect") > disconnects; }, 5));
        const double lostAt = now();
        watch->powerOn();
        watch->advertise(static_cast<std::uint8_t>(Purpose::autoConnection));
        return lostAt;
    }

    std::unique_ptr<kavowatch::Watch> watch;
};

TEST_F(ReconnectionTest, AVanishedWatchIsSearchedFoundAndReconnectedByThePhone) {
    ASSERT_NO_FATAL_FAILURE(pairWatch());
    StatusTrace& trace = traceStatuses();
    const double lostAt = vanishAndReturn();
    EXPECT_FALSE(world.ap.isConnected());
    EXPECT_TRUE(world.manager.isSearchTimerRunning());
    const auto afterLoss = trace.statuses();
    EXPECT_NE(std::find(afterLoss.begin(), afterLoss.end(), TQBLEStatus_AutoConnecting),
              afterLoss.end());

    // The first search comes 30 s after the loss, though the watch was back long before.
    ASSERT_TRUE(runUntil([&] { return searching(); }, TQBleManager::kSearchInterval + 1));
    EXPECT_DOUBLE_EQ(now() - lostAt, TQBleManager::kSearchInterval);

    ASSERT_TRUE(runUntil([&] { return world.manager.connectedDevice() != nullptr; }, 1));
    const double foundAt = now();
    RemotePeripheral& found = *world.manager.connectedDevice();
    EXPECT_EQ(found.identifier(), kWatch);
    EXPECT_FALSE(searching()) << "the scan stops at the find";

    // The connection is asked for 0.1 s after the find.
    ASSERT_TRUE(runUntil([&] { return found.state() != PeripheralState::disconnected; }, 1));
    EXPECT_NEAR(now() - foundAt, TQBleManager::kAutoConnectDelay, 1e-9);

    ASSERT_TRUE(runUntil([&] { return watch->isPaired(); }, 5));
    settle(5);
    EXPECT_EQ(world.delegate->count("connect"), 2);
    EXPECT_TRUE(world.ap.isConnected());
    EXPECT_FALSE(world.manager.isSearchTimerRunning());
    EXPECT_EQ(watch->counters().handshakesCompleted, 2);
    const auto statuses = trace.statuses();
    const std::vector<std::uint64_t> tail(statuses.end() - 2, statuses.end());
    EXPECT_EQ(tail,
              (std::vector<std::uint64_t>{TQBLEStatus_Peripheral_Connect, TQBLEStatus_Connect}));
}

TEST_F(ReconnectionTest, AHundredVanishAndReturnCyclesEachEndPairedOnce) {
    ASSERT_NO_FATAL_FAILURE(pairWatch());
    constexpr int kCycles = 100;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        const double lostAt = vanishAndReturn();
        ASSERT_TRUE(runUntil([&] { return watch->isPaired(); }, TQBleManager::kSearchInterval + 5));
        EXPECT_LT(now() - lostAt, TQBleManager::kSearchInterval + 1);
        settle(5);
        ASSERT_EQ(world.delegate->count("connect"), cycle + 1);
        ASSERT_EQ(world.delegate->count("disconnect"), cycle);
        // Paired and quiet: every timer of the loss, the search and the transfer is gone.
        ASSERT_TRUE(std::isinf(world.loop.nextDeadline()))
            << "something still scheduled at " << world.loop.nextDeadline() << ", now " << now();
    }
    EXPECT_EQ(watch->counters().handshakesCompleted, kCycles + 1);
    EXPECT_EQ(watch->counters().vanishes, kCycles);
}

}  // namespace
}  // namespace e2e
