#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TQUtilsFixture.h"
#include "ZipBytes.h"
#include "platform/archive/Zip.h"
#include "utils/ZAZipArchive.h"

namespace {

namespace fs = std::filesystem;
using zip_test::ZipBytes;
using zip_test::ZipEntrySpec;

void writeFile(const fs::path& path, std::string_view content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

unsigned modeOf(const fs::path& path) {
    return static_cast<unsigned>(fs::status(path).permissions()) & 07777;
}

std::chrono::system_clock::time_point mtimeOf(const fs::path& path) {
    return std::chrono::time_point_cast<std::chrono::system_clock::duration>(
        std::chrono::file_clock::to_sys(fs::last_write_time(path)));
}

void setMtime(const fs::path& path, std::chrono::system_clock::time_point time) {
    fs::last_write_time(path, std::chrono::file_clock::from_sys(time));
}

// Everything under folder, links not followed, with sizes: what "untouched" is measured by.
std::map<std::string, std::uintmax_t> snapshot(const fs::path& folder) {
    std::map<std::string, std::uintmax_t> found;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        const bool regular = fs::is_regular_file(it->symlink_status());
        found[fs::relative(it->path(), folder).string()] = regular ? fs::file_size(it->path()) : 0;
    }
    return found;
}

const std::chrono::system_clock::time_point kWhen =
    platform::archive::timeFromDosDate((44U << 25) | (6U << 21) | (15U << 16) | (12U << 11));

class ZAZipArchiveTest : public tqutils_test::TQUtilsTest {
protected:
    fs::path sandbox() const { return dir_.path() / "sandbox"; }
    fs::path destination() const { return sandbox() / "out"; }

    fs::path archive(std::string_view name, const std::string& bytes) {
        const fs::path path = dir_.path() / name;
        writeFile(path, bytes);
        return path;
    }

    // A folder of files with known modes and dates, an empty folder and a nested folder.
    fs::path makeTree() {
        const fs::path tree = dir_.path() / "tree";
        writeFile(tree / "readme.txt", "hello\n");
        writeFile(tree / "bin" / "run.sh", "#!/bin/sh\necho run\n");
        writeFile(tree / "bin" / "deep" / "data.bin", std::string(70000, 'x'));
        fs::create_directories(tree / "empty");
        fs::permissions(tree / "readme.txt", fs::perms(0640), fs::perm_options::replace);
        fs::permissions(tree / "bin" / "run.sh", fs::perms(0755), fs::perm_options::replace);
        for (const char* file : {"readme.txt", "bin/run.sh", "bin/deep/data.bin"}) {
            setMtime(tree / file, kWhen);
        }
        setMtime(tree / "bin" / "deep", kWhen - std::chrono::hours(1));
        setMtime(tree / "bin", kWhen - std::chrono::hours(2));
        return tree;
    }

    void expectTreeUnpacked(const fs::path& out) {
        EXPECT_EQ(readFile(out / "readme.txt"), "hello\n");
        EXPECT_EQ(readFile(out / "bin" / "run.sh"), "#!/bin/sh\necho run\n");
        EXPECT_EQ(readFile(out / "bin" / "deep" / "data.bin"), std::string(70000, 'x'));
        EXPECT_EQ(modeOf(out / "readme.txt"), 0640U);
        EXPECT_EQ(modeOf(out / "bin" / "run.sh"), 0755U);
        EXPECT_EQ(mtimeOf(out / "readme.txt"), kWhen);
        EXPECT_EQ(mtimeOf(out / "bin" / "deep" / "data.bin"), kWhen);
    }
};

TEST_F(ZAZipArchiveTest, OurArchivesUnpackWithTheirDatesAndModes) {
    const fs::path tree = makeTree();
    const fs::path zip = dir_.path() / "tree.zip";
    ASSERT_TRUE(ZAZipArchive::createZipFileAtPath(zip, tree));

    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(zip, destination()));
    expectTreeUnpacked(destination());
    // An empty folder travels as an empty marker file.
    EXPECT_TRUE(fs::is_regular_file(destination() / "empty" / ".DS_Store"));
    EXPECT_EQ(fs::file_size(destination() / "empty" / ".DS_Store"), 0U);

    const fs::path kept = dir_.path() / "kept.zip";
    ASSERT_TRUE(ZAZipArchive::createZipFileAtPath(kept, tree, true));
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(kept, sandbox() / "kept"));
    expectTreeUnpacked(sandbox() / "kept" / "tree");
    EXPECT_TRUE(fs::exists(sandbox() / "kept" / "empty" / ".DS_Store"));
}

