#include <atomic>
#include <fstream>
#include <limits>
#include <sstream>

#include "HCOperationFixture.h"
#include "http/HCHTTPRequestOperation.h"

namespace {

using platform::Bytes;
using platform::net::FileOutputStream;
using platform::net::OutputStream;

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A stream that takes `room` bytes and then fails, or that has no space for `busyPolls`
// questions (for ever with -1, until given space).
class ScriptedStream final : public OutputStream {
public:
    explicit ScriptedStream(std::size_t room, int busyPolls = 0)
        : room_(room), busyPolls_(busyPolls) {}
    void open() override { setStatus(Status::open); }
    void close() override {}
    [[nodiscard]] bool hasSpaceAvailable() const override {
        const int poll = polls_++;
        if (busyPolls_ < 0) {
            return spaceGiven_;
        }
        return poll >= busyPolls_;
    }
    [[nodiscard]] int polls() const { return polls_; }
    void giveSpace() { spaceGiven_ = true; }
    std::int64_t write(std::span<const std::uint8_t> bytes) override {
        if (taken_.size() >= room_) {
            return fail(platform::Error{"test.stream", 28, "no room left"});
        }
        const std::size_t n = std::min(bytes.size(), room_ - taken_.size());
        taken_.insert(taken_.end(), bytes.begin(), bytes.begin() + static_cast<long>(n));
        return static_cast<std::int64_t>(n);
    }
    Bytes taken_;

private:
    std::size_t room_;
    int busyPolls_;
    mutable std::atomic<int> polls_{0};
    std::atomic<bool> spaceGiven_{false};
};

using HCRequestOperationTest = HCOperationFixture;

TEST_F(HCRequestOperationTest, QueuedOperationDeliversTheBodyAndNotifiesStartAndFinishOnce) {
    auto op = operation("/bytes?size=5000");
    Outcome outcome;
    record(*op, outcome);
    queue_.addOperation(op);
    op->start();  // a direct start beside the queue's runs no second transfer
    ASSERT_TRUE(wait([&] {
        return outcome.done && notes(HCNetworkingOperationDidFinishNotification, op.get()) == 1 &&
               queue_.operationCount() == 0;
    }));
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_TRUE(outcome.onLoop);
    ASSERT_NE(outcome.object.bytesIf(), nullptr);
    const std::string expected = patternText(0, 5000);
    EXPECT_EQ(*outcome.object.bytesIf(), Bytes(expected.begin(), expected.end()));
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(op->response()->statusCode, 200);
    EXPECT_EQ(notes(HCNetworkingOperationDidStartNotification, op.get()), 1U);
    EXPECT_EQ(server_.received().size(), 1U);
    EXPECT_EQ(op->totalBytesRead(), 5000);
}

TEST_F(HCRequestOperationTest, ChunkedDownloadReportsEveryChunkWithAnUnknownTotal) {
    auto op = operation("/chunked?size=300000");
    std::vector<std::tuple<std::uint64_t, std::int64_t, std::int64_t>> calls;
    op->setDownloadProgressBlock(
        [&](std::uint64_t bytes, std::int64_t total, std::int64_t expected) {
            calls.emplace_back(bytes, total, expected);
        });
    Outcome outcome;
    record(*op, outcome);
    op->start();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    ASSERT_FALSE(calls.empty());
    std::int64_t sum = 0;
    for (const auto& [bytes, total, expected] : calls) {
        sum += static_cast<std::int64_t>(bytes);
        EXPECT_EQ(total, sum);
        EXPECT_EQ(expected, -1);
    }
    EXPECT_EQ(sum, 300000);
}

TEST_F(HCRequestOperationTest, CancelBeforeStartReachesNoServerAndFailsCancelled) {
    auto op = operation("/echo");
    Outcome outcome;
    record(*op, outcome);
    op->cancel();
    EXPECT_TRUE(op->isReady());
    queue_.addOperation(op);
    ASSERT_TRUE(wait([&] {
        return outcome.done && notes(HCNetworkingOperationDidFinishNotification, op.get()) == 1;
    }));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code, -999);
    EXPECT_EQ(outcome.error->failingURL, server_.url("/echo"));
    EXPECT_EQ(notes(HCNetworkingOperationDidStartNotification, op.get()), 0U);
    EXPECT_TRUE(server_.received().empty());
}

TEST_F(HCRequestOperationTest, CancelMidBodyFailsCancelledAndNeverCallsSuccess) {
    auto op = operation("/slow?size=20000");
    Outcome outcome;
    record(*op, outcome);
    op->start();
    ASSERT_TRUE(wait([&] { return op->totalBytesRead() > 0; }));
    op->cancel();
    op->cancel();  // twice changes nothing
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, -999);
    EXPECT_TRUE(op->isFinished());
}

