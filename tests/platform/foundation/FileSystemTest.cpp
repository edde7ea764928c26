#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/foundation/FileSystem.h"
#include "support/TempDir.h"

namespace platform::fs {
namespace {

// Notes each sync with what the target file held at that moment.
class RecordingDurability final : public Durability {
public:
    explicit RecordingDurability(std::filesystem::path target) : target_(std::move(target)) {}

    int syncFile(int) override {
        calls.push_back("file, target holds " + held());
        return 0;
    }
    int syncFolder(const std::filesystem::path& folder) override {
        calls.push_back("folder " + folder.filename().string() + ", target holds " + held());
        return folderError;
    }

    std::vector<std::string> calls;
    int folderError = 0;

private:
    std::string held() const {
        auto text = readFile(target_);
        return text ? "\"" + *text + "\"" : "nothing";
    }
    std::filesystem::path target_;
};

class AtomicWriteTest : public ::testing::Test {
protected:
    testing_support::TempDir dir_;
    std::filesystem::path file_ = dir_.path() / "Preferences" / "settings.plist";
};

// The rename only lasts a power loss once the folder holding the new entry is synced too.
TEST_F(AtomicWriteTest, TheFileIsSyncedBeforeTheRenameAndTheFolderAfterIt) {
    ASSERT_TRUE(writeFileAtomically(file_, "old"));
    RecordingDurability durability(file_);
    ASSERT_TRUE(writeFileAtomically(file_, "new", durability));
    EXPECT_EQ(durability.calls,
              (std::vector<std::string>{"file, target holds \"old\"",
                                        "folder Preferences, target holds \"new\""}));
}

TEST_F(AtomicWriteTest, AFolderThatCannotBeSyncedIsReportedWithTheFileInPlace) {
    RecordingDurability durability(file_);
    durability.folderError = EIO;
    const auto written = writeFileAtomically(file_, "data", durability);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, EIO);
    EXPECT_EQ(*readFile(file_), "data");
}

// Some file systems refuse to sync a folder at all: the write still succeeded.
TEST_F(AtomicWriteTest, AFileSystemThatSyncsNoFoldersStillWrites) {
    for (const int error : {EINVAL, ENOTSUP, EROFS}) {
        RecordingDurability durability(file_);
        durability.folderError = error;
        EXPECT_TRUE(writeFileAtomically(file_, "data", durability)) << error;
        EXPECT_EQ(*readFile(file_), "data");
    }
}

TEST_F(AtomicWriteTest, OnlyTheWritersOwnTemporaryNamesCountAsLeftovers) {
    const struct {
        const char* name;
        bool leftover;
    } cases[] = {
        {"settings.plist.kavo-atomic-a1B2c3", true},
        {"x.kavo-atomic-ZZZZZZ", true},
        {"settings.plist", false},
        {"settings.plist.a1B2c3", false},  // an older writer's name, or anybody's
        {"settings.plist.kavo-atomic-a1B2c", false},
        {"settings.plist.kavo-atomic-a1B2c34", false},
        {"settings.plist.kavo-atomic-a1B.c3", false},
        {"kavo-atomic-abcdef", false},
        {".kavo-atomic-abcdef", false},  // no file of its own before the marker
        {".kavo-atomic-", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isAtomicWriteLeftover(c.name), c.leftover) << c.name;
    }
}

TEST_F(AtomicWriteTest, AWriteLeavesNoTemporaryFileAndTheSweepTakesOnlyLeftovers) {
    ASSERT_TRUE(writeFileAtomically(file_, "kept"));
    const auto folder = file_.parent_path();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"settings.plist"});

    const auto deeper = dir_.path() / "Documents" / "SM-R5";
    std::filesystem::create_directories(deeper);
    for (const auto& path : {folder / "settings.plist.kavo-atomic-Q1w2E3",
                             deeper / "kavo_info.plist.kavo-atomic-000000", deeper / "notes.txt",
                             deeper / "notes.txt.backup1"}) {
        std::ofstream(path) << "x";
    }
    std::filesystem::create_directory(dir_.path() / "folder.kavo-atomic-abcdef");
    EXPECT_EQ(sweepAtomicWriteLeftovers(dir_.path()), 2u);
    EXPECT_EQ(*readFile(file_), "kept");
    EXPECT_TRUE(std::filesystem::exists(deeper / "notes.txt"));
    EXPECT_TRUE(std::filesystem::exists(deeper / "notes.txt.backup1"));
    EXPECT_TRUE(std::filesystem::is_directory(dir_.path() / "folder.kavo-atomic-abcdef"));
    EXPECT_FALSE(std::filesystem::exists(folder / "settings.plist.kavo-atomic-Q1w2E3"));
    EXPECT_FALSE(std::filesystem::exists(deeper / "kavo_info.plist.kavo-atomic-000000"));
}

// Callers tell an absent file from one they cannot read by the errno the read keeps.
TEST_F(AtomicWriteTest, ReadErrorsKeepTheirErrno) {
    std::filesystem::create_directories(dir_.path() / "a folder");
    ASSERT_TRUE(writeFileAtomically(dir_.path() / "big", std::string(100, 'x')));
    const struct {
        const char* name;
        int code;
        bool readFailure;
    } cases[] = {
        {"absent", ENOENT, false},
        {"a folder", EISDIR, true},
        {"big", EFBIG, true},
    };
    for (const auto& c : cases) {
        const auto read = readFile(dir_.path() / c.name, 10);
        ASSERT_FALSE(read) << c.name;
        EXPECT_EQ(read.error().code, c.code) << c.name;
        EXPECT_EQ(isReadFailure(read.error()), c.readFailure) << c.name;
    }
    EXPECT_TRUE(isReadFailure(Error{kErrorDomain, EACCES, "denied"}));
    EXPECT_TRUE(isReadFailure(Error{kErrorDomain, EIO, "I/O"}));
    EXPECT_FALSE(isReadFailure(Error{"platform.plist", EIO, "not a property list"}));
}

}  // namespace
}  // namespace platform::fs
