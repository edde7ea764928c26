#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"

namespace platform {
namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    testing_support::TempDir dir_;
    std::filesystem::path file_ = dir_.path() / "Library" / "Preferences" / "defaults.plist";
};

TEST_F(UserDefaultsTest, ValuesSurviveAReload) {
    {
        UserDefaults defaults(file_);
        EXPECT_FALSE(defaults.loadError());
        defaults.set("isWMSConnected", 0);
        defaults.set("deviceMac", "AA:BB");
        defaults.set("groupKavoInfo", Value{{"kavoModelNumber", "SM-R5"}});
        defaults.set("gone", true);
        defaults.remove("gone");
        ASSERT_TRUE(defaults.synchronize());
        defaults.set("unsynchronised", 1);  // written when the object goes away
    }
    UserDefaults reloaded(file_);
    EXPECT_EQ(reloaded.integer("isWMSConnected"), 0);
    EXPECT_EQ(reloaded.string("deviceMac"), "AA:BB");
    EXPECT_EQ(reloaded.dictionary("groupKavoInfo"), (Dictionary{{"kavoModelNumber", "SM-R5"}}));
    EXPECT_EQ(reloaded.integer("unsynchronised"), 1);
    EXPECT_FALSE(reloaded.object("gone"));
}

TEST_F(UserDefaultsTest, TypedReadsApplyThePlatformCoercions) {
    UserDefaults defaults(file_);
    defaults.set("number", 2);
    defaults.set("zero", 0.0);
    defaults.set("yes", "YES");
    defaults.set("true text", "true");
    defaults.set("false text", "false");
    defaults.set("numeric", " 12abc");
    defaults.set("words", "abc");
    defaults.set("dict", Value{{"a", 1}});
    struct Case {
        const char* key;
        std::optional<bool> boolean;
        std::optional<std::int64_t> integer;
        std::optional<std::string> string;
    };
    const Case cases[] = {
        {"number", true, 2, "2"},
        {"zero", false, 0, "0"},
        {"yes", true, 0, "YES"},
        {"true text", true, 0, "true"},
        {"false text", false, 0, "false"},
        {"numeric", true, 12, " 12abc"},
        {"words", false, 0, "abc"},
        {"dict", std::nullopt, std::nullopt, std::nullopt},
        {"absent", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(defaults.boolean(c.key), c.boolean) << c.key;
        EXPECT_EQ(defaults.integer(c.key), c.integer) << c.key;
        EXPECT_EQ(defaults.string(c.key), c.string) << c.key;
    }
}

TEST_F(UserDefaultsTest, SettingNullRemovesAndUnstorableValuesAreRefused) {
    UserDefaults defaults(file_);
    defaults.set("key", 1);
    EXPECT_TRUE(defaults.set("key", Value()));
    EXPECT_FALSE(defaults.object("key"));
    defaults.set("kept", 1);
    EXPECT_FALSE(defaults.set("kept", Value{{"inner", nullptr}}));
    EXPECT_EQ(defaults.integer("kept"), 1);
    ASSERT_TRUE(defaults.synchronize());
}

TEST_F(UserDefaultsTest, AnUnreadableFileIsKeptAsideNotOverwritten) {
    ASSERT_TRUE(fs::writeFileAtomically(file_, "<plist><dict><key>broken"));
    {
        UserDefaults defaults(file_);
        ASSERT_TRUE(defaults.loadError());
        EXPECT_FALSE(defaults.object("broken"));
        defaults.set("fresh", 1);
    }
    auto aside = file_;
    aside += ".unreadable";
    EXPECT_EQ(*fs::readFile(aside), "<plist><dict><key>broken");
    EXPECT_EQ(UserDefaults(file_).integer("fresh"), 1);
}

}  // namespace
}  // namespace platform
