#include <gtest/gtest.h>
#include <sys/utsname.h>

#include "platform/foundation/Replaceable.h"
#include "platform/system/DeviceInfo.h"

namespace platform {
namespace {

TEST(DeviceInfoTest, TheHostNameNamesThisMachine) {
    utsname system{};
    ASSERT_EQ(uname(&system), 0);

    EXPECT_EQ(HostDeviceInfo().name(), system.nodename);
    EXPECT_EQ(DeviceInfo::current().name(), system.nodename);
}

TEST(DeviceInfoTest, AnInstalledDeviceAnswersUntilItIsRemoved) {
    const std::string host = HostDeviceInfo().name();
    FixedDeviceInfo phone("Alex's phone");
    {
        ScopedInstall<DeviceInfo> installed(&phone);
        EXPECT_EQ(DeviceInfo::current().name(), "Alex's phone");
    }
    EXPECT_EQ(DeviceInfo::current().name(), host);
}

}  // namespace
}  // namespace platform
