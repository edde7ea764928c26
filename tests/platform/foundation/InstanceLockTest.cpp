#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/foundation/InstanceLock.h"
#include "support/TempDir.h"

namespace platform {
namespace {

class InstanceLockTest : public ::testing::Test {
protected:
    testing_support::TempDir home_;
    std::filesystem::path file_ = home_.path() / "kavomanager.lock";
};

TEST_F(InstanceLockTest, ASecondClaimIsRefusedNamingTheHolderUntilTheFirstLetsGo) {
    {
        auto first = InstanceLock::acquire(file_);
        ASSERT_TRUE(first) << first.error().message;
        const auto second = InstanceLock::acquire(file_);
        ASSERT_FALSE(second);
        EXPECT_EQ(second.error().code, EWOULDBLOCK);
        EXPECT_NE(second.error().message.find("in use by another process (process " +
                                              std::to_string(getpid()) + ")"),
                  std::string::npos)
            << second.error().message;
    }
    EXPECT_TRUE(InstanceLock::acquire(file_)) << "free once the holder went";
}

TEST_F(InstanceLockTest, AFolderThatIsNotThereIsAnError) {
    const auto claim = InstanceLock::acquire(home_.path() / "absent" / "kavomanager.lock");
    ASSERT_FALSE(claim);
    EXPECT_EQ(claim.error().code, ENOENT);
}

}  // namespace
}  // namespace platform
