#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/oslog/AppendFile.h"
#include "platform/oslog/ExtendedAttributes.h"
#include "platform/oslog/SystemLog.h"
#include "platform/oslog/SystemLogReader.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using platform::SystemLogKind;

TEST(SystemLogTest, TheJournalComesFirstThenSyslogThenNothing) {
    struct Case {
        bool journal;
        bool syslog;
        SystemLogKind expected;
    };
    const Case cases[] = {
        {true, true, SystemLogKind::journal},
        {true, false, SystemLogKind::journal},
        {false, true, SystemLogKind::syslog},
        {false, false, SystemLogKind::none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::chooseSystemLog(c.journal, c.syslog), c.expected)
            << c.journal << c.syslog;
    }
    EXPECT_EQ(platform::openSystemLog(SystemLogKind::none, "test"), nullptr);
}

TEST(SystemLogTest, TheProbeLooksForTheSockets) {
    testing_support::TempDir folder;
    const platform::SystemLogSockets sockets{folder.path() / "journal", folder.path() / "log"};
    EXPECT_EQ(platform::probeSystemLog(sockets), SystemLogKind::none);
    std::ofstream(sockets.syslog).put('x');
    EXPECT_EQ(platform::probeSystemLog(sockets), SystemLogKind::syslog);
    std::ofstream(sockets.journal).put('x');
    EXPECT_EQ(platform::probeSystemLog(sockets), SystemLogKind::journal);
}

TEST(SystemLogTest, WithoutAJournalTheReaderSaysWhy) {
    testing_support::TempDir folder;
    const auto reader = platform::openJournalReader({folder.path() / "journal", "/dev/null"});
    ASSERT_FALSE(reader);
    EXPECT_NE(reader.error().message.find("no journal runs on this machine"), std::string::npos);
}

// The real journal: what is sent comes back with its fields.
TEST(SystemLogTest, TheJournalKeepsTheFieldsItIsSent) {
    if (platform::probeSystemLog() != SystemLogKind::journal) {
        GTEST_SKIP() << "no journal runs on this machine (no /run/systemd/journal/socket): the "
                        "journal's own road is not tested here";
    }
    auto reader = platform::openJournalReader();
    ASSERT_TRUE(reader) << reader.error().message;
    const std::string text =
        "oslog test " + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    const platform::SystemLogField fields[] = {
        {"PRIORITY", "4"}, {"MESSAGE", text}, {"READUID", "0"}, {"LGLOG", "1"}};
    platform::JournalSystemLog().send(fields);
    bool found = false;
    for (int round = 0; round < 50 && !found; ++round) {
        (*reader)->wait(0.1);
        for (const auto& entry : (*reader)->readNew()) {
            const std::string* message = entry.field("MESSAGE");
            if (message != nullptr && *message == text) {
                found = true;
                EXPECT_EQ(*entry.field("PRIORITY"), "4");
                EXPECT_EQ(*entry.field("LGLOG"), "1");
                EXPECT_TRUE(entry.realtimeMicros.has_value());
            }
        }
    }
    EXPECT_TRUE(found);
}

TEST(SystemLogTest, TheScriptedReaderHandsOutWhatItIsGivenAndStopsWaitingOnInterrupt) {
    platform::ScriptedSystemLogReader reader;
    reader.add({{{"MESSAGE", "a"}}, 1});
    EXPECT_TRUE(reader.wait(1));
    const auto entries = reader.readNew();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(*entries[0].field("MESSAGE"), "a");
    EXPECT_EQ(entries[0].field("PRIORITY"), nullptr);
    EXPECT_TRUE(reader.readNew().empty());
    reader.interrupt();
    EXPECT_FALSE(reader.wait(1));
}

TEST(ExtendedAttributesTest, AMarkIsAddedFoundAndRemoved) {
    testing_support::TempDir folder;
    const fs::path file = folder.path() / "f.log";
    std::ofstream(file).put('x');
    platform::HostExtendedAttributes host;
    platform::MemoryExtendedAttributes memory;
    for (platform::ExtendedAttributes* attributes :
         {static_cast<platform::ExtendedAttributes*>(&host),
          static_cast<platform::ExtendedAttributes*>(&memory)}) {
        auto before = attributes->has(file, "kavo.test");
        if (!before && before.error().code == platform::ExtendedAttributes::kUnsupported) {
            GTEST_SKIP() << "the temporary folder's file system keeps no extended attributes";
        }
        ASSERT_TRUE(before);
        EXPECT_FALSE(*before);
        ASSERT_TRUE(attributes->add(file, "kavo.test"));
        EXPECT_TRUE(*attributes->has(file, "kavo.test"));
        ASSERT_TRUE(attributes->remove(file, "kavo.test"));
        EXPECT_FALSE(*attributes->has(file, "kavo.test"));
        const auto again = attributes->remove(file, "kavo.test");
        ASSERT_FALSE(again);
        EXPECT_EQ(again.error().code, platform::ExtendedAttributes::kAbsent);
    }
}

TEST(ExtendedAttributesTest, AFileSystemWithoutThemRefusesEveryCall) {
    platform::MemoryExtendedAttributes refusing(false);
    EXPECT_EQ(refusing.has("/x", "a").error().code, platform::ExtendedAttributes::kUnsupported);
    EXPECT_EQ(refusing.add("/x", "a").error().code, platform::ExtendedAttributes::kUnsupported);
    EXPECT_EQ(refusing.remove("/x", "a").error().code, platform::ExtendedAttributes::kUnsupported);
}

TEST(AppendFileTest, CreationIsExclusiveAndWritesGoToTheEnd) {
    testing_support::TempDir folder;
    const fs::path path = folder.path() / "a.log";
    ASSERT_TRUE(platform::AppendFile::create(path));
    const auto second = platform::AppendFile::create(path);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().code, EEXIST);
    {
        auto file = platform::AppendFile::open(path);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->write("one\n"));
    }
    auto file = platform::AppendFile::open(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->offset(), 4u);
    ASSERT_TRUE(file->write("two\n"));
    EXPECT_EQ(file->offset(), 8u);
    EXPECT_EQ(fs::file_size(path), 8u);
    EXPECT_FALSE(platform::AppendFile::open(folder.path() / "missing.log"));
}

TEST(AppendFileTest, AFileDeletedOrRenamedIsNoLongerAtItsPath) {
    testing_support::TempDir folder;
    const fs::path path = folder.path() / "a.log";
    ASSERT_TRUE(platform::AppendFile::create(path));
    auto deleted = platform::AppendFile::open(path);
    ASSERT_TRUE(deleted);
    EXPECT_TRUE(deleted->isStillAt(path));
    fs::remove(path);
    EXPECT_FALSE(deleted->isStillAt(path));

    ASSERT_TRUE(platform::AppendFile::create(path));
    auto renamed = platform::AppendFile::open(path);
    ASSERT_TRUE(renamed);
    fs::rename(path, folder.path() / "b.log");
    EXPECT_FALSE(renamed->isStillAt(path));
    ASSERT_TRUE(platform::AppendFile::create(path));
    EXPECT_FALSE(renamed->isStillAt(path)) << "another file of the same name is not it";
}

}  // namespace
