#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "e2e/E2EWorld.h"
#include "link/TQAPFileTransferDelegate.h"
#include "link/TQFileHandler.h"

namespace e2e {
namespace {

using kavowatch::FaultDirection;

constexpr std::uint32_t kAppId = 1;
constexpr double kLoss = 0.05;
// Virtual seconds; a file of a mebibyte under loss takes a few thousand.
constexpr double kPatience = 40000;

Bytes noise(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// The phone's upper layer: accepts every file the watch offers, on the loop's next turn, as a
// screen would, and keeps what arrives.
class AcceptingFiles final : public TQAPFileTransferDelegate {
public:
    AcceptingFiles(TQAP& ap, platform::RunLoop& loop) : ap_(ap), loop_(loop) {}

    void onFileReceiveCompleted(std::span<const std::uint8_t> file, std::uint32_t appId) override {
        received.push_back({Bytes(file.begin(), file.end()), appId});
    }
    void onFileSendProgress(float) override {}
    void onFileReceiveProgress(float) override {}
    void onFileReceiveRequest(const std::string& name, std::uint64_t) override {
        offered.push_back(name);
        loop_.post([this] { ap_.acceptFile(); });
    }
    void onFileReject(const std::string&) override {}
    void onFileCancel(const std::string& name) override { cancelled.push_back(name); }
    void onFileResumeRequest(const std::string&, std::uint64_t) override {
        loop_.post([this] { ap_.resumeFileAccept(); });
    }
    void onFileResumeReject(const std::string&) override {}
    void onFileError(const TQError& error) override { errors.push_back(error.errorCode()); }

    struct File {
        Bytes data;
        std::uint32_t appId;
    };
    std::vector<File> received;
    std::vector<std::string> offered;
    std::vector<std::string> cancelled;
    std::vector<std::int64_t> errors;

private:
    TQAP& ap_;
    platform::RunLoop& loop_;
};

class FileTransferTest : public E2ETest {
protected:
    void SetUp() override {
        world.ap.setFileHandler(std::make_unique<TQFileHandler>(
            world.ap, world.ap, world.loop, world.container.documents() / "QueueFiles"));
        world.ap.setFileTransferDelegate(files);
        ASSERT_NO_FATAL_FAILURE(startPhone());
        watch = makeWatch(kWatch);
        watch->powerOn();
        watch->advertise(static_cast<std::uint8_t>(kavowatch::Purpose::setupWizard));
        ASSERT_NO_FATAL_FAILURE(pairThroughTheScreens(*watch));
    }

    // The watch drops off the air mid-file, the phone sees the link go, and the watch comes
    // back and is paired again; what either side was sending waits for a resume.
    void vanishAndReturn() {
        const int disconnects = world.delegate->count("disconnect");
        watch->vanish();
        ASSERT_TRUE(runUntil([&] { return world.delegate->count("disconnect") > disconnects; }, 5));
        watch->powerOn();
        watch->advertise(static_cast<std::uint8_t>(kavowatch::Purpose::autoConnection));
        ASSERT_TRUE(runUntil([&] { return world.ap.isConnected() && watch->isPaired(); },
                             TQBleManager::kSearchInterval + 10));
    }

    void loseEachWay(double rate) {
        watch->faults().setRates(FaultDirection::outgoing, {.drop = rate});
        watch->faults().setRates(FaultDirection::incoming, {.drop = rate});
    }

    // Queues a file to the watch; its event codes go to events[name], the progress event of
    // the last segment (100 %) as kFinished.
    void sendToWatch(const std::string& name, Bytes data) {
        world.ap.sendFile(std::move(data), name, kAppId, [this, name](int code, const Value& info) {
            const bool finished = code == 3 && info["progress"].doubleValue() == 100.0;
            events[name].push_back(finished ? kFinished : code);
        });
    }
    static constexpr int kFinished = 100;

    std::shared_ptr<AcceptingFiles> files = std::make_shared<AcceptingFiles>(world.ap, world.loop);
    std::unique_ptr<kavowatch::Watch> watch;
    std::map<std::string, std::vector<int>> events;
};

const std::size_t kSizes[] = {0, 1, 5120, 12000, 1 << 20};

TEST_F(FileTransferTest, UnderLossFilesReachTheWatchWholeAndInOrder) {
    loseEachWay(kLoss);
    std::vector<Bytes> sent;
    for (std::size_t i = 0; i < std::size(kSizes); ++i) {
        sent.push_back(kSizes[i] == 1 ? Bytes{0x41} : noise(kSizes[i], i));
        sendToWatch("file" + std::to_string(i), sent.back());
    }
    ASSERT_TRUE(
        runUntil([&] { return watch->files().received().size() == sent.size(); }, kPatience));
    EXPECT_GT(watch->faults().counts(FaultDirection::incoming).dropped, 0);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto& file = watch->files().received()[i];
        EXPECT_EQ(file.name, "file" + std::to_string(i));
        EXPECT_EQ(file.appId, kAppId);
        EXPECT_TRUE(file.data == sent[i]) << file.name << ": " << file.data.size() << " bytes";
    }
    // The phone hears of each as finished once the last acknowledgement is through.
    ASSERT_TRUE(runUntil(
        [&] { return !events["file4"].empty() && events["file4"].back() == kFinished; }, 600));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto& codes = events["file" + std::to_string(i)];
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.front(), 1);
        EXPECT_EQ(codes.back(), kFinished) << "file" << i;
    }
    const auto& counters = watch->files().counters();
    EXPECT_EQ(counters.badCrc + counters.badPosition + counters.badLength, 0);

