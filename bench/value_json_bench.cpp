#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include "Ratios.h"
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

// The references: the parser library our reader stands on, into its own document and out of it
// again, on the same text.
void BM_LibraryEncodePretty(benchmark::State& state) {
    const auto document = nlohmann::json::parse(
        *platform::json::write(typicalMessage(), platform::json::Style::Pretty));
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto text = document.dump(2);
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_LibraryEncodePretty);

void BM_LibraryDecode(benchmark::State& state) {
    const std::string text =
        *platform::json::write(typicalMessage(), platform::json::Style::Pretty);
    for (auto _ : state) {
        benchmark::DoNotOptimize(nlohmann::json::parse(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LibraryDecode);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {"BM_EncodePretty", "BM_LibraryEncodePretty"},
        {"BM_Decode", "BM_LibraryDecode"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
