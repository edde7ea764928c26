#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "sim/WatchFiles.h"
#include "sim/WireFormat.h"
#include "support/TempDir.h"

namespace {

using kavowatch::WatchFiles;
using platform::Bytes;

constexpr Bytes::value_type kAck = 0x08;
constexpr Bytes::value_type kNak = 0x09;

Bytes info(const std::string& name, std::uint32_t size) {
    Bytes segment(147, 0);
    segment[1] = static_cast<std::uint8_t>(size);
    segment[2] = static_cast<std::uint8_t>(size >> 8);
    std::copy(name.begin(), name.end(), segment.begin() + 5);
    return segment;
}

// As the phone sends it: the CRC-16 of everything before it, low byte first.
Bytes data(std::uint8_t position, std::uint16_t sequence, const Bytes& content) {
    Bytes segment{position, static_cast<std::uint8_t>(sequence),
                  static_cast<std::uint8_t>(sequence >> 8)};
    segment.insert(segment.end(), content.begin(), content.end());
    const std::uint16_t crc = kavowatch::crc16(segment);
    segment.push_back(static_cast<std::uint8_t>(crc));
    segment.push_back(static_cast<std::uint8_t>(crc >> 8));
    return segment;
}

class WatchFilesTest : public ::testing::Test {
protected:
    Bytes answerTo(const Bytes& segment) {
        const std::size_t before = answers.size();
        files.handle(segment, 1);
        return answers.size() > before ? answers.back() : Bytes{};
    }

    testing_support::TempDir folder;
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    std::vector<Bytes> answers;
    WatchFiles files{loop, [this](std::uint8_t, Bytes segment) { answers.push_back(segment); }};
};

TEST_F(WatchFilesTest, EverySegmentIsCheckedBeforeItIsTaken) {
    ASSERT_EQ(answerTo(info("f", 5130)), Bytes{0x01});
    const Bytes first(5120, 'a');
    Bytes damaged = data(0x10, 0, first);
    damaged[100] ^= 1;
    const struct {
        Bytes segment;
        Bytes answer;
        const char* what;
    } cases[] = {
        {damaged, {kNak}, "CRC"},
        {data(0x20, 0, first), {kNak}, "position: two segments"},
        {data(0x10, 1, first), {kNak}, "sequence"},
        {data(0x10, 0, Bytes(100, 'a')), {kNak}, "length"},
        {data(0x10, 0, first), {kAck}, "taken"},
        {data(0x10, 0, first), {kAck}, "a copy, acknowledged again"},
        {data(0x80, 1, Bytes(10, 'b')), {kAck}, "the last"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(answerTo(c.segment), c.answer) << c.what;
    }
    const auto& counters = files.counters();
    EXPECT_EQ(counters.badCrc, 1);
    EXPECT_EQ(counters.badPosition, 1);
    EXPECT_EQ(counters.badSequence, 1);
    EXPECT_EQ(counters.badLength, 1);
    EXPECT_EQ(counters.duplicates, 1);
    ASSERT_EQ(files.received().size(), 1U);
    EXPECT_EQ(files.received()[0].data.size(), 5130U);
}

TEST_F(WatchFilesTest, ReceivedFilesAreKeptUnderSafeNamesOnly) {
    files.keepFilesIn(folder.path() / "got");
    for (const std::string name : {"kept.txt", "..", "a/b"}) {
        files.handle(info(name, 1), 1);
        files.handle(data(0x20, 0, {'x'}), 1);
    }
    ASSERT_EQ(files.received().size(), 3U);
    EXPECT_EQ(*platform::fs::readFile(folder.path() / "got" / "kept.txt"), "x");
    std::size_t kept = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::recursive_directory_iterator(folder.path())) {
        ++kept;
    }
    EXPECT_EQ(kept, 2U) << "the folder and the one file";
}

}  // namespace