    // The one-byte file on the wire, exactly.
    int oneByteSegments = 0;
    for (const auto& message : watch->messages().all()) {
        oneByteSegments +=
            message.priority == 3 && message.body == Bytes{0x20, 0x00, 0x00, 0x41, 0xCB, 0xF0};
    }
    EXPECT_GE(oneByteSegments, 1);
}

TEST_F(FileTransferTest, UnderLossFilesReachThePhoneWholeAndInOrder) {
    loseEachWay(kLoss);
    std::vector<Bytes> sent;
    for (std::size_t i = 0; i < std::size(kSizes); ++i) {
        sent.push_back(noise(kSizes[i], 10 + i));
        watch->files().sendFile("up" + std::to_string(i), sent.back(), kAppId);
    }
    ASSERT_TRUE(runUntil([&] { return files->received.size() == sent.size(); }, kPatience));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_TRUE(files->received[i].data == sent[i])
            << i << ": " << files->received[i].data.size() << " bytes";
        EXPECT_EQ(files->received[i].appId, kAppId);
    }
    EXPECT_EQ(files->offered.size(), sent.size());
    ASSERT_TRUE(runUntil([&] { return watch->files().sent().size() == sent.size(); }, 600));
    for (const auto& [name, outcome] : watch->files().sent()) {
        EXPECT_EQ(outcome, kavowatch::SentFileOutcome::delivered) << name;
    }
}

TEST_F(FileTransferTest, AFileToAWatchThatVanishesMidFileResumesWhereTheWatchStopped) {
    const Bytes data = noise(100'000, 3);
    sendToWatch("big", data);
    ASSERT_TRUE(runUntil([&] { return watch->files().segmentsHeld() >= 5; }, 600));
    ASSERT_NO_FATAL_FAILURE(vanishAndReturn());
    // The home screen's choice after a reconnection.
    world.ap.resumeFileRequest();
    ASSERT_TRUE(runUntil([&] { return !watch->files().received().empty(); }, 600));
    EXPECT_TRUE(watch->files().received()[0].data == data);
    EXPECT_EQ(watch->files().counters().resumeRequests, 1);
    EXPECT_EQ(watch->files().counters().badSequence, 0);
    ASSERT_TRUE(runUntil([&] { return events["big"].back() == kFinished; }, 60));
    EXPECT_NE(std::find(events["big"].begin(), events["big"].end(), 6), events["big"].end());
}

// The watch comes back and answers the resume request with a last sequence of its choosing,
// relative to what it holds: behind it the phone goes back, beyond what was sent it fails.
TEST_F(FileTransferTest, AResumeFollowsTheWatchsAnswerOrFailsTheFile) {
    struct Case {
        int last;  // relative to the last segment the watch holds; -99: none (0xFFFF)
        bool arrives;
    };
    const Case cases[] = {{-2, true}, {-1, true}, {0, true}, {-99, true}, {3, false}};
    std::uint64_t seed = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.last);
        const std::string name = "r" + std::to_string(seed);
        const Bytes data = noise(60'000, seed++);
        const std::size_t receivedBefore = watch->files().received().size();
        const int cancelsBefore = watch->files().counters().cancelsReceived;
        sendToWatch(name, data);
        ASSERT_TRUE(runUntil([&] { return watch->files().segmentsHeld() >= 6; }, 600));
        // Held before the link goes: the last one's acknowledgement may not be through.
        const auto held = static_cast<int>(watch->files().segmentsHeld());
        ASSERT_NO_FATAL_FAILURE(vanishAndReturn());
        watch->files().answerResumeWith(
            c.last == -99 ? 0xFFFF : static_cast<std::uint16_t>(held - 1 + c.last));
        world.ap.resumeFileRequest();
        const auto& heard = events[name];
        ASSERT_TRUE(runUntil(
            [&] { return !heard.empty() && (heard.back() == kFinished || heard.back() == 5); },
            600));
        watch->files().answerResumeWith(std::nullopt);
        const bool arrived = watch->files().received().size() > receivedBefore;
        if (c.arrives) {
            ASSERT_TRUE(arrived);
            EXPECT_TRUE(watch->files().received().back().data == data);
            EXPECT_EQ(heard.back(), kFinished);
        } else {
            EXPECT_FALSE(arrived);
            EXPECT_EQ(heard.back(), 5);
            EXPECT_TRUE(runUntil(
                [&] { return watch->files().counters().cancelsReceived > cancelsBefore; }, 60))
                << "FILE_CANCEL";
        }
        EXPECT_EQ(watch->files().counters().badSequence, 0);
    }
}

