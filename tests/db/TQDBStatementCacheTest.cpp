#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "db/TQDBStatementCache.h"
#include "support/TempDir.h"

namespace {

// A statement lent out is never handed out again nor dropped until its lease ends, even when
// the cache is full of such statements.
TEST(TQDBStatementCacheTest, AStatementLentOutIsNeitherSharedNorDropped) {
    testing_support::TempDir dir;
    auto connection = platform::sql::Connection::open(dir.path() / "test.db");
    ASSERT_TRUE(connection);
    TQDBStatementCache cache;
    std::vector<TQDBStatementCache::Lease> lent;
    for (std::size_t i = 0; i < TQDBStatementCache::kCapacity; ++i) {
        auto lease = cache.take(*connection, "SELECT " + std::to_string(i));
        ASSERT_TRUE(lease);
        lent.push_back(std::move(lease).value());
    }
    auto again = cache.take(*connection, "SELECT 0");
    ASSERT_TRUE(again);
    EXPECT_NE(&**again, &*lent.front());
    auto beyond = cache.take(*connection, "SELECT 'beyond'");
    ASSERT_TRUE(beyond);
    EXPECT_EQ(cache.size(), TQDBStatementCache::kCapacity);
    for (std::size_t i = 0; i < lent.size(); ++i) {
        auto row = lent[i]->step();
        ASSERT_TRUE(row);
        ASSERT_TRUE(*row);
        EXPECT_EQ(lent[i]->columnInt64(0), static_cast<std::int64_t>(i));
    }
    ASSERT_TRUE(*(*beyond)->step());
    EXPECT_EQ((*beyond)->columnText(0), "beyond");
    // Once given back, the kept one serves again, and an idle one makes room for a new text.
    platform::sql::Statement* first = &*lent.front();
    lent.clear();
    auto kept = cache.take(*connection, "SELECT 0");
    ASSERT_TRUE(kept);
    EXPECT_EQ(&**kept, first);
    ASSERT_TRUE(cache.take(*connection, "SELECT 'new'"));
    EXPECT_EQ(cache.size(), TQDBStatementCache::kCapacity);
}

}  // namespace
