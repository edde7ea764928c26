#include <gtest/gtest.h>

#include <optional>

#include "utils/DataCompression.h"
#include "utils/DataGZip.h"
#include "utils/allocation/LargestAllocation.h"

namespace {

using allocation_probe::LargestAllocation;
using platform::Bytes;

constexpr std::size_t kBound = 256 << 10;

// A few kilobytes that inflate to 8 MiB.
const Bytes& bomb() {
    static const Bytes packed = *gzip::compress(Bytes(8 << 20, 0), 9);
    return packed;
}

TEST(CodingBoundTest, BombFitsInAFewKilobytes) {
    EXPECT_LT(bomb().size(), 16u << 10);
}

TEST(CodingBoundTest, GZipDecompressStopsAtTheBound) {
    const Bytes& packed = bomb();
    const LargestAllocation largest;
    const auto result = gzip::decompress(packed, 31, kBound);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, "Error inflating payload");
    EXPECT_LE(largest.bytes(), kBound);
}

TEST(CodingBoundTest, LinkInflateStopsAtTheBound) {
    const Bytes& packed = bomb();
    const LargestAllocation largest;
    EXPECT_EQ(compression::dataInflate(packed, kBound), std::nullopt);
    EXPECT_LE(largest.bytes(), kBound);
}

TEST(CodingBoundTest, ProbeSeesTheBufferWhenTheBoundAllowsIt) {
    const Bytes& packed = bomb();
    const LargestAllocation largest;
    EXPECT_EQ(compression::dataInflate(packed)->size(), std::size_t{8} << 20);
    EXPECT_GE(largest.bytes(), std::size_t{8} << 20);
}

}  // namespace
