#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "../Ratios.h"
#include "../TypicalMessage.h"
#include "../ZlibReference.h"
#include "LinkGoodput.h"
#include "link/TQAP.h"
#include "link/TQFileHandler.h"
#include "link/support/LinkWorld.h"
#include "logging/LGFileLogger.h"
#include "logging/LGLog.h"
#include "logging/LGLogFileFormatterDefault.h"
#include "logging/LGLogFileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Value.h"
#include "platform/oslog/ExtendedAttributes.h"
#include "support/TempDir.h"

namespace {

using link_test::LinkConditions;
using link_test::LinkPeer;
using link_test::LinkWorld;
using platform::Bytes;

constexpr double kWindowPayload = 8 * 148;

Bytes typicalMessage() {
    const std::string text =
        *platform::json::write(bench::typicalMessage(), platform::json::Style::Pretty);
    return Bytes(text.begin(), text.end());
}

using bench::conditionsFor;
using bench::messageGoodput;
using bench::noise;

// Messages over a clean link. Arguments: the air time of one packet and the acknowledgement
// latency (from the end of a window's last packet on air until its acknowledgement is back at
// the sender), both in microseconds. The window protocol can at best move 8 x 148 payload
// bytes per 8 air times plus one such latency.
void BM_LinkGoodput(benchmark::State& state) {
    const LinkConditions conditions = conditionsFor(state);
    double goodput = 0;
    for (auto _ : state) {
        const auto measured = messageGoodput(conditions);
        if (!measured) {
            state.SkipWithError("messages did not arrive");
            return;
        }
        goodput = *measured;
    }
    const double theory =
        kWindowPayload / (8 * conditions.airTime + 2 * conditions.latency + conditions.airTime);
    state.counters["goodput_kBps"] = goodput / 1000;
    state.counters["theory_kBps"] = theory / 1000;
    state.counters["efficiency"] = goodput / theory;
}
BENCHMARK(BM_LinkGoodput)
    ->ArgNames({"air_us", "ack_us"})
    ->Args({1000, 10000})
    ->Args({1000, 50000})
    ->Args({7500, 30000})
    ->Args({7500, 100000})
    ->Args({7500, 500000})
    ->Unit(benchmark::kMillisecond);

// Carries one side's file handler over its LinkPeer: segments down as priority-3 messages,
// received ones up; the receiving side accepts every file it is offered.
class FileSide final : public TQFileDelegate, public TQFileTransferDelegate {
public:
    FileSide(LinkPeer& peer, platform::RunLoop& loop, const std::filesystem::path& folder)
        : peer_(peer), handler_(*this, *this, loop, folder) {
        peer_.setReceiver([this](std::span<const std::uint8_t> message) {
            handler_.processFileSegment(message.subspan(1), message[0] & 0x3FU);
        });
    }
    ~FileSide() override { peer_.setReceiver(nullptr); }

    TQFileHandler& handler() { return handler_; }
    // Files that arrived; the phone's own segments carry a CRC the receiver keeps, so the
    // bytes are not counted.
    [[nodiscard]] int received() const { return received_; }

