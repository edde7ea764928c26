#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/TQFileFixture.h"

namespace file_test {
namespace {

namespace fs = file_segment;

class TQFileSendTest : public FileHandlerTest {
protected:
    // The segment the handler must send for piece index of data.
    static Bytes expected(const Bytes& data, std::uint64_t index) {
        const auto count = fs::pieceCount(data.size());
        return fs::dataSegment(fs::positionFor(index, count), static_cast<std::uint16_t>(index),
                               fs::piece(data, index));
    }
    // Accepts the announced file and acknowledges n segments.
    void acceptAndAcknowledge(int n) {
        control(fs::kAccept);
        for (int i = 0; i < n; ++i) {
            control(fs::kAck);
        }
    }
    [[nodiscard]] std::string nameOfEvent(std::size_t i) const {
        const std::string* name = events.at(i).info["fileName"].stringIf();
        return name != nullptr ? *name : std::string("?");
    }
};

TEST_F(TQFileSendTest, EachFileIsAnnouncedThenSentOneAcknowledgedSegmentAtATime) {
    for (const std::size_t size : {0, 1, 5120, 12000}) {
        SCOPED_TRACE(size);
        sent().clear();
        events.clear();
        const Bytes data = bytesOf(size);
        send("f.bin", data);
        ASSERT_EQ(sent().size(), 1U);
        EXPECT_EQ(last(), fs::announcement(fs::kInfo, "f.bin", static_cast<std::uint32_t>(size)));
        control(fs::kAccept);
        const auto count = fs::pieceCount(size);
        for (std::uint64_t i = 0; i < count; ++i) {
            ASSERT_EQ(sent().size(), 2 + i);
            EXPECT_EQ(last(), expected(data, i)) << "segment " << i;
            EXPECT_TRUE(sent().back().arq);
            EXPECT_EQ(sent().back().appId, kAppId);
            control(fs::kAck);
        }
        EXPECT_EQ(sent().size(), 1 + count) << "nothing after the last acknowledgement";
        ASSERT_EQ(events.size(), 1 + count);
        EXPECT_EQ(events[0].code, 1);
        EXPECT_EQ(events.back().code, 3);
        EXPECT_EQ(events.back().info["progress"].doubleValue(), 100.0);
        EXPECT_FALSE(handler->outgoing().isCurrent());
    }
}

TEST_F(TQFileSendTest, ANakSendsTheSameBytesAgain) {
    const Bytes data = bytesOf(12000);
    send("f", data);
    acceptAndAcknowledge(1);
    const Bytes second = last();
    control(fs::kNak);
    EXPECT_EQ(last(), second);
    EXPECT_EQ(last(), expected(data, 1));
    EXPECT_EQ(handler->outgoing().index(), 1U);
}

TEST_F(TQFileSendTest, AnUnansweredSegmentGoesOnceMoreThenFailsAndTheNextFileStarts) {
    const Bytes data = bytesOf(12000);
    send("a", data);
    send("b", bytesOf(10));
    acceptAndAcknowledge(1);
    const std::size_t before = sent().size();
    loop.advance(149.9);
    EXPECT_EQ(sent().size(), before);
    loop.advance(0.1);
    ASSERT_EQ(sent().size(), before + 1);
    EXPECT_EQ(last(), expected(data, 1)) << "the same bytes once more";
    loop.advance(150);
    ASSERT_EQ(sent().size(), before + 3);
    EXPECT_EQ(sent()[before + 1].segment, fs::control(fs::kCancel));
    EXPECT_EQ(last(), fs::announcement(fs::kInfo, "b", 10));
    ASSERT_EQ(codes(), (std::vector<int>{1, 3, 5}));
    EXPECT_TRUE(events.back().info ==
                (Value{{"fileName", "a"}, {"errorCode", 8}, {"errorDesc", "File sending failed"}}));
}

TEST_F(TQFileSendTest, AnUnansweredAnnouncementFailsTheSameWay) {
    send("a", bytesOf(10));
    loop.advance(150);
    EXPECT_EQ(sent().size(), 2U);
    EXPECT_EQ(last(), sent().front().segment);
    loop.advance(150);
    EXPECT_EQ(last(), fs::control(fs::kCancel));
    EXPECT_EQ(codes(), (std::vector<int>{5}));
}

TEST_F(TQFileSendTest, AfterARejectTheNextQueuedFileStarts) {
    send("a", bytesOf(10));
    send("b", bytesOf(20));
    control(fs::kReject);
    EXPECT_EQ(codes(), (std::vector<int>{2}));
    EXPECT_EQ(nameOfEvent(0), "a");
    EXPECT_EQ(last(), fs::announcement(fs::kInfo, "b", 20));
}

TEST_F(TQFileSendTest, LateCopiesOfAnswersChangeNothing) {
    const Bytes data = bytesOf(12000);
    send("a", data);
    acceptAndAcknowledge(1);
    control(fs::kAccept);
    EXPECT_EQ(handler->outgoing().index(), 1U);
    EXPECT_EQ(codes(), (std::vector<int>{1, 3}));
    acceptAndAcknowledge(3);  // the third acknowledgement finishes it; the fourth is stray
    EXPECT_FALSE(handler->outgoing().isCurrent());
    EXPECT_EQ(codes(), (std::vector<int>{1, 3, 3, 3}));
}

// Link lost with segment 4 of 8 under way (0-4 went out), then the watch's last sequence.
TEST_F(TQFileSendTest, AResumeContinuesRightAfterTheWatchsLastSegment) {
    struct Case {
        std::uint16_t last;
        std::optional<std::uint64_t> next;  // nothing: the file fails
    };
    const Case cases[] = {{3, 4}, {4, 5}, {0xFFFF, 0}, {0, 1}, {5, std::nullopt}, {0xFFFE, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.last);
        handler->resetFileHandler();
        sent().clear();
        events.clear();
        const Bytes data = bytesOf(8 * 5120 - 1);
        send("a", data);
        send("next", bytesOf(1));
        acceptAndAcknowledge(4);
        handler->pauseFileSend();
        loop.advance(1000);
        EXPECT_EQ(last(), expected(data, 4)) << "nothing while paused";
        handler->resumeRequest();
        EXPECT_EQ(last(), fs::announcement(fs::kResumeRequest, "a",
                                           static_cast<std::uint32_t>(data.size())));
        receive(fs::resumeAccept(c.last));
        if (c.next) {
            EXPECT_EQ(last(), expected(data, *c.next));
            EXPECT_EQ(events.back().code, 6);
            EXPECT_EQ(handler->outgoing().index(), *c.next);
        } else {
            EXPECT_EQ(codes(), (std::vector<int>{1, 3, 3, 3, 3, 6, 5}));
            ASSERT_GE(sent().size(), 2U);
            EXPECT_EQ(sent()[sent().size() - 2].segment, fs::control(fs::kCancel));
            EXPECT_EQ(last(), fs::announcement(fs::kInfo, "next", 1));
        }
    }
}

TEST_F(TQFileSendTest, AResumeAtOrPastTheEndFinishesTheFile) {
    const Bytes data = bytesOf(3 * 5120 - 1);
    send("a", data);
    send("next", bytesOf(1));
    acceptAndAcknowledge(2);  // the last segment, 2, went out
    handler->pauseFileSend();
    handler->resumeRequest();
    receive(fs::resumeAccept(2));
    EXPECT_EQ(codes(), (std::vector<int>{1, 3, 3, 6, 3}));
    EXPECT_EQ(events.back().info["progress"].doubleValue(), 100.0);
    EXPECT_EQ(last(), fs::announcement(fs::kInfo, "next", 1));
}

TEST_F(TQFileSendTest, AnAcknowledgementWhilePausedCountsButSendsNothing) {
    const Bytes data = bytesOf(12000);
    send("a", data);
    acceptAndAcknowledge(0);
    handler->pauseFileSend();
    const std::size_t before = sent().size();
    control(fs::kAck);
    EXPECT_EQ(sent().size(), before);
    EXPECT_EQ(handler->outgoing().index(), 1U);
    handler->resumeRequest();
    receive(fs::resumeAccept(0));
    EXPECT_EQ(last(), expected(data, 1));
}

TEST_F(TQFileSendTest, QueuedFilesWaitOnDiskUnderNamesOfTheirOwn) {
    for (int i = 0; i < 20; ++i) {
        send("f" + std::to_string(i), bytesOf(100, static_cast<std::uint8_t>(i)));
    }
    EXPECT_EQ(queueFiles(), 19U) << "all but the one under way, within one second";
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(last(), fs::announcement(fs::kInfo, "f" + std::to_string(i), 100));
        acceptAndAcknowledge(1);
    }
    EXPECT_EQ(queueFiles(), 0U);
    EXPECT_EQ(codes().size(), 40U);
}

TEST_F(TQFileSendTest, AQueuedFileThatCannotBeReadBackFailsAndTheQueueMovesOn) {
    send("a", bytesOf(10));
    send("b", bytesOf(10));
    send("c", bytesOf(10));
    for (const auto& entry : std::filesystem::directory_iterator(folder.path() / "QueueFiles")) {
        std::filesystem::remove(entry.path());
    }
    send("d", bytesOf(10));
    acceptAndAcknowledge(1);
    ASSERT_EQ(codes(), (std::vector<int>{1, 3, 5, 5}));
    EXPECT_EQ(nameOfEvent(2), "b");
    EXPECT_EQ(nameOfEvent(3), "c");
    EXPECT_EQ(last(), fs::announcement(fs::kInfo, "d", 10));
}

TEST_F(TQFileSendTest, CancelSendsFileCancelAndStartsTheNextFile) {
    send("a", bytesOf(12000));
    send("b", bytesOf(1));
    acceptAndAcknowledge(1);
    handler->cancelFile();
    EXPECT_EQ(sent()[sent().size() - 2].segment, fs::control(fs::kCancel));
    EXPECT_EQ(last(), fs::announcement(fs::kInfo, "b", 1));
    loop.advance(1000);
    EXPECT_EQ(codes(), (std::vector<int>{1, 3, 5})) << "only b's timer runs out";
}

TEST_F(TQFileSendTest, AResetForgetsTheQueueAndItsFolder) {
    send("a", bytesOf(10));
    send("b", bytesOf(10));
    handler->resetFileHandler();
    EXPECT_EQ(queueFiles(), 0U);
    control(fs::kAccept);
    loop.advance(1000);
    EXPECT_EQ(sent().size(), 1U);
    EXPECT_TRUE(events.empty());
}

}  // namespace
}  // namespace file_test
