#include <gtest/gtest.h>

#include "platform/sql/SqlConnection.h"
#include "support/TempDir.h"

namespace platform::sql {
namespace {

// Another connection's lock makes a statement wait rather than fail at once.
TEST(SqlConnectionTest, AConnectionWaitsForAnothersLockBeforeItIsBusy) {
    testing_support::TempDir dir;
    auto connection = Connection::open(dir.path() / "test.db");
    ASSERT_TRUE(connection);
    auto pragma = connection->prepare("PRAGMA busy_timeout");
    ASSERT_TRUE(pragma);
    ASSERT_TRUE(*pragma->step());
    EXPECT_EQ(pragma->columnInt64(0), Connection::kBusyTimeoutMs);
    EXPECT_GT(Connection::kBusyTimeoutMs, 0);
}

}  // namespace
}  // namespace platform::sql
