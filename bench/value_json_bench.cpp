#include <benchmark/benchmark.h>

#include "TypicalMessage.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Value.h"

namespace {

using platform::Value;

using bench::typicalMessage;

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
