#include <gtest/gtest.h>
#include <locale.h>
#include <sys/utsname.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/DeviceInfo.h"
#include "support/TempDir.h"

namespace platform {
namespace {

// Lets a test change the variables named at construction and puts back what was there, the
// C library's time zone rules included, however the test ends.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        tzset();
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    // Also rereads TZ, as the application does when the system tells it the zone changed.
    static void set(const char* name, const char* value) {
        setenv(name, value, 1);
        tzset();
    }
    static void unset(const char* name) {
        unsetenv(name);
        tzset();
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

constexpr std::int64_t kMidJanuary2024 = 1705320000;  // 2024-01-15 12:00 UTC
constexpr std::int64_t kMidJuly2024 = 1721044800;     // 2024-07-15 12:00 UTC

struct ZoneCase {
    const char* tz;
    std::int64_t at;
    const char* name;
    std::int64_t secondsFromGMT;
};

void expectZones(std::initializer_list<ZoneCase> cases) {
    ScopedEnvironment environment({"TZ"});
    for (const auto& c : cases) {
        ScopedEnvironment::set("TZ", c.tz);
        const TimeZone zone = HostDeviceInfo().timeZone(c.at);
        EXPECT_EQ(zone.name, c.name) << "TZ=" << c.tz;
        EXPECT_EQ(zone.secondsFromGMT, c.secondsFromGMT) << "TZ=" << c.tz << " at " << c.at;
    }
}

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
    ScopedEnvironment environment({"LC_ALL", "LC_MESSAGES", "LANG"});
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
        ScopedEnvironment::set("LC_ALL", c.all);
        ScopedEnvironment::set("LC_MESSAGES", c.messages);
        ScopedEnvironment::set("LANG", c.lang);
        EXPECT_EQ(platform::HostDeviceInfo().localeIdentifier(), c.locale) << c.locale;
    }
}

TEST(DeviceInfoTest, TheMachineAndSystemAreThoseTheKernelAndDistributionName) {
    utsname system{};
    ASSERT_EQ(uname(&system), 0);
    EXPECT_EQ(HostDeviceInfo().machineIdentifier(), system.machine);

    const std::string version = HostDeviceInfo().systemVersion();
    EXPECT_FALSE(version.empty());
    // os-release quotes its values; the watch is shown the bare version.
    EXPECT_EQ(version.find_first_of("\"' \n"), std::string::npos) << version;
}

TEST(DeviceInfoTest, ATimeZoneRuleInTZIsKeptAsItIsWritten) {
    expectZones({
        {"JST-9", kMidJanuary2024, "JST-9", 9 * 3600},
        {"<-0330>3:30", kMidJuly2024, "<-0330>3:30", -(3 * 3600 + 1800)},
        {"EST5EDT,M3.2.0,M11.1.0", kMidJanuary2024, "EST5EDT,M3.2.0,M11.1.0", -5 * 3600},
        {"EST5EDT,M3.2.0,M11.1.0", kMidJuly2024, "EST5EDT,M3.2.0,M11.1.0", -4 * 3600},
        {":", kMidJuly2024, "UTC", 0},  // the C library's UTC
    });
}

TEST(DeviceInfoTest, AZoneInTZIsNamedAsTheZoneFolderNamesIt) {
    const std::filesystem::path zones = "/usr/share/zoneinfo";
    for (const char* zone : {"America/New_York", "Europe/Berlin", "Asia/Kolkata", "UTC"}) {
        if (!std::filesystem::exists(zones / zone)) {
            GTEST_SKIP() << "no zone file " << (zones / zone) << ": tzdata is not installed";
        }
    }
    expectZones({
        {"America/New_York", kMidJanuary2024, "America/New_York", -5 * 3600},
        {"America/New_York", kMidJuly2024, "America/New_York", -4 * 3600},
        {":Europe/Berlin", kMidJuly2024, "Europe/Berlin", 2 * 3600},
        {":Europe/Berlin", kMidJanuary2024, "Europe/Berlin", 3600},
        {"/usr/share/zoneinfo/Asia/Kolkata", kMidJuly2024, "Asia/Kolkata", 5 * 3600 + 1800},
        {":/usr/share/zoneinfo/America/New_York", kMidJuly2024, "America/New_York", -4 * 3600},
        {"UTC", kMidJuly2024, "UTC", 0},
    });
}

TEST(DeviceInfoTest, AnEmptyTZIsUTCAsTheCLibraryReadsIt) {
    ScopedEnvironment environment({"TZ"});
    ScopedEnvironment::unset("TZ");
    EXPECT_FALSE(HostDeviceInfo().timeZone(kMidJuly2024).name.empty());

    ScopedEnvironment::set("TZ", "");
    const TimeZone empty = HostDeviceInfo().timeZone(kMidJuly2024);
    EXPECT_EQ(empty.name, "UTC");
    EXPECT_EQ(empty.secondsFromGMT, 0);
}

TEST(DeviceInfoTest, TheCLocaleAndUnknownLocalesKeepA24HourClock) {
    ScopedEnvironment environment({"LC_ALL", "LC_TIME", "LANG"});
    ScopedEnvironment::unset("LC_TIME");
    ScopedEnvironment::unset("LANG");
    for (const char* locale : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {
        ScopedEnvironment::set("LC_ALL", locale);
        EXPECT_FALSE(HostDeviceInfo().showsAmPm()) << locale;
    }
}

TEST(DeviceInfoTest, AnAmericanLocaleShowsAmPm) {
    if (locale_t american = newlocale(LC_TIME_MASK, "en_US.UTF-8", nullptr)) {
        freelocale(american);
    } else {
        GTEST_SKIP() << "the en_US.UTF-8 locale is not installed";
    }
    ScopedEnvironment environment({"LC_ALL", "LC_TIME", "LANG"});
    ScopedEnvironment::unset("LC_ALL");
    ScopedEnvironment::unset("LANG");
    ScopedEnvironment::set("LC_TIME", "en_US.UTF-8");
    EXPECT_TRUE(HostDeviceInfo().showsAmPm());
}

}  // namespace
}  // namespace platform