    void onSendDataRequest(std::span<const std::uint8_t> segment, std::uint32_t priority,
                           std::uint32_t appId, bool arq, TQSendCompletion) override {
        peer_.send(TQAP::addPriority(priority, appId, segment), arq);
    }
    void onFileReceiveCompleted(std::span<const std::uint8_t>, std::uint32_t) override {
        ++received_;
    }
    void onFileInfoReceive(const std::string&, std::uint64_t) override { handler_.acceptFile(); }
    void onFileResumeRequestReceive(const std::string&, std::uint64_t) override {}
    void onFileReceiveProgress(float) override {}
    void onFileCancel(const std::string&) override {}

private:
    LinkPeer& peer_;
    TQFileHandler handler_;
    int received_ = 0;
};

// A file of incompressible bytes through the file handlers on the same link as
// BM_LinkGoodput, beside the messages' goodput there: with one segment outstanding, every
// 5120 bytes wait a round trip for FILE_ACK before the next segment goes.
void BM_FileGoodput(benchmark::State& state) {
    const LinkConditions conditions = conditionsFor(state);
    const auto messages = messageGoodput(conditions);
    if (!messages) {
        state.SkipWithError("messages did not arrive");
        return;
    }
    const Bytes file = noise(1 << 20);
    double goodput = 0;
    for (auto _ : state) {
        testing_support::TempDir folder;
        LinkWorld world(1, conditions);
        FileSide phone(world.phone(), world.loop(), folder.path() / "phone");
        FileSide watch(world.peer(), world.loop(), folder.path() / "watch");
        const double start = world.loop().now();
        phone.handler().processFileData(file, "bench.bin", 1, {});
        if (!world.runUntil([&] { return watch.received() == 1; }, 360000, 0.5)) {
            state.SkipWithError("the file did not arrive");
            return;
        }
        goodput = static_cast<double>(file.size()) / (world.loop().now() - start);
    }
    state.counters["goodput_kBps"] = goodput / 1000;
    state.counters["messages_kBps"] = *messages / 1000;
    state.counters["of_message_goodput"] = goodput / *messages;
}
BENCHMARK(BM_FileGoodput)
    ->ArgNames({"air_us", "ack_us"})
    ->Args({1000, 10000})
    ->Args({7500, 30000})
    ->Args({7500, 100000})
    ->Unit(benchmark::kMillisecond);

// Processor time of one message from the phone's hand-down to the peer's delivery, on a link
// with no air time: deflate, packetise, CRC, windows and acknowledgements, reassembly,
// inflate.
void linkEndToEnd(benchmark::State& state, const Bytes& message) {
    LinkWorld world(1, LinkConditions{});
    for (auto _ : state) {
        world.phone().send(message);
        world.loop().runUntilIdle();
        if (world.peer().received().size() != 1) {
            state.SkipWithError("the message did not arrive");
            return;
        }
        world.phone().forget();
        world.peer().forget();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
    state.counters["s_per_KB"] = benchmark::Counter(
        static_cast<double>(message.size()) / 1024,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The same bytes through zlib's deflate and inflate alone, streams and buffers kept: the
// floor the link adds to.
void rawCoding(benchmark::State& state, const Bytes& message) {
    bench::ZlibReference zlib;
    for (auto _ : state) {
        const auto packed = zlib.deflate(message);
        benchmark::DoNotOptimize(zlib.inflate(packed, message.size()).data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
    state.counters["s_per_KB"] = benchmark::Counter(
        static_cast<double>(message.size()) / 1024,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LinkEndToEndTypical(benchmark::State& state) {
    linkEndToEnd(state, typicalMessage());
}
void BM_RawZlibTypical(benchmark::State& state) {
    rawCoding(state, typicalMessage());
}
void BM_LinkEndToEndNoise64K(benchmark::State& state) {
    linkEndToEnd(state, noise(64 << 10));
}
void BM_RawZlibNoise64K(benchmark::State& state) {
    rawCoding(state, noise(64 << 10));
}
// With a logger that keeps errors, warnings and information, as a running program has: the
// protocol's verbose lines must cost next to nothing then.
void BM_LinkEndToEndTypicalInfoLogger(benchmark::State& state) {
    const auto logger = std::make_shared<LGAbstractLogger>("bench.discard");
    LGLog::addLogger(logger, LGLogFlagError | LGLogFlagWarning | LGLogFlagInfo);
    linkEndToEnd(state, typicalMessage());
    LGLog::removeLogger(logger);
    LGLog::flushLog();
}
// The launch's file logger admitting the given flags, around a run of linkEndToEnd. Counted by
// the processor time of the whole process, since the logger writes on its queues' threads.
void linkEndToEndWithFileLogger(benchmark::State& state, std::uint64_t level) {
    testing_support::TempDir folder;
    platform::HostExtendedAttributes attributes;
    auto manager = std::make_shared<LGLogFileManagerDefault>(folder.path(), "bench", attributes);
    manager->setMaximumNumberOfLogFiles(7);
    auto logger = std::make_shared<LGFileLogger>(std::move(manager));
    logger->setMaximumFileSize(5242880);
    logger->setRollingFrequency(86400);
    LGLog::addLogger(logger, level);
    linkEndToEnd(state, typicalMessage());
    LGLog::removeLogger(logger);
    LGLog::flushLog();
}
// Verbose link logging on, as a developer turns it on, against the same logger kept to errors,
// warnings and information.
void BM_LinkEndToEndTypicalVerboseFile(benchmark::State& state) {
    linkEndToEndWithFileLogger(state, LGLogLevelAll);
}
void BM_LinkEndToEndTypicalInfoFile(benchmark::State& state) {
    linkEndToEndWithFileLogger(state, LGLogFlagError | LGLogFlagWarning | LGLogFlagInfo);
}
// The verbose lines of one typical message as the file logger writes them.
class LineCollector final : public LGAbstractLogger {
public:
    LineCollector() : LGAbstractLogger("bench.lines") {}
    void logMessage(const LGLogMessage& message) override {
        std::string line;
        if (formatter_.appendFormatted(message, line) != LGFormatted::dropped) {
            lines.push_back(line + "\n");
        }
    }
    std::vector<std::string> lines;

private:
    LGLogFileFormatterDefault formatter_;
};

std::vector<std::string> verboseLinesOfOneMessage() {
    const auto collector = std::make_shared<LineCollector>();
    LGLog::addLogger(collector, LGLogFlagVerbose);
    {
        LinkWorld world(1, LinkConditions{});
        world.phone().send(typicalMessage());
        world.loop().runUntilIdle();
    }
    LGLog::removeLogger(collector);
    LGLog::flushLog();
    return collector->lines;
}

// What verbose logging costs at the least: the link with the file logger kept to errors,
// warnings and information, plus plain buffered writes of the verbose lines one message makes,
// formatted once beforehand. Beside BM_LinkEndToEndTypicalInfoFile it is the floor of the
// verbose ratio: no logger writes the same bytes for less.
void BM_LinkEndToEndTypicalInfoFilePlainVerboseWrites(benchmark::State& state) {
    const std::vector<std::string> lines = verboseLinesOfOneMessage();
    testing_support::TempDir folder;
    FILE* file = std::fopen((folder.path() / "plain.log").c_str(), "a");
    platform::HostExtendedAttributes attributes;
    auto manager = std::make_shared<LGLogFileManagerDefault>(folder.path(), "bench", attributes);
    auto logger = std::make_shared<LGFileLogger>(std::move(manager));
    LGLog::addLogger(logger, LGLogFlagError | LGLogFlagWarning | LGLogFlagInfo);
    LinkWorld world(1, LinkConditions{});
    const Bytes message = typicalMessage();
    for (auto _ : state) {
        world.phone().send(message);
        world.loop().runUntilIdle();
        for (const std::string& line : lines) {
            std::fwrite(line.data(), 1, line.size(), file);
        }
        world.phone().forget();
        world.peer().forget();
    }
    std::fclose(file);
    LGLog::removeLogger(logger);
    LGLog::flushLog();
    state.counters["lines"] = static_cast<double>(lines.size());
}
BENCHMARK(BM_LinkEndToEndTypical);
BENCHMARK(BM_LinkEndToEndTypicalInfoLogger);
BENCHMARK(BM_LinkEndToEndTypicalVerboseFile)->MeasureProcessCPUTime();
BENCHMARK(BM_LinkEndToEndTypicalInfoFile)->MeasureProcessCPUTime();
BENCHMARK(BM_LinkEndToEndTypicalInfoFilePlainVerboseWrites)->MeasureProcessCPUTime();
BENCHMARK(BM_RawZlibTypical);
BENCHMARK(BM_LinkEndToEndNoise64K);
BENCHMARK(BM_RawZlibNoise64K);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {"BM_LinkGoodput", "", "efficiency"},
        {"BM_FileGoodput", "", "of_message_goodput"},
        {"BM_LinkEndToEndTypical", "BM_RawZlibTypical"},
        {"BM_LinkEndToEndTypicalInfoLogger", "BM_RawZlibTypical"},
        {"BM_LinkEndToEndNoise64K", "BM_RawZlibNoise64K"},
        {.benchmark = "BM_LinkEndToEndTypicalVerboseFile/process_time",
         .reference = "BM_LinkEndToEndTypicalInfoFile/process_time",
         .goal = 1.1},
        {.benchmark = "BM_LinkEndToEndTypicalInfoFilePlainVerboseWrites/process_time",
         .reference = "BM_LinkEndToEndTypicalInfoFile/process_time"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