TEST_F(ZAZipArchiveTest, TheSystemZipToolsArchivesUnpackWithTheirDatesAndModes) {
    const fs::path tree = makeTree();
    const fs::path zip = dir_.path() / "system.zip";
    const std::string command = "cd '" + tree.string() + "' && zip -q -r '" + zip.string() + "' .";
    ASSERT_EQ(std::system(command.c_str()), 0);

    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(zip, destination()));
    expectTreeUnpacked(destination());
    // Folders get their dates back once their files are written.
    EXPECT_EQ(mtimeOf(destination() / "bin" / "deep"), kWhen - std::chrono::hours(1));
    EXPECT_EQ(mtimeOf(destination() / "bin"), kWhen - std::chrono::hours(2));
    EXPECT_TRUE(fs::is_directory(destination() / "empty"));
}

TEST_F(ZAZipArchiveTest, WrittenFilesAndFoldersReadBackWithTheSystemTool) {
    const fs::path source = dir_.path() / "one.txt";
    writeFile(source, "one");
    const fs::path zip = dir_.path() / "writer.zip";
    ZAZipArchive writer(zip);
    EXPECT_FALSE(writer.writeFile(source));  // not open yet
    ASSERT_TRUE(writer.open());
    EXPECT_TRUE(writer.writeFile(source));
    EXPECT_TRUE(writer.writeFileAtPath(source, "renamed/two.txt"));
    EXPECT_FALSE(writer.writeFileAtPath(dir_.path() / "missing", std::nullopt));
    EXPECT_TRUE(writer.writeFolderAtPath(dir_.path(), "folder"));
    const std::string data = "data";
    EXPECT_TRUE(writer.writeData(
        std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), "data.txt"));
    EXPECT_FALSE(writer.writeData({}, "nothing.txt"));
    ASSERT_TRUE(writer.close());

    fs::create_directories(sandbox());
    const std::string command =
        "unzip -q -d '" + destination().string() + "' '" + zip.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFile(destination() / "one.txt"), "one");
    EXPECT_EQ(readFile(destination() / "renamed" / "two.txt"), "one");
    EXPECT_EQ(readFile(destination() / "data.txt"), "data");
    EXPECT_TRUE(fs::is_directory(destination() / "folder"));
}

TEST_F(ZAZipArchiveTest, NestedArchivesAreUnpackedBesideThemselvesAndRemoved) {
    const std::string inner = ZipBytes().add(ZipBytes::storedEntry("inner.txt", "inside")).bytes();
    const std::string outer = ZipBytes()
                                  .add(ZipBytes::storedEntry("pkg/Inner.ZIP", inner))
                                  .add(ZipBytes::storedEntry("pkg/notzip.zip", "plain text"))
                                  .bytes();
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(archive("outer.zip", outer), destination()));
    EXPECT_EQ(readFile(destination() / "pkg" / "inner.txt"), "inside");
    EXPECT_FALSE(fs::exists(destination() / "pkg" / "Inner.ZIP"));
    // A file that only looks like an archive stays as it is.
    EXPECT_EQ(readFile(destination() / "pkg" / "notzip.zip"), "plain text");
}

// The byte-level fixtures themselves: deflated entries, and a zero bomb that says its size.
TEST_F(ZAZipArchiveTest, DeflatedEntriesUnpack) {
    ZipEntrySpec honestBomb = ZipBytes::zeroBombEntry("zeros", 3, 3U << 20);
    honestBomb.crc = ZipBytes::crcOf(std::string(3U << 20, '\0'));
    const std::string bytes =
        ZipBytes().add(ZipBytes::deflatedEntry("text", "abc", 1000)).add(honestBomb).bytes();
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(archive("d.zip", bytes), destination()));
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        expected += "abc";
    }
    EXPECT_EQ(readFile(destination() / "text"), expected);
    EXPECT_EQ(readFile(destination() / "zeros"), std::string(3U << 20, '\0'));
}

TEST_F(ZAZipArchiveTest, NamesWithBackslashesNameFolders) {
    const std::string bytes =
        ZipBytes().add(ZipBytes::storedEntry("folder\\file.txt", "x")).bytes();
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(archive("b.zip", bytes), destination()));
    EXPECT_EQ(readFile(destination() / "folder" / "file.txt"), "x");
}

