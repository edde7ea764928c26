#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/ui/camera/NewestOnly.h"
#include "support/LoopWait.h"

namespace {

using platform::camera::NewestOnly;

class NewestOnlyTest : public ::testing::Test {
protected:
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    std::vector<int> taken;
    std::unique_ptr<NewestOnly<int>> newest =
        std::make_unique<NewestOnly<int>>(loop, [this](int value) { taken.push_back(value); });
};

TEST_F(NewestOnlyTest, AValuePutWhileAnotherWaitsReplacesIt) {
    const auto put = newest->putter();
    put(1);
    put(2);
    loop.runUntilIdle();
    EXPECT_EQ(taken, std::vector<int>{2});
    put(3);
    loop.runUntilIdle();
    EXPECT_EQ(taken, (std::vector<int>{2, 3}));
}

TEST_F(NewestOnlyTest, AFastProducerOnAnotherThreadReachesTheLoopInOrderEndingWithItsLast) {
    constexpr int kLast = 5000;
    std::thread producer([put = newest->putter()] {
        for (int value = 1; value <= kLast; ++value) {
            put(value);
        }
    });
    const bool reached = testing_support::runLoopUntil(
        loop, [&] { return !taken.empty() && taken.back() == kLast; });
    producer.join();
    ASSERT_TRUE(reached);
    loop.runUntilIdle();
    EXPECT_EQ(taken.back(), kLast);
    EXPECT_LE(taken.size(), std::size_t{kLast});
    for (std::size_t i = 1; i < taken.size(); ++i) {
        ASSERT_LT(taken[i - 1], taken[i]);
    }
}

TEST_F(NewestOnlyTest, NothingIsTakenOnceClearedOrGone) {
    const auto put = newest->putter();
    put(1);
    newest->clear();
    loop.runUntilIdle();
    EXPECT_TRUE(taken.empty());

    put(2);
    newest.reset();  // with a value waiting and the loop told
    put(3);
    loop.runUntilIdle();
    EXPECT_TRUE(taken.empty());
}

}  // namespace
