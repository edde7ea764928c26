#include <benchmark/benchmark.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

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

// One object of n keys as a sender may pack it: short distinct keys, small integers.
std::string objectOfKeys(std::int64_t keys) {
    std::string text = "{";
    for (std::int64_t i = 0; i < keys; ++i) {
        text += (i == 0 ? "\"key" : ",\"key") + std::to_string(i) + "\":" + std::to_string(i % 100);
    }
    return text + "}";
}

// Our reader beside nlohmann's own parse of the same text into its document type, whose
// objects are trees: a ratio ours/nlohmann that stays flat from 10 to 100 000 keys shows that
// reading an object costs no more than n log n. Each side's time includes freeing its result.
void BM_ReadObjectOfKeys(benchmark::State& state) {
    const std::string text = objectOfKeys(state.range(0));
    using Clock = std::chrono::steady_clock;
    Clock::duration ours{};
    Clock::duration reference{};
    for (auto _ : state) {
        const auto start = Clock::now();
        {
            auto parsed = platform::json::parse(text);
            benchmark::DoNotOptimize(parsed);
        }
        const auto middle = Clock::now();
        {
            auto parsed = nlohmann::json::parse(text);
            benchmark::DoNotOptimize(parsed);
        }
        const auto end = Clock::now();
        ours += middle - start;
        reference += end - middle;
    }
    const auto microseconds = [&state](Clock::duration total) {
        return std::chrono::duration<double, std::micro>(total).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["ours_us"] = microseconds(ours);
    state.counters["nlohmann_us"] = microseconds(reference);
    state.counters["ours/nlohmann"] = microseconds(ours) / microseconds(reference);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadObjectOfKeys)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

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
        {"BM_ReadObjectOfKeys", "", "ours/nlohmann"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