TEST_F(ZAZipArchiveTest, ModesKeepOnlyTheirPermissionBitsAndNobodyElseMayWrite) {
    const struct {
        const char* name;
        std::uint32_t mode;
        unsigned unpacked;
    } cases[] = {
        {"setuid", 0104755, 0755},         {"sticky", 0103777, 0755},
        {"plain", 0100600, 0600},          {"world-writable", 0100666, 0644},
        {"group-writable", 0100770, 0750}, {"read-only", 0100444, 0444},
    };
    ZipBytes zip;
    for (const auto& entry : cases) {
        zip.add(ZipBytes::storedEntry(entry.name, "x", entry.mode));
    }
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(archive("m.zip", zip.bytes()), destination()));
    for (const auto& entry : cases) {
        EXPECT_EQ(modeOf(destination() / entry.name), entry.unpacked) << entry.name;
    }
}

TEST_F(ZAZipArchiveTest, NoModeAndNoDateLeaveWhatTheSystemGives) {
    ZipEntrySpec entry = ZipBytes::storedEntry("file", "x", 0);
    entry.dosDate = 0;
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(5);
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(archive("z.zip", ZipBytes().add(entry).bytes()),
                                              destination()));
    EXPECT_GE(mtimeOf(destination() / "file"), before);
    EXPECT_NE(modeOf(destination() / "file"), 0U);
}

// Each archive fails with its error, and nothing outside the destination changes.
TEST_F(ZAZipArchiveTest, HostileArchivesAreRefused) {
    const fs::path outside = sandbox() / "outside";
    writeFile(outside / "keep.txt", "keep");
    const std::string valid = ZipBytes().add(ZipBytes::storedEntry("ok.txt", "fine")).bytes();
    std::string nested = ZipBytes().add(ZipBytes::storedEntry("leaf.txt", "leaf")).bytes();
    for (int level = 0; level < 5; ++level) {
        nested = ZipBytes().add(ZipBytes::storedEntry("n.zip", nested)).bytes();
    }
    ZipEntrySpec declaresHuge = ZipBytes::storedEntry("huge", "tiny");
    declaresHuge.uncompressedSize = 0xFFFFFFF0U;
    // 4 GiB of zeros in 4 MiB, declaring a kilobyte: reading stops at what it declares.
    const ZipEntrySpec inflatesHuge = ZipBytes::zeroBombEntry("bomb", 4096, 1000);
    ZipEntrySpec shortData = ZipBytes::storedEntry("short", "0123456789");
    shortData.stored.resize(4);

    const struct {
        const char* what;
        std::string bytes;
        long code;
    } cases[] = {
        {"climbing name", ZipBytes().add(ZipBytes::storedEntry("../outside/evil", "x")).bytes(),
         ZAZipArchive::kUnsafeEntry},
        {"name that normalises outside",
         ZipBytes().add(ZipBytes::storedEntry("a/../../outside/evil", "x")).bytes(),
         ZAZipArchive::kUnsafeEntry},
        {"backslash climb", ZipBytes().add(ZipBytes::storedEntry("..\\outside\\evil", "x")).bytes(),
         ZAZipArchive::kUnsafeEntry},
        {"absolute name",
         ZipBytes().add(ZipBytes::storedEntry((outside / "evil").string(), "x")).bytes(),
         ZAZipArchive::kUnsafeEntry},
        {"name not UTF-8", ZipBytes().add(ZipBytes::storedEntry("bad\xFF", "x")).bytes(),
         ZAZipArchive::kUnsafeEntry},
        {"symbolic link",
         ZipBytes()
             .add(ZipBytes::storedEntry("link", (outside / "keep.txt").string(), 0120777))
             .bytes(),
         ZAZipArchive::kUnsafeEntry},
        {"device", ZipBytes().add(ZipBytes::storedEntry("dev", "", 0020666)).bytes(),
         ZAZipArchive::kUnsafeEntry},
        {"declares 4 GiB", ZipBytes().add(declaresHuge).bytes(), ZAZipArchive::kTooLarge},
        {"inflates to 4 GiB", ZipBytes().add(inflatesHuge).bytes(),
         ZAZipArchive::kFailedToReadEntry},
        {"data cut short", ZipBytes().add(shortData).bytes(), ZAZipArchive::kFailedToReadEntry},
        {"archive cut short", valid.substr(0, valid.size() / 2), ZAZipArchive::kFailedToOpenZip},
        // The library finds no archive in a lone end record; one after leading bytes it opens.
        {"no entries at all", ZipBytes().bytes(), ZAZipArchive::kFailedToOpenZip},
        {"no entries", "stub" + ZipBytes().bytes(), ZAZipArchive::kFailedToOpenFirstFile},
        {"5-deep nesting", nested, ZAZipArchive::kNestedTooDeep},
    };
    for (const auto& hostile : cases) {
        SCOPED_TRACE(hostile.what);
        fs::remove_all(destination());
        const auto before = snapshot(outside);
        std::optional<platform::Error> reported;
        const auto result = ZAZipArchive::unzipFileAtPath(
            archive("hostile.zip", hostile.bytes), destination(), nullptr,
            [&](std::optional<std::string_view>, bool succeeded,
                const std::optional<platform::Error>& error) {
                EXPECT_FALSE(succeeded);
                reported = error;
            });
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().domain, ZAZipArchive::kErrorDomain);
        EXPECT_EQ(result.error().code, hostile.code) << result.error().message;
        EXPECT_EQ(reported, result.error());
        EXPECT_EQ(snapshot(outside), before);
        for (const auto& item : fs::directory_iterator(sandbox())) {
            EXPECT_TRUE(item.path() == outside || item.path() == destination()) << item.path();
        }
        EXPECT_EQ(readFile(outside / "keep.txt"), "keep");
    }
    EXPECT_FALSE(fs::exists(outside / "evil"));
}

