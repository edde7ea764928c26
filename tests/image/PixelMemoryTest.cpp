#include <gtest/gtest.h>

#include <cstring>

#include "image/support/ImageFixtures.h"
#include "platform/foundation/Replaceable.h"
#include "platform/image/ImageSource.h"
#include "platform/image/PixelMemory.h"

namespace {

using platform::image::PixelMemory;
constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(PixelMemoryTest, ABlockGivenBackServesTheNextBitmapOfItsSize) {
    PixelMemory memory;
    void* first = nullptr;
    {
        auto block = memory.lend(8 * kMiB);
        ASSERT_TRUE(block);
        first = block->data();
        std::memset(first, 0x5A, 8 * kMiB);
        EXPECT_EQ(memory.keptBytes(), 0u);
    }
    EXPECT_EQ(memory.keptBytes(), 8 * kMiB);
    auto again = memory.lend(7 * kMiB);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->data(), first);
    EXPECT_EQ(memory.keptBytes(), 0u);
}

TEST(PixelMemoryTest, OnlyABlockThatFitsWithoutMuchWasteIsLent) {
    PixelMemory memory;
    memory.lend(8 * kMiB).reset();
    // Too small, and more than twice as large: both fresh, the kept one stays.
    auto larger = memory.lend(9 * kMiB);
    auto smaller = memory.lend(3 * kMiB);
    ASSERT_TRUE(larger && smaller);
    EXPECT_EQ(memory.keptBytes(), 8 * kMiB);
}

TEST(PixelMemoryTest, WhatIsKeptIsBoundedAndPurged) {
    PixelMemory memory(20 * kMiB, 2);
    {
        auto a = memory.lend(8 * kMiB);
        auto b = memory.lend(8 * kMiB);
        auto c = memory.lend(8 * kMiB);
        auto huge = memory.lend(24 * kMiB);
    }
    // Two blocks at most, 20 MiB at most: the oldest and the one too large for it went.
    EXPECT_EQ(memory.keptBytes(), 16 * kMiB);
    memory.purge();
    EXPECT_EQ(memory.keptBytes(), 0u);
}

TEST(PixelMemoryTest, ABlockOutlivesTheMemoryThatLentIt) {
    std::unique_ptr<platform::image::PixelBlock> block;
    {
        PixelMemory memory;
        block = memory.lend(5 * kMiB);
        ASSERT_TRUE(block);
    }
    std::memset(block->data(), 1, 5 * kMiB);
    block.reset();
}

TEST(PixelMemoryTest, DecodedPhotosGiveTheirMemoryBackWhenTheyGo) {
    PixelMemory memory;
    platform::ScopedInstall<PixelMemory> installed(&memory);
    const auto jpeg = image_fixtures::gradientJpeg(1200, 1000);
    {
        auto source = platform::image::ImageSource::create(jpeg);
        ASSERT_TRUE(source) << source.error().message;
        EXPECT_EQ(memory.keptBytes(), 0u);
    }
    EXPECT_EQ(memory.keptBytes(), std::size_t{1200} * 1000 * 4);
    // The next decode of that size takes it.
    auto next = platform::image::ImageSource::create(jpeg);
    ASSERT_TRUE(next);
    EXPECT_EQ(memory.keptBytes(), 0u);
}

}  // namespace
