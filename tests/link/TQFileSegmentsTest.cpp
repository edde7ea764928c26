#include <gtest/gtest.h>

#include <string>

#include "link/TQFileSegments.h"

namespace {

namespace fs = file_segment;
using platform::Bytes;

TEST(TQFileSegmentsTest, AOneByteFileIsOneOnlySegmentWithItsCrcLowByteFirst) {
    const Bytes data{0x41};
    EXPECT_EQ(fs::dataSegment(fs::positionFor(0, fs::pieceCount(1)), 0, data),
              (Bytes{0x20, 0x00, 0x00, 0x41, 0xCB, 0xF0}));
}

TEST(TQFileSegmentsTest, PiecesAndPositionsFollowTheSize) {
    struct Case {
        std::size_t size;
        std::vector<std::size_t> lengths;
        std::vector<std::uint8_t> positions;
    };
    const Case cases[] = {
        {0, {0}, {fs::kOnly}},
        {1, {1}, {fs::kOnly}},
        {5119, {5119}, {fs::kOnly}},
        {5120, {5120, 0}, {fs::kFirst, fs::kLast}},
        {10240, {5120, 5120, 0}, {fs::kFirst, fs::kMiddle, fs::kLast}},
        {12000, {5120, 5120, 1760}, {fs::kFirst, fs::kMiddle, fs::kLast}},
    };
    for (const auto& c : cases) {
        const Bytes data(c.size, 0x5A);
        const auto count = fs::pieceCount(c.size);
        ASSERT_EQ(count, c.lengths.size()) << c.size;
        for (std::uint64_t i = 0; i < count; ++i) {
            EXPECT_EQ(fs::piece(data, i).size(), c.lengths[i]) << c.size << " piece " << i;
            EXPECT_EQ(fs::positionFor(i, count), c.positions[i]) << c.size << " piece " << i;
        }
        EXPECT_TRUE(fs::piece(data, count).empty()) << "past the end";
    }
}

TEST(TQFileSegmentsTest, TheReceiverCountsAnnouncedSegmentsRoundedUpIn16Bits) {
    EXPECT_EQ(fs::announcedCount(0), 0);
    EXPECT_EQ(fs::announcedCount(5120), 1);
    EXPECT_EQ(fs::announcedCount(10241), 3);
    EXPECT_EQ(fs::announcedCount(5120U * 65537U), 1) << "wraps";
}

TEST(TQFileSegmentsTest, OutgoingNamesAreCutAtACharacterBoundaryToLeaveTheirNul) {
    struct Case {
        std::string name;
        std::size_t kept;
    };
    const std::string e = "\xC3\xA9";  // two bytes
    const Case cases[] = {
        {"a.txt", 5},
        {std::string(141, 'a'), 141},
        {std::string(142, 'a'), 141},
        {std::string(140, 'a') + e, 140},  // é would need bytes 140 and 141 and the NUL 142
        {std::string(139, 'a') + e + "b", 141},
        {std::string(300, 'a'), 141},
    };
    for (const auto& c : cases) {
        const Bytes segment = fs::announcement(fs::kInfo, c.name, 0x01020304);
        ASSERT_EQ(segment.size(), fs::kAnnouncementSize);
        EXPECT_EQ(Bytes(segment.begin(), segment.begin() + 5), (Bytes{0, 4, 3, 2, 1}));
        const auto read = fs::readAnnouncement(segment);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->name, c.name.substr(0, c.kept)) << c.name.size();
        EXPECT_EQ(segment.back(), 0) << "the NUL";
    }
}

TEST(TQFileSegmentsTest, ReceivedAnnouncementsAreReadWithinWhatArrived) {
    struct Case {
        Bytes segment;
        std::optional<std::string> name;  // nothing: not read at all
    };
    Bytes noNul(200, 'n');
    noNul[0] = fs::kInfo;
    const Case cases[] = {
        {{fs::kInfo}, std::nullopt},
        {{fs::kInfo, 1, 0, 0}, std::nullopt},
        {{fs::kInfo, 1, 0, 0, 0}, ""},
        {{fs::kInfo, 1, 0, 0, 0, 'a', 'b'}, "ab"},
        {{fs::kInfo, 1, 0, 0, 0, 'a', 0, 'b'}, "a"},
        {noNul, std::string(fs::kNameField, 'n')},
    };
    for (const auto& c : cases) {
        const auto read = fs::readAnnouncement(c.segment);
        ASSERT_EQ(read.has_value(), c.name.has_value()) << c.segment.size();
        if (read) {
            EXPECT_EQ(read->name, *c.name);
        }
    }
}

TEST(TQFileSegmentsTest, DataSegmentsAreReadOnlyWithAPositionAndAWholeHeader) {
    EXPECT_FALSE(fs::readData(Bytes{fs::kOnly, 0}));
    EXPECT_FALSE(fs::readData(Bytes{0x30, 0, 0, 1}));
    const Bytes segment{fs::kMiddle, 0x34, 0x12, 9};
    const auto read = fs::readData(segment);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->sequence, 0x1234);
    EXPECT_EQ(Bytes(read->content.begin(), read->content.end()), Bytes{9});
    EXPECT_FALSE(fs::readResumeAccept(Bytes{fs::kResumeAccept, 1}));
    EXPECT_EQ(fs::readResumeAccept(fs::resumeAccept(0xFFFF)), 0xFFFF);
}

}  // namespace
