#include "Ratios.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <vector>

namespace bench {

namespace {

struct Measured {
    double cpuPerIteration = 0;
    double realPerIteration = 0;
    std::map<std::string, double> counters;
};

// Shows the runs as the console reporter does and keeps what the ratios need.
// Without colours, so that the lines read the same in a file or through a pipe.
class KeepingReporter final : public benchmark::ConsoleReporter {
public:
    KeepingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) {
                continue;
            }
            Measured& measured = runs_[run.benchmark_name()];
            measured.cpuPerIteration = run.GetAdjustedCPUTime();
            measured.realPerIteration = run.GetAdjustedRealTime();
            for (const auto& [name, counter] : run.counters) {
                measured.counters[name] = counter.value;
            }
        }
    }

    [[nodiscard]] const std::map<std::string, Measured>& runs() const { return runs_; }

private:
    std::map<std::string, Measured> runs_;
};

void printGoal(const Ratio& ratio, double value) {
    if (ratio.goal > 0) {
        std::printf("  goal <= %.2f: %s", ratio.goal, value <= ratio.goal ? "met" : "missed");
    }
    std::printf("\n");
}

void printRatios(const std::map<std::string, Measured>& runs, const Ratio& ratio) {
    for (const auto& [name, measured] : runs) {
        // The benchmark itself, or each of its runs with arguments ("name/arg:1").
        if (name != ratio.benchmark && name.rfind(ratio.benchmark + "/", 0) != 0) {
            continue;
        }
        if (!ratio.reference.empty()) {
            const auto reference = runs.find(ratio.reference);
            const auto time = [&](const Measured& run) {
                return ratio.wallClock ? run.realPerIteration : run.cpuPerIteration;
            };
            if (reference != runs.end() && time(reference->second) > 0) {
                const double value = time(measured) / time(reference->second);
                std::printf("ratio %s / %s%s: %.2f", name.c_str(), ratio.reference.c_str(),
                            ratio.wallClock ? " (wall clock)" : "", value);
                printGoal(ratio, value);
            }
        } else if (const auto counter = measured.counters.find(ratio.counter);
                   counter != measured.counters.end()) {
            std::printf("ratio %s / theory (%s): %.2f", name.c_str(), ratio.counter.c_str(),
                        counter->second);
            printGoal(ratio, counter->second);
        }
    }
}

}  // namespace

int runWithRatios(int argc, char** argv, std::span<const Ratio> ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    KeepingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    for (const Ratio& ratio : ratios) {
        printRatios(reporter.runs(), ratio);
    }
    return 0;
}

}  // namespace bench