// Callers often hold an operation by a base pointer: a queue (cancelAllOperations) and code
// written for any request operation (pause) still reach the operation's own behaviour.
TEST_F(HCRequestOperationTest, PauseAndCancelThroughBasePointers) {
    auto paused = operation("/bytes?size=10");
    const std::shared_ptr<HCURLConnectionOperation> connection = paused;
    connection->pause();
    EXPECT_TRUE(paused->isPaused());
    EXPECT_EQ(paused->request().headers.get("Range"), "bytes=0-");

    auto running = operation("/slow?size=20000");
    Outcome outcome;
    record(*running, outcome);
    queue_.addOperation(running);
    ASSERT_TRUE(wait([&] { return running->totalBytesRead() > 0; }));
    queue_.cancelAllOperations();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, -999);
}

TEST_F(HCRequestOperationTest, FileStreamGetsTheBodyAndStaysAttachedClosed) {
    auto op = operation("/bytes?size=200000");
    const auto path = temp_.path() / "body.bin";
    auto file = std::make_shared<FileOutputStream>(path, false);
    op->setOutputStream(file);
    Outcome outcome;
    record(*op, outcome);
    op->start();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_FALSE(op->responseData());
    EXPECT_EQ(op->outputStream(), file);
    EXPECT_EQ(file->status(), OutputStream::Status::closed);
    EXPECT_EQ(fileText(path), patternText(0, 200000));
}

TEST_F(HCRequestOperationTest, NotFoundFailsWithBadServerResponse) {
    auto op = operation("/status/404");
    Outcome outcome;
    record(*op, outcome);
    op->start();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, -1011);
    EXPECT_EQ(op->error()->code, -1011);  // the serializer's refusal stays the operation's error
}

TEST_F(HCRequestOperationTest, JsonSerializerGivesTheParsedObject) {
    auto op = operation("/echo?x=1");
    op->setResponseSerializer(HCJSONResponseSerializer::serializer());
    Outcome outcome;
    record(*op, outcome);
    op->start();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    ASSERT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.object["target"].stringValue(), "/echo?x=1");
    // A new serializer after completion serializes again.
    op->setResponseSerializer(HCHTTPResponseSerializer::serializer());
    EXPECT_TRUE(op->responseObject().isBytes());
}

TEST_F(HCRequestOperationTest, ResponseStringFollowsTheCharsetAndFallsBackToUtf8) {
    struct Case {
        std::string path;
        std::string encoding;
        std::string text;
    };
    const Case cases[] = {
        {"/status/200?type=text/plain%3B%20charset%3DISO-8859-1&body=caf%E9", "iso-8859-1",
         "caf\xC3\xA9"},
        {"/status/200?type=text/plain&body=caf%C3%A9", "utf-8", "caf\xC3\xA9"},
        {"/status/200?type=text/plain%3B%20charset%3Dklingon&body=abc", "utf-8", "abc"},
    };
    for (const Case& each : cases) {
        auto op = operation(each.path);
        Outcome outcome;
        record(*op, outcome);
        op->start();
        ASSERT_TRUE(wait([&] { return outcome.done; })) << each.path;
        EXPECT_EQ(op->responseStringEncoding(), each.encoding) << each.path;
        EXPECT_EQ(op->responseString(), each.text) << each.path;
    }
}

TEST_F(HCRequestOperationTest, PausedDownloadResumesWithRangeAndIfRangeIntoTheSameFile) {
    constexpr std::size_t kSize = 1 << 20;
    constexpr std::size_t kHold = 65536;
    auto op = operation("/held?size=" + std::to_string(kSize) + "&hold=" + std::to_string(kHold));
    const auto path = temp_.path() / "download.bin";
    op->setOutputStream(std::make_shared<FileOutputStream>(path, false));
    Outcome outcome;
    record(*op, outcome);
    queue_.addOperation(op);
    ASSERT_TRUE(wait([&] { return op->totalBytesRead() == static_cast<std::int64_t>(kHold); }));
    op->pause();
    EXPECT_TRUE(op->isPaused());
    EXPECT_EQ(op->request().headers.get("Range"), "bytes=65536-");
    EXPECT_EQ(op->request().headers.get("If-Range"), "\"held-" + std::to_string(kSize) + "\"");
    ASSERT_TRUE(
        wait([&] { return notes(HCNetworkingOperationDidFinishNotification, op.get()) == 1; }));
    EXPECT_FALSE(outcome.done);
    EXPECT_EQ(queue_.operationCount(), 1U);  // a paused operation keeps its slot

    op->resume();
    ASSERT_TRUE(wait([&] { return outcome.done && queue_.operationCount() == 0; }));
    EXPECT_TRUE(outcome.succeeded) << (outcome.error ? outcome.error->localizedDescription : "");
    const auto seen = server_.received();
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[0].header("range"), "");
    EXPECT_EQ(seen[1].header("range"), "bytes=65536-");
    EXPECT_EQ(seen[1].header("if-range"), "\"held-" + std::to_string(kSize) + "\"");
    EXPECT_EQ(op->response()->statusCode, 206);
    EXPECT_EQ(fileText(path), patternText(0, kSize));
}

