#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "db/DBFixture.h"
#include "db/TQDBManager.h"
#include "db/TQDBRecords.h"

namespace db_test {
namespace {

using TQDBThreadsTest = DBTest;

// Two threads share the one connection: each saves and reads back its own logs and counts
// them, while the other does the same.
TEST_F(TQDBThreadsTest, TwoThreadsSaveAndQueryAtOnce) {
    ASSERT_TRUE(TQDBManager::getSharedInstance().createModel(TQDBLog::tableSchema()));
    constexpr int kSaves = 200;
    std::atomic<int> faults{0};
    auto work = [&](const std::string& name) {
        for (int i = 0; i < kSaves; ++i) {
            TQDBLog log;
            log.encBodyStr = name + std::to_string(i);
            if (!log.save()) {
                ++faults;
                continue;
            }
            const auto read = TQDBLog::getById(log.ID());
            if (!read || read->encBodyStr != log.encBodyStr) {
                ++faults;
            }
            if (TQDBLog::count() < 1) {
                ++faults;
            }
            if (i % 50 == 0 && !TQDBManagerImpl::getSharedInstance().transaction([&] {
                    TQDBLog a;
                    a.encBodyStr = name + "-batch";
                    return a.save() && a.remove();
                })) {
                ++faults;
            }
        }
    };
    std::thread first(work, "a");
    std::thread second(work, "b");
    first.join();
    second.join();
    EXPECT_EQ(faults.load(), 0);
    EXPECT_EQ(TQDBLog::count(), 2 * kSaves);
    EXPECT_EQ(shell("SELECT count(DISTINCT enc_body_str) FROM TQDBLog"),
              std::vector<std::string>{std::to_string(2 * kSaves)});
}

}  // namespace
}  // namespace db_test