TEST_F(FileTransferTest, AFileFromAWatchThatVanishesMidFileResumesOnTheWatchsRequest) {
    const Bytes data = noise(60'000, 4);
    watch->files().sendFile("up", data, kAppId);
    ASSERT_TRUE(runUntil([&] { return watch->files().counters().segmentsSent >= 4; }, 600));
    ASSERT_NO_FATAL_FAILURE(vanishAndReturn());
    watch->files().requestResume();
    ASSERT_TRUE(runUntil([&] { return !files->received.empty(); }, 600));
    EXPECT_TRUE(files->received[0].data == data);
    EXPECT_EQ(files->offered.size(), 1U) << "resumed, not offered again";
}

TEST_F(FileTransferTest, TheWatchRefusesAFileAndTheNextOneGoes) {
    watch->files().setAccepting(false);
    sendToWatch("refused", noise(10, 1));
    ASSERT_TRUE(runUntil([&] { return !events["refused"].empty(); }, 60));
    EXPECT_EQ(events["refused"], (std::vector<int>{2}));
    watch->files().setAccepting(true);
    sendToWatch("taken", noise(10, 2));
    ASSERT_TRUE(runUntil([&] { return watch->files().received().size() == 1; }, 60));
    EXPECT_EQ(watch->files().received()[0].name, "taken");
}

TEST_F(FileTransferTest, AWatchAskingForSegmentsAgainGetsTheSameBytes) {
    const Bytes data = noise(12000, 5);
    watch->files().nakNext(3);
    sendToWatch("again", data);
    ASSERT_TRUE(runUntil([&] { return watch->files().received().size() == 1; }, 60));
    EXPECT_TRUE(watch->files().received()[0].data == data);
    EXPECT_EQ(watch->files().counters().naksSent, 3);
    int firstSegments = 0;
    for (const auto& message : watch->messages().all()) {
        firstSegments += message.priority == 3 && !message.body.empty() && message.body[0] == 0x10;
    }
    EXPECT_EQ(firstSegments, 4) << "the first segment, then the same three times more";
}

TEST_F(FileTransferTest, TheWatchCancelsItsFileAndThePhoneIsTold) {
    watch->files().sendFile("dropped", noise(50'000, 6), kAppId);
    ASSERT_TRUE(runUntil([&] { return watch->files().counters().segmentsSent >= 2; }, 60));
    watch->files().cancelSending();
    ASSERT_TRUE(runUntil([&] { return !files->cancelled.empty(); }, 60));
    EXPECT_EQ(files->cancelled, (std::vector<std::string>{"dropped"}));
    EXPECT_TRUE(files->received.empty());
}

TEST_F(FileTransferTest, AWatchSendingMoreThanItAnnouncedHasItsFileCancelled) {
    watch->files().sendFile("liar", noise(12'000, 7), kAppId, 6'000);
    const Bytes honest = noise(3'000, 8);
    watch->files().sendFile("honest", honest, kAppId);
    ASSERT_TRUE(runUntil([&] { return watch->files().sent().size() == 2; }, 600));
    EXPECT_EQ(watch->files().sent()[0],
              std::pair(std::string("liar"), kavowatch::SentFileOutcome::cancelledByPhone));
    EXPECT_EQ(watch->files().sent()[1],
              std::pair(std::string("honest"), kavowatch::SentFileOutcome::delivered));
    EXPECT_EQ(files->cancelled, (std::vector<std::string>{"liar"}));
    ASSERT_EQ(files->received.size(), 1U);
    EXPECT_TRUE(files->received[0].data == honest);
}

}  // namespace
}  // namespace e2e
