#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/TQFileFixture.h"

namespace file_test {
namespace {

namespace fs = file_segment;

class TQFileReceiveTest : public FileHandlerTest {
protected:
    // A data segment as the watch sends it: no CRC.
    static Bytes fromWatch(std::uint8_t position, std::uint16_t sequence, const Bytes& content) {
        Bytes segment{position, static_cast<std::uint8_t>(sequence),
                      static_cast<std::uint8_t>(sequence >> 8)};
        segment.insert(segment.end(), content.begin(), content.end());
        return segment;
    }
    void announce(const std::string& name, std::uint32_t size, std::uint32_t appId = 5) {
        receive(fs::announcement(fs::kInfo, name, size), appId);
    }
    [[nodiscard]] std::vector<Bytes> answers() const {
        std::vector<Bytes> result;
        for (const auto& s : segments.sent) {
            result.push_back(s.segment);
        }
        return result;
    }
};

TEST_F(TQFileReceiveTest, AnAcceptedFileIsGatheredInSequenceAndHandedUpWhole) {
    announce("in.bin", 12000);
    EXPECT_EQ(files.calls, (std::vector<std::string>{"info in.bin 12000"}));
    handler->acceptFile();
    const Bytes a = bytesOf(5120, 1), b = bytesOf(5120, 2), c = bytesOf(1760, 3);
    receive(fromWatch(fs::kFirst, 0, a), 5);
    receive(fromWatch(fs::kMiddle, 1, b), 5);
    receive(fromWatch(fs::kLast, 2, c), 5);
    Bytes whole = a;
    whole.insert(whole.end(), b.begin(), b.end());
    whole.insert(whole.end(), c.begin(), c.end());
    ASSERT_EQ(files.files.size(), 1U);
    EXPECT_EQ(files.files[0], whole);
    EXPECT_EQ(files.calls.back(), "completed 5");
    EXPECT_EQ(answers(), (std::vector<Bytes>{fs::control(fs::kAccept), fs::control(fs::kAck),
                                             fs::control(fs::kAck), fs::control(fs::kAck)}));
    for (const auto& s : segments.sent) {
        EXPECT_EQ(s.appId, 5U);
    }
    ASSERT_EQ(files.progress.size(), 3U);
    EXPECT_FLOAT_EQ(files.progress[0], 100.0F / 3);
    EXPECT_FLOAT_EQ(files.progress[2], 0.0F) << "after the last segment";
}

TEST_F(TQFileReceiveTest, DataSegmentsCountOnlyForAnAcceptedOrResumedFile) {
    const Bytes only = fromWatch(fs::kOnly, 0, {1, 2});
    receive(only);  // nothing announced
    announce("x", 2);
    receive(only);  // announced, not accepted yet
    handler->rejectFile();
    receive(only);  // rejected
    EXPECT_EQ(answers(), (std::vector<Bytes>{fs::control(fs::kReject)}));
    EXPECT_TRUE(files.files.empty());
    EXPECT_TRUE(files.progress.empty());
}

TEST_F(TQFileReceiveTest, AnUnexpectedSequenceGetsANakAndChangesNothing) {
    announce("x", 10241);
    handler->acceptFile();
    receive(fromWatch(fs::kFirst, 0, bytesOf(5120)));
    for (const std::uint16_t wrong : {0, 2, 0xFFFF}) {
        receive(fromWatch(fs::kMiddle, wrong, bytesOf(5120)));
        EXPECT_EQ(answers().back(), fs::control(fs::kNak)) << wrong;
    }
    EXPECT_EQ(handler->incoming().acceptingSeq(), 1);
    EXPECT_EQ(handler->incoming().gathered(), 5120U);
    EXPECT_EQ(files.progress.size(), 1U);
}

TEST_F(TQFileReceiveTest, ProgressWithoutAKnownSegmentCountIsZero) {
    announce("empty", 0);
    handler->acceptFile();
    receive(fromWatch(fs::kFirst, 0, {}));
    ASSERT_EQ(files.progress.size(), 1U);
    EXPECT_EQ(files.progress[0], 0.0F);
}

TEST_F(TQFileReceiveTest, ANewAnnouncementStartsAfreshButAResumeRequestKeepsWhatCame) {
    announce("first", 20000);
    handler->acceptFile();
    receive(fromWatch(fs::kFirst, 0, bytesOf(5120, 1)));
    receive(fromWatch(fs::kMiddle, 1, bytesOf(5120, 2)));

    receive(fs::announcement(fs::kResumeRequest, "first", 20000));
    EXPECT_EQ(files.calls.back(), "resume first 20000");
    handler->resumeAccept();
    EXPECT_EQ(answers().back(), fs::resumeAccept(1)) << "two segments taken";
    EXPECT_EQ(handler->incoming().gathered(), 10240U);

    announce("second", 3);
    EXPECT_EQ(handler->incoming().gathered(), 0U);
    EXPECT_EQ(handler->incoming().acceptingSeq(), 0);
    handler->acceptFile();
    receive(fromWatch(fs::kOnly, 0, {7, 8, 9}));
    ASSERT_EQ(files.files.size(), 1U);
    EXPECT_EQ(files.files[0], (Bytes{7, 8, 9}));
}

TEST_F(TQFileReceiveTest, AResumeBeforeAnySegmentCarriesFFFF) {
    announce("x", 100);
    handler->acceptFile();
    receive(fs::announcement(fs::kResumeRequest, "x", 100));
    handler->resumeAccept();
    EXPECT_EQ(answers().back(), (Bytes{fs::kResumeAccept, 0xFF, 0xFF}));
    handler->resumeReject();
    EXPECT_EQ(answers().back(), fs::control(fs::kResumeReject));
}

TEST_F(TQFileReceiveTest, ACancelTellsTheNameAndDropsTheFile) {
    announce("gone", 20000);
    handler->acceptFile();
    receive(fromWatch(fs::kFirst, 0, bytesOf(5120)));
    control(fs::kCancel);
    EXPECT_EQ(files.calls.back(), "cancel gone");
    receive(fromWatch(fs::kMiddle, 1, bytesOf(5120)));
    EXPECT_EQ(handler->incoming().gathered(), 0U);
    EXPECT_EQ(answers().back(), fs::control(fs::kAck)) << "nothing for the stray segment";
}

TEST_F(TQFileReceiveTest, ASegmentPastTheAnnouncedSizeCancelsTheFile) {
    const struct {
        const char* name;
        std::uint32_t announced;
        std::vector<Bytes> segments;  // the last one goes past the size
        std::size_t gatheredBefore;
    } cases[] = {
        {"only, one byte over", 2, {fromWatch(fs::kOnly, 0, {1, 2, 3})}, 0},
        {"first, over at once", 100, {fromWatch(fs::kFirst, 0, bytesOf(5120))}, 0},
        {"middle goes on past the size",
         6000,
         {fromWatch(fs::kFirst, 0, bytesOf(5120)), fromWatch(fs::kMiddle, 1, bytesOf(5120))},
         5120},
        {"last, one byte over",
         5121,
         {fromWatch(fs::kFirst, 0, bytesOf(5120)), fromWatch(fs::kLast, 1, {1, 2})},
         5120},
        {"nothing announced takes nothing", 0, {fromWatch(fs::kOnly, 0, {1})}, 0},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        segments.sent.clear();
        files.calls.clear();
        announce("big", test.announced);
        handler->acceptFile();
        for (std::size_t i = 0; i + 1 < test.segments.size(); ++i) {
            receive(test.segments[i]);
        }
        EXPECT_EQ(handler->incoming().gathered(), test.gatheredBefore);
        receive(test.segments.back());
        EXPECT_EQ(answers().back(), fs::control(fs::kCancel));
        EXPECT_EQ(files.calls.back(), "cancel big");
        EXPECT_EQ(handler->incoming().gathered(), 0U);
        EXPECT_FALSE(handler->incoming().isGathering());
        EXPECT_TRUE(files.files.empty());
    }
    // A file that keeps to its size still comes whole afterwards.
    announce("fits", 3);
    handler->acceptFile();
    receive(fromWatch(fs::kOnly, 0, {7, 8, 9}));
    ASSERT_EQ(files.files.size(), 1U);
    EXPECT_EQ(files.files[0], (Bytes{7, 8, 9}));
}

TEST_F(TQFileReceiveTest, ShortAndUnknownSegmentsAreIgnored) {
    for (const Bytes& segment : std::vector<Bytes>{{},
                                                   {fs::kInfo, 1},
                                                   {fs::kResumeRequest},
                                                   {fs::kResumeAccept, 1},
                                                   {0x03},
                                                   {0x30, 0, 0},
                                                   {fs::kOnly, 0}}) {
        receive(segment);
    }
    EXPECT_TRUE(files.calls.empty());
    EXPECT_TRUE(segments.sent.empty());
}

}  // namespace
}  // namespace file_test
