#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/DeviceInfo.h"
#include "support/TempDir.h"

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

TEST(DeviceInfoTest, TheVendorIdentifierIsMadeOnceAndKept) {
    testing_support::TempDir folder;
    std::string first;
    {
        platform::UserDefaults defaults(folder.path() / "defaults.plist");
        platform::ScopedInstall<platform::UserDefaults> installed(&defaults);
        first = platform::HostDeviceInfo().vendorIdentifier();
        EXPECT_EQ(platform::HostDeviceInfo().vendorIdentifier(), first);
        // A damaged entry is replaced.
        defaults.set(platform::HostDeviceInfo::kVendorIdentifierKey, "not-a-uuid");
        const std::string replaced = platform::HostDeviceInfo().vendorIdentifier();
        EXPECT_NE(replaced, "not-a-uuid");
        EXPECT_NE(replaced, first);
        first = replaced;
    }
    ASSERT_EQ(first.size(), 36U);
    EXPECT_EQ(first[14], '4');  // a random UUID
    EXPECT_NE(std::string("89AB").find(first[19]), std::string::npos);
    EXPECT_EQ(first.find_first_not_of("0123456789ABCDEF-"), std::string::npos);
    // Another run of the application reads the same one back.
    platform::UserDefaults again(folder.path() / "defaults.plist");
    platform::ScopedInstall<platform::UserDefaults> installed(&again);
    EXPECT_EQ(platform::HostDeviceInfo().vendorIdentifier(), first);
}

TEST(DeviceInfoTest, TheLocaleComesFromTheEnvironment) {
    const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    const struct {
        const char* all;
        const char* messages;
        const char* lang;
        const char* locale;
    } cases[] = {
        {"", "", "de_DE.UTF-8", "de_DE"},     {"", "pt_BR.UTF-8@latin", "de_DE.UTF-8", "pt_BR"},
        {"en_GB", "pt_BR", "de_DE", "en_GB"}, {"C.UTF-8", "", "de_DE", "en_US_POSIX"},
        {"", "", "POSIX", "en_US_POSIX"},     {"", "", "", "en_US_POSIX"},
    };
    for (const auto& c : cases) {
        setenv("LC_ALL", c.all, 1);
        setenv("LC_MESSAGES", c.messages, 1);
        setenv("LANG", c.lang, 1);
        EXPECT_EQ(platform::HostDeviceInfo().localeIdentifier(), c.locale) << c.locale;
    }
    for (std::size_t i = 0; i < std::size(names); ++i) {
        if (saved[i]) {
            setenv(names[i], saved[i]->c_str(), 1);
        } else {
            unsetenv(names[i]);
        }
    }
}

}  // namespace
}  // namespace platform
