#include <benchmark/benchmark.h>

#include "platform/foundation/Json.h"
#include "platform/foundation/Value.h"

namespace {

using platform::Value;

// About 1 KB of JSON: the size of a typical settings or application-list message.
Value typicalMessage() {
    Value apps = platform::Array();
    for (int i = 0; i < 6; ++i) {
        apps.mutableArray()->push_back(Value{{"packageName", "com.kavo.watch.app" + std::to_string(i)},
                                             {"version", "1.0." + std::to_string(i)},
                                             {"size", 102400 + i},
                                             {"preloaded", i % 2 == 0}});
    }
    return Value{{"msgId", "mgr_sync_init_setting_req"},
                 {"timezone", "Europe/Berlin"},
                 {"dateformat", "dd/MM/yyyy"},
                 {"date1224", "24"},
                 {"datetime", "1765368000000"},
                 {"autotimesync", 1},
                 {"locale", "en_GB"},
                 {"gmt", 3600000},
                 {"apps", apps}};
}

void BM_BuildMessage(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(typicalMessage());
    }
}
BENCHMARK(BM_BuildMessage);

void BM_EncodePretty(benchmark::State& state) {
    const Value message = typicalMessage();
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto text = platform::json::write(message, platform::json::Style::Pretty);
        bytes = text->size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_EncodePretty);

void BM_Decode(benchmark::State& state) {
    const std::string text =
        *platform::json::write(typicalMessage(), platform::json::Style::Pretty);
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::json::parse(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Decode);

}  // namespace
