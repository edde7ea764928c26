#include <benchmark/benchmark.h>

#include <string>

#include "Ratios.h"
#include "TypicalMessage.h"
#include "ZlibReference.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Value.h"
#include "utils/DataCompression.h"

namespace {

using platform::Bytes;
using platform::Value;

// The typical message as it travels: pretty-printed JSON, the baseline every link message pays
// for compression.
Bytes typicalMessage() {
    const Value message = bench::typicalMessage();
    const std::string text = *platform::json::write(message, platform::json::Style::Pretty);
    return Bytes(text.begin(), text.end());
}

void BM_LinkDeflate(benchmark::State& state) {
    const Bytes message = typicalMessage();
    std::size_t packedSize = 0;
    for (auto _ : state) {
        auto packed = compression::dataDeflate(message);
        packedSize = packed->size();
        benchmark::DoNotOptimize(packed);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
    state.counters["message"] = static_cast<double>(message.size());
    state.counters["packed"] = static_cast<double>(packedSize);
}
BENCHMARK(BM_LinkDeflate);

void BM_LinkInflate(benchmark::State& state) {
    const Bytes message = typicalMessage();
    const Bytes packed = *compression::dataDeflate(message);
    for (auto _ : state) {
        benchmark::DoNotOptimize(compression::dataInflate(packed));
    }
    // Counted in message bytes so both directions read on one scale.
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_LinkInflate);

// The references: zlib alone on the same message, streams and buffers kept.
void BM_ZlibDeflate(benchmark::State& state) {
    const Bytes message = typicalMessage();
    bench::ZlibReference zlib;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zlib.deflate(message).data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_ZlibDeflate);

void BM_ZlibInflate(benchmark::State& state) {
    const Bytes message = typicalMessage();
    bench::ZlibReference zlib;
    const auto packedView = zlib.deflate(message);
    const Bytes packed(packedView.begin(), packedView.end());
    for (auto _ : state) {
        benchmark::DoNotOptimize(zlib.inflate(packed, message.size()).data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_ZlibInflate);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {"BM_LinkDeflate", "BM_ZlibDeflate"},
        {"BM_LinkInflate", "BM_ZlibInflate"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