TEST_F(ZAZipArchiveTest, LinksAlreadyInTheDestinationAreNeverWrittenThrough) {
    const fs::path outside = sandbox() / "outside";
    writeFile(outside / "target.txt", "keep");
    fs::create_directories(destination());
    fs::create_directory_symlink(outside, destination() / "linked");
    fs::create_symlink(outside / "target.txt", destination() / "file.txt");

    const std::string throughFolder =
        ZipBytes().add(ZipBytes::storedEntry("linked/evil", "x")).bytes();
    const auto refused =
        ZAZipArchive::unzipFileAtPath(archive("l.zip", throughFolder), destination());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, ZAZipArchive::kUnsafeEntry);
    EXPECT_FALSE(fs::exists(outside / "evil"));

    // A file link is replaced by the entry, not written through.
    const std::string overFile = ZipBytes().add(ZipBytes::storedEntry("file.txt", "new")).bytes();
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(archive("f.zip", overFile), destination()));
    EXPECT_FALSE(fs::is_symlink(destination() / "file.txt"));
    EXPECT_EQ(readFile(destination() / "file.txt"), "new");
    EXPECT_EQ(readFile(outside / "target.txt"), "keep");
}

TEST_F(ZAZipArchiveTest, TheTotalBoundHoldsAcrossEntriesAndNestedArchives) {
    const std::string inner =
        ZipBytes().add(ZipBytes::storedEntry("inner.bin", std::string(600, 'i'))).bytes();
    const std::string bytes = ZipBytes()
                                  .add(ZipBytes::storedEntry("a.bin", std::string(300, 'a')))
                                  .add(ZipBytes::storedEntry("b.zip", inner))
                                  .bytes();
    ZAZipArchive::UnzipOptions options;
    options.limits.maxTotalBytes = 300 + inner.size() + 500;
    const auto result =
        ZAZipArchive::unzipFileAtPath(archive("t.zip", bytes), destination(), options);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, ZAZipArchive::kTooLarge);

    options.limits.maxTotalBytes = 300 + inner.size() + 600;
    EXPECT_TRUE(ZAZipArchive::unzipFileAtPath(archive("t.zip", bytes), sandbox() / "ok", options));
}

// Records the delegate's callbacks as lines.
class RecordingDelegate : public ZAZipArchiveDelegate {
public:
    void zipArchiveWillUnzipArchiveAtPath(std::string_view, const ZAArchiveInfo& info) override {
        calls.push_back("will archive " + std::to_string(info.entryCount));
    }
    void zipArchiveProgressEvent(std::uint64_t position, std::uint64_t total) override {
        calls.push_back("progress " + std::to_string(position) + "/" + std::to_string(total));
    }
    bool zipArchiveShouldUnzipFileAtIndex(std::uint64_t index, std::uint64_t, std::string_view,
                                          const ZAFileInfo&) override {
        calls.push_back("should " + std::to_string(index));
        return index != refuseAt;
    }
    void zipArchiveWillUnzipFileAtIndex(std::uint64_t index, std::uint64_t, std::string_view,
                                        const ZAFileInfo&) override {
        calls.push_back("will " + std::to_string(index));
    }
    void zipArchiveDidUnzipFileAtIndexToPath(std::uint64_t index, std::uint64_t, std::string_view,
                                             const fs::path& written) override {
        calls.push_back("did " + std::to_string(index) + " " + written.filename().string());
    }
    void zipArchiveDidUnzipArchiveAtPath(std::string_view, const ZAArchiveInfo&,
                                         const fs::path&) override {
        calls.push_back("did archive");
    }

