#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
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

// A file that cannot be read may hold every setting: it is neither moved nor replaced by the
// few values set since, which stay in memory.
TEST_F(UserDefaultsTest, AFileThatCannotBeReadIsKeptAndNeverWritten) {
    std::filesystem::create_directories(file_);  // reading it fails with EISDIR
    std::ofstream(file_ / "inside") << "kept";
    {
        UserDefaults defaults(file_);
        ASSERT_TRUE(defaults.loadError());
        EXPECT_EQ(defaults.loadError()->code, EISDIR);
        defaults.set("fresh", 1);
        EXPECT_EQ(defaults.integer("fresh"), 1);
        const auto written = defaults.synchronize();
        ASSERT_FALSE(written);
        EXPECT_NE(written.error().message.find("could not be read"), std::string::npos);
    }
    EXPECT_TRUE(std::filesystem::is_directory(file_));
    EXPECT_EQ(*fs::readFile(file_ / "inside"), "kept");
    auto aside = file_;
    aside += ".unreadable";
    EXPECT_FALSE(std::filesystem::exists(aside));
}

// Changes are written together, a while after the first, on the main loop's clock; the writes
// run on the loop here too, so every step is deterministic.
class CoalescedWritesTest : public UserDefaultsTest {
protected:
    // The value of "n" in the file, or -1 while there is no file.
    std::int64_t written() {
        const auto stored = plist::readFile(file_);
        return stored ? stored->dictionaryIf()->find("n")->intValue().value_or(-2) : -1;
    }

    RunLoop loop_{RunLoop::Clock::virtualTime};
    ScopedMainRunLoop main_{loop_};
};

TEST_F(CoalescedWritesTest, ChangesAreWrittenOnceAfterTheDelay) {
    UserDefaults defaults(file_, &DispatchQueue::main());
    for (int n = 1; n <= 100; ++n) {
        defaults.set("n", n);
    }
    loop_.advance(UserDefaults::kWriteDelay - 0.01);
    EXPECT_EQ(written(), -1) << "nothing before the delay";
    loop_.advance(0.02);
    EXPECT_EQ(written(), 100) << "the last value, once the delay is over";

    defaults.set("n", 101);  // the next change asks for the next write
    loop_.advance(UserDefaults::kWriteDelay / 2);
    defaults.remove("n");
    defaults.set("n", 102);
    loop_.advance(UserDefaults::kWriteDelay / 2 - 0.01);
    EXPECT_EQ(written(), 100);
    loop_.advance(0.02);
    EXPECT_EQ(written(), 102) << "timed from the first change after a write";
}

TEST_F(CoalescedWritesTest, SynchronizeAndTheDestructorWriteAtOnce) {
    {
        UserDefaults defaults(file_, &DispatchQueue::main());
        defaults.set("n", 1);
        ASSERT_TRUE(defaults.synchronize());
        EXPECT_EQ(written(), 1);
        loop_.advance(UserDefaults::kWriteDelay);  // the delayed write finds nothing to do
        EXPECT_EQ(written(), 1);
        defaults.set("n", 2);
    }
    EXPECT_EQ(written(), 2) << "the loop never ran the delayed write";
    loop_.advance(UserDefaults::kWriteDelay);  // nor does it reach the defaults now
}

TEST_F(CoalescedWritesTest, AFailedWriteIsReportedAndKeptForTheNextOne) {
    UserDefaults defaults(file_, &DispatchQueue::main());
    std::filesystem::remove_all(file_.parent_path());
    std::filesystem::create_directories(file_.parent_path().parent_path());
    {
        std::ofstream blocker(file_.parent_path());  // a file where the folder should be
    }
    defaults.set("n", 1);
    EXPECT_FALSE(defaults.synchronize());
    loop_.advance(UserDefaults::kWriteDelay);  // fails as well, and is only logged
    std::filesystem::remove(file_.parent_path());
    std::filesystem::create_directories(file_.parent_path());
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(written(), 1);
}

TEST_F(CoalescedWritesTest, AWriteWhoseLoopWentIsAskedForAgain) {
    UserDefaults defaults(file_, &DispatchQueue::main());
    {
        RunLoop gone(RunLoop::Clock::virtualTime);
        ScopedMainRunLoop installed(gone);
        defaults.set("n", 1);
    }
    defaults.set("n", 2);
    loop_.advance(UserDefaults::kWriteDelay);
    EXPECT_EQ(written(), 2);
}

}  // namespace
}  // namespace platform
