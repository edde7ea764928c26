#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <thread>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"

namespace platform {
namespace {

struct Owner {
    explicit Owner(RunLoop& loop) : weak(*this, loop) {}
    int visits = 0;
    WeakPtrFactory<Owner> weak;
};

TEST(WeakPtrTest, YieldsTheOwnerWhileItLivesAndNullAfterwardsInEveryCopy) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    auto owner = std::make_unique<Owner>(loop);
    const WeakPtr<Owner> first = owner->weak.weakPtr();
    const WeakPtr<Owner> copy = first;
    EXPECT_EQ(first.get(), owner.get());
    EXPECT_EQ(&*copy, owner.get());
    EXPECT_TRUE(copy);

    owner.reset();
    EXPECT_EQ(first.get(), nullptr);
    EXPECT_EQ(copy.get(), nullptr);
    EXPECT_FALSE(copy);
    EXPECT_EQ(WeakPtr<Owner>().get(), nullptr);
}

TEST(WeakPtrTest, ATaskPostedByAnOwnerThatDiedBeforeItRanFindsNothing) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    auto owner = std::make_unique<Owner>(loop);
    auto survivor = std::make_unique<Owner>(loop);
    std::optional<bool> found;
    const auto visitLater = [&](Owner& target) {
        loop.post([weak = target.weak.weakPtr(), &found] {
            found = weak.get() != nullptr;
            if (weak) {
                ++weak->visits;
            }
        });
    };
    visitLater(*owner);
    owner.reset();
    loop.runUntilIdle();
    EXPECT_EQ(found, false);

    visitLater(*survivor);
    loop.runUntilIdle();
    EXPECT_EQ(found, true);
    EXPECT_EQ(survivor->visits, 1);
}

TEST(WeakPtrTest, ItMayBeCopiedOnAnotherThreadAndReadOnTheLoop) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    Owner owner(loop);
    std::thread poster([&] { loop.post([weak = owner.weak.weakPtr()] { ++weak->visits; }); });
    poster.join();
    loop.runUntilIdle();
    EXPECT_EQ(owner.visits, 1);
}

#ifndef NDEBUG
TEST(WeakPtrDeathTest, ReadingItOffTheLoopsThreadStopsADebugBuild) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RunLoop loop(RunLoop::Clock::virtualTime);
    Owner owner(loop);
    const WeakPtr<Owner> weak = owner.weak.weakPtr();
    EXPECT_DEATH(std::thread([&] { (void)weak.get(); }).join(), "off its run loop's thread");
}
#endif

}  // namespace
}  // namespace platform