    std::vector<std::string> calls;
    std::uint64_t refuseAt = 99;
};

TEST_F(ZAZipArchiveTest, TheDelegateHearsEachStepAndMayStopTheUnzip) {
    const std::string bytes = ZipBytes()
                                  .add(ZipBytes::storedEntry("one", "1"))
                                  .add(ZipBytes::storedEntry("two", "22"))
                                  .bytes();
    const fs::path zip = archive("d.zip", bytes);
    const auto total = std::to_string(bytes.size());
    RecordingDelegate delegate;
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(zip, destination(), delegate));
    EXPECT_EQ(delegate.calls,
              (std::vector<std::string>{"will archive 2", "progress 0/" + total, "should 0",
                                        "will 0", "progress 1/" + total, "did 0 one", "should 1",
                                        "will 1", "progress 3/" + total, "did 1 two", "did archive",
                                        "progress " + total + "/" + total}));

    // With overwrite off, an existing file keeps its contents and does not advance the index.
    writeFile(sandbox() / "keep" / "one", "mine");
    RecordingDelegate keeping;
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(zip, sandbox() / "keep", false, "", &keeping));
    EXPECT_EQ(readFile(sandbox() / "keep" / "one"), "mine");
    EXPECT_EQ(std::count(keeping.calls.begin(), keeping.calls.end(), "should 0"), 2);
    EXPECT_EQ(std::count(keeping.calls.begin(), keeping.calls.end(), "did 0 two"), 1);

    RecordingDelegate refusing;
    refusing.refuseAt = 1;
    const auto refused = ZAZipArchive::unzipFileAtPath(zip, sandbox() / "r", refusing);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, ZAZipArchive::kRefused);
    EXPECT_EQ(refusing.calls.back(), "should 1");
}

TEST_F(ZAZipArchiveTest, HandlersHearEveryEntryAndTheEnd) {
    const std::string bytes = ZipBytes()
                                  .add(ZipBytes::storedEntry("dir/", "", 040755))
                                  .add(ZipBytes::storedEntry("dir/f", "f"))
                                  .bytes();
    std::vector<std::string> progress;
    int completions = 0;
    ASSERT_TRUE(ZAZipArchive::unzipFileAtPath(
        archive("h.zip", bytes), destination(),
        [&](std::string_view name, const ZAFileInfo&, std::uint64_t handled, std::uint64_t total) {
            progress.push_back(std::string(name) + " " + std::to_string(handled) + "/" +
                               std::to_string(total));
        },
        [&](std::optional<std::string_view> path, bool succeeded,
            const std::optional<platform::Error>& error) {
            ++completions;
            EXPECT_TRUE(path.has_value());
            EXPECT_TRUE(succeeded);
            EXPECT_FALSE(error.has_value());
        }));
    EXPECT_EQ(progress, (std::vector<std::string>{"dir/ 1/2", "dir/f 2/2"}));
    EXPECT_EQ(completions, 1);

    std::optional<std::string_view> missingPath = "unset";
    const auto missing = ZAZipArchive::unzipFileAtPath(
        dir_.path() / "missing.zip", destination(), nullptr,
        [&](std::optional<std::string_view> path, bool, const std::optional<platform::Error>&) {
            missingPath = path;
        });
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ZAZipArchive::kFailedToOpenZip);
    EXPECT_EQ(missing.error().message, "failed to open zip file");
    EXPECT_FALSE(missingPath.has_value());
}

// The system's library is built without decryption: an encrypted entry fails the unzip, with
// its password or without, and leaves no garbage behind.
TEST_F(ZAZipArchiveTest, EncryptedEntriesFailCleanly) {
    writeFile(dir_.path() / "secret" / "s.txt", "secret text");
    const fs::path zip = dir_.path() / "secret.zip";
    const std::string command = "cd '" + (dir_.path() / "secret").string() +
                                "' && zip -q -P pass '" + zip.string() + "' s.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);

    for (const char* password : {"", "pass"}) {
        const auto result = ZAZipArchive::unzipFileAtPath(zip, destination(), true, password);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().code, ZAZipArchive::kFailedToReadEntry) << password;
        EXPECT_FALSE(fs::exists(destination() / "s.txt"));
    }
}

}  // namespace