TEST_F(HCRequestOperationTest, AResumeThatTheServerAnswersWithTheWholeBodyFailsInsteadOfAppending) {
    const auto path = temp_.path() / "download.bin";
    std::ofstream(path) << "first part";
    auto op = operation("/whole?size=100");
    platform::net::URLRequest resumed = op->request();
    resumed.headers.set("Range", "bytes=10-");
    op->setRequest(std::move(resumed));
    op->setOutputStream(std::make_shared<FileOutputStream>(path, true));
    Outcome outcome;
    record(*op, outcome);
    op->start();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_FALSE(outcome.succeeded);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code, platform::net::urlerror::badServerResponse);
    EXPECT_EQ(fileText(path), "first part");
}

TEST_F(HCRequestOperationTest, PauseOfReadyAndFinishedOperations) {
    auto ready = operation("/echo");
    ready->pause();
    EXPECT_TRUE(ready->isPaused());
    EXPECT_EQ(ready->request().headers.get("Range"), "bytes=0-");
    ready->resume();  // paused -> ready -> executing
    auto finished = operation("/bytes?size=10");
    Outcome outcome;
    record(*finished, outcome);
    finished->start();
    ASSERT_TRUE(wait([&] { return outcome.done && ready->isFinished(); }));
    finished->pause();
    EXPECT_TRUE(finished->isFinished());
    EXPECT_EQ(finished->request().headers.get("Range"), "bytes=0-");
    EXPECT_EQ(finished->request().headers.get("If-Range"), "\"bytes-10\"");
}

TEST_F(HCRequestOperationTest, AFailingStreamWriteFailsTheOperationWithTheStreamError) {
    auto op = operation("/bytes?size=300000");
    auto stream = std::make_shared<ScriptedStream>(1000);
    op->setOutputStream(stream);
    Outcome outcome;
    record(*op, outcome);
    op->start();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_FALSE(outcome.succeeded);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, "test.stream");
    EXPECT_EQ(outcome.error->code, 28);
    EXPECT_EQ(stream->taken_.size(), 1000U);
}

