// Lines through the logging hub into the file logger, against plain buffered writes of the same
// formatted lines to one file. Both count the processor time of the whole process, since the
// hub's work runs on its queues' threads.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Ratios.h"
#include "logging/LGFileLogger.h"
#include "logging/LGLog.h"
#include "logging/LGLogFileFormatterDefault.h"
#include "logging/LGLogFileManager.h"
#include "platform/oslog/ExtendedAttributes.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLinesPerIteration = 1000;
const std::string kText = "PROTOCOL: sent packet 17 of window 2, 148 bytes, crc 0x3fa1";

fs::path freshFolder(const char* name) {
    const fs::path folder =
        fs::temp_directory_path() / ("kavo-logging-bench-" + std::to_string(::getpid())) / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void BM_HubIntoFileLogger(benchmark::State& state) {
    const fs::path folder = freshFolder("hub");
    platform::HostExtendedAttributes attributes;
    {
        auto manager = std::make_shared<LGLogFileManagerDefault>(folder, "bench", attributes);
        manager->setMaximumNumberOfLogFiles(7);
        auto logger = std::make_shared<LGFileLogger>(std::move(manager));
        logger->setMaximumFileSize(5242880);
        logger->setRollingFrequency(86400);
        LGLog::addLogger(logger);
        for (auto _ : state) {
            for (int i = 0; i < kLinesPerIteration; ++i) {
                LG_INFO("%@", kText);
            }
            LGLog::flushLog();
        }
        LGLog::removeLogger(logger);
        LGLog::flushLog();
    }
    state.SetItemsProcessed(state.iterations() * kLinesPerIteration);
    fs::remove_all(folder);
}
BENCHMARK(BM_HubIntoFileLogger)->UseRealTime()->MeasureProcessCPUTime();

void BM_PlainBufferedWrites(benchmark::State& state) {
    const fs::path folder = freshFolder("plain");
    LGLogFileFormatterDefault formatter;
    const LGLogMessage message(kText, LGLogLevelSystem, LGLogFlagInfo, 0, __FILE__, __func__,
                               __LINE__);
    const std::string line = *formatter.formatLogMessage(message) + "\n";
    FILE* file = std::fopen((folder / "plain.log").c_str(), "a");
    for (auto _ : state) {
        for (int i = 0; i < kLinesPerIteration; ++i) {
            std::fwrite(line.data(), 1, line.size(), file);
        }
        std::fflush(file);
    }
    std::fclose(file);
    state.SetItemsProcessed(state.iterations() * kLinesPerIteration);
    fs::remove_all(folder);
}
BENCHMARK(BM_PlainBufferedWrites)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {.benchmark = "BM_HubIntoFileLogger/process_time/real_time",
         .reference = "BM_PlainBufferedWrites/process_time/real_time",
         .goal = 3},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
