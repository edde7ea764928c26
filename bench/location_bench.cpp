// Exercise fixes a second: through the location provider (its gates, the monitor, the result
// dictionaries and their batch) beside the exercise monitor alone, both writing the CSV file.

#include <benchmark/benchmark.h>

#include <vector>

#include "Ratios.h"
#include "geofollow/Geofollow.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/AppHost.h"
#include "platform/location/ReplayLocation.h"
#include "services/TQLbsServerProvider.h"
#include "support/TempDir.h"

namespace {

constexpr double kStart = 1'700'000'000;
constexpr int kFixes = 1000;
constexpr double kMetresPerDegree = 6'371'008.8 * 3.14159265358979323846 / 180.0;

platform::LocationFix fixAt(int second) {
    platform::LocationFix fix;
    fix.latitude = 52.5 + 2.8 * second / kMetresPerDegree;
    fix.longitude = 13.4;
    fix.altitude = 30 + second % 11;
    fix.horizontalAccuracy = 5;
    fix.speed = 2.8;
    fix.course = 0;
    fix.timestamp = kStart + second;
    return fix;
}

// A run of kFixes fixes, one a second, each fed as the location services hand it over.
void BM_ProviderAndMonitor(benchmark::State& state) {
    testing_support::TempDir folder;
    platform::RunLoop loop(platform::RunLoop::Clock::virtualTime);
    platform::NotificationCenter center;
    double now = kStart;
    platform::ReplayLocation location(loop, [&] { return now; }, {});
    for (auto _ : state) {
        now = kStart;
        TQLbsServerProvider provider({.location = location,
                                      .center = center,
                                      .host = platform::AppHost::current(),
                                      .now = [&] { return now; },
                                      .documents = folder.path()},
                                     nullptr);
        now += 1;
        provider.processSubCommand(platform::Value{{"msgId", "lbs-exercise-info-req"},
                                                   {"cmd", 1},
                                                   {"exerciseType", 2},
                                                   {"weight", 70.0},
                                                   {"interval", 10}});
        for (int second = 1; second <= kFixes; ++second) {
            now = kStart + second;
            const auto fix = fixAt(second);
            provider.didUpdateLocations(std::span<const platform::LocationFix>(&fix, 1));
        }
        benchmark::DoNotOptimize(provider.pendingResults());
    }
    state.SetItemsProcessed(state.iterations() * kFixes);
}

void BM_MonitorAlone(benchmark::State& state) {
    testing_support::TempDir folder;
    double now = kStart;
    for (auto _ : state) {
        LocationMonitorM monitor({.documents = folder.path(),
                                  .now = [&] { return now; },
                                  .log = [](std::string_view) {}});
        monitor.startMonitoring(LocationMonitorM::TYPE_RUN, 70);
        for (int second = 1; second <= kFixes; ++second) {
            const auto fix = fixAt(second);
            monitor.getData(std::span<const platform::LocationFix>(&fix, 1));
        }
        benchmark::DoNotOptimize(monitor.isStarted());
    }
    state.SetItemsProcessed(state.iterations() * kFixes);
}

BENCHMARK(BM_ProviderAndMonitor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorAlone)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {{"BM_ProviderAndMonitor", "BM_MonitorAlone"}};
    return bench::runWithRatios(argc, argv, ratios);
}