TEST_F(HCRequestOperationTest, WaitingForSpaceIsBounded) {
    struct Case {
        int busyPolls;
        int waitMilliseconds;
        bool succeeds;
    };
    for (const Case each : {Case{-1, 0, false}, Case{-1, 50, false}, Case{3, 10'000, true}}) {
        auto op = operation("/bytes?size=100");
        auto stream = std::make_shared<ScriptedStream>(1000, each.busyPolls);
        op->setOutputStream(stream);
        op->setOutputSpaceWait(std::chrono::milliseconds(each.waitMilliseconds));
        Outcome outcome;
        record(*op, outcome);
        op->start();
        ASSERT_TRUE(stepUntil([&] { return outcome.done; },
                              HCURLConnectionOperation::kOutputSpacePollSeconds));
        EXPECT_EQ(outcome.succeeded, each.succeeds);
        if (!each.succeeds) {
            EXPECT_EQ(outcome.error->code, platform::net::urlerror::cannotWriteToFile);
        } else {
            EXPECT_EQ(stream->taken_.size(), 100U);
        }
    }
    // The network thread is free again: another transfer still completes.
    auto after = operation("/bytes?size=10");
    Outcome outcome;
    record(*after, outcome);
    after->start();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_TRUE(outcome.succeeded);
}

TEST_F(HCRequestOperationTest, AnAnswerAnnouncingMoreThanTheMaximumFailsBeforeAnyByteIsWritten) {
    struct Case {
        std::optional<std::uint64_t> maximum;
        bool succeeds;
    };
    for (const Case each : {Case{99, false}, Case{100, true}, Case{std::nullopt, true}}) {
        auto op = operation("/bytes?size=100");
        auto stream = std::make_shared<ScriptedStream>(1000);
        op->setOutputStream(stream);
        op->setMaximumContentLength(each.maximum);
        Outcome outcome;
        record(*op, outcome);
        op->start();
        ASSERT_TRUE(wait([&] { return outcome.done; }));
        EXPECT_EQ(outcome.succeeded, each.succeeds);
        if (each.succeeds) {
            EXPECT_EQ(stream->taken_.size(), 100U);
        } else {
            EXPECT_EQ(outcome.error->code, platform::net::urlerror::dataLengthExceedsMaximum);
            EXPECT_TRUE(stream->taken_.empty());
        }
    }
}

TEST_F(HCRequestOperationTest, AStreamWithoutSpacePausesOnlyItsOwnTransfer) {
    constexpr std::size_t kSize = 300000;
    auto stalled = operation("/bytes?size=" + std::to_string(kSize));
    auto stream = std::make_shared<ScriptedStream>(kSize, -1);
    stalled->setOutputStream(stream);
    Outcome stalledOutcome;
    record(*stalled, stalledOutcome);
    stalled->start();
    ASSERT_TRUE(stepUntil([&] { return stream->polls() > 0; }, 0));

    EXPECT_TRUE(downloadBesideAStall().succeeded);
    EXPECT_FALSE(stalledOutcome.done)
        << (stalledOutcome.error ? stalledOutcome.error->localizedDescription : "");

    // Space appears: the held bytes go first, then the rest of the body.
    stream->giveSpace();
    ASSERT_TRUE(stepUntil([&] { return stalledOutcome.done; },
                          HCURLConnectionOperation::kOutputSpacePollSeconds));
    EXPECT_TRUE(stalledOutcome.succeeded);
    ASSERT_EQ(stream->taken_.size(), kSize);
    EXPECT_TRUE(std::string(stream->taken_.begin(), stream->taken_.end()) == patternText(0, kSize));
}

TEST_F(HCRequestOperationTest, AnOperationHeldByNoOneStillWritesItsHeldBytesAndCompletes) {
    // A plain completion block, which does not hold the operation as the success and failure
    // blocks do.
    auto op = HCURLConnectionOperation::make(request(server_.url("/bytes?size=100")), &loader_);
    auto stream = std::make_shared<ScriptedStream>(1000, -1);
    op->setOutputStream(stream);
    bool done = false;
    op->setCompletionBlock([&done] { done = true; });
    op->start();
    const std::weak_ptr<HCURLConnectionOperation> weak = op;
    op.reset();
    // The whole body is held and the engine has let go of its client.
    ASSERT_TRUE(stepUntil(
        [&] {
            return stream->polls() > 0 && loader_.activeTransfers() == 0 && weak.use_count() <= 1;
        },
        0));
    stream->giveSpace();
    ASSERT_TRUE(
        stepUntil([&] { return done; }, HCURLConnectionOperation::kOutputSpacePollSeconds, 200));
    EXPECT_EQ(std::string(stream->taken_.begin(), stream->taken_.end()), patternText(0, 100));
    // Once done it is freed, and its poll with it.
    ASSERT_TRUE(stepUntil([&] { return weak.expired(); }, 0));
    EXPECT_EQ(loop_.nextDeadline(), std::numeric_limits<double>::infinity());
}

TEST_F(HCRequestOperationTest, BatchReportsProgressAndCompletesAfterEverySuccess) {
    std::vector<std::shared_ptr<HCURLConnectionOperation>> ops;
    std::vector<std::unique_ptr<Outcome>> outcomes;
    for (int i = 0; i < 3; ++i) {
        auto op = operation("/bytes?size=" + std::to_string(100 + i));
        outcomes.push_back(std::make_unique<Outcome>());
        record(*op, *outcomes.back());
        ops.push_back(op);
    }
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    std::size_t completions = 0;
    bool allSucceededFirst = false;
    auto batch = HCURLConnectionOperation::batchOfRequestOperations(
        ops, [&](std::size_t done, std::size_t total) { progress.emplace_back(done, total); },
        [&](const auto& finished) {
            ++completions;
            EXPECT_EQ(finished.size(), 3U);
            allSucceededFirst = std::all_of(outcomes.begin(), outcomes.end(),
                                            [](const auto& each) { return each->succeeded; });
        });
    ASSERT_EQ(batch.size(), 4U);
    for (const auto& each : batch) {
        queue_.addOperation(each);
    }
    ASSERT_TRUE(wait([&] { return completions == 1; }));
    EXPECT_TRUE(allSucceededFirst);
    ASSERT_EQ(progress.size(), 3U);
    EXPECT_EQ(progress.back(), std::make_pair(std::size_t{3}, std::size_t{3}));

    bool emptyDone = false;
    auto empty = HCURLConnectionOperation::batchOfRequestOperations(
        {}, nullptr, [&](const auto& finished) { emptyDone = finished.empty(); });
    ASSERT_EQ(empty.size(), 1U);
    queue_.addOperation(empty.front());
    EXPECT_TRUE(wait([&] { return emptyDone; }));
}

TEST_F(HCRequestOperationTest, QueueCancellingEveryOperationStillEndsThem) {
    platform::OperationQueue held;
    held.setSuspended(true);
    auto op = operation("/echo");
    Outcome outcome;
    record(*op, outcome);
    held.addOperation(op);
    held.cancelAllOperations();
    held.setSuspended(false);
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_EQ(outcome.error->code, -999);
    EXPECT_TRUE(server_.received().empty());
}

}  // namespace
