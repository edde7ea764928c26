// Upload throughput of a multipart body with one 100 MiB file part, streamed from disk by a
// request operation to the loopback server, beside the curl program uploading the same file
// as a form part to the same endpoint.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Ratios.h"
#include "http/HCHTTPRequestOperationManager.h"
#include "platform/foundation/RunLoop.h"
#include "support/LoopbackServer.h"

namespace {

constexpr std::size_t kFileSize = std::size_t{100} << 20;

testing_support::LoopbackServer& server() {
    static testing_support::LoopbackServer made;
    return made;
}

// The file to upload, made once per run and removed at exit.
const std::filesystem::path& uploadFile() {
    static const std::filesystem::path path = [] {
        const auto made = std::filesystem::temp_directory_path() /
                          ("kavo-multipart-bench-" + std::to_string(::getpid()) + ".bin");
        std::ofstream out(made, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i % 251);
        }
        for (std::size_t written = 0; written < kFileSize; written += block.size()) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        std::atexit([] { std::filesystem::remove(uploadFile()); });
        return made;
    }();
    return path;
}

void BM_MultipartUploadOperation(benchmark::State& state) {
    platform::RunLoop loop(platform::RunLoop::Clock::real);
    platform::ScopedMainRunLoop installed(loop);
    HCHTTPRequestOperationManager manager;
    manager.responseSerializer = HCHTTPResponseSerializer::serializer();
    const std::string url = server().url("/echo");
    const std::string file = "file://" + uploadFile().string();
    for (auto _ : state) {
        bool done = false;
        bool ok = false;
        manager.POST(
            url, platform::Value(),
            [&](HCMultipartFormData& form) {
                ok = form.appendPartWithFileURL(file, "file", nullptr);
            },
            [&](const auto&, const HCResponseObject&) { done = true; },
            [&](const auto&, const HCError&) {
                ok = false;
                done = true;
            });
        loop.runUntil([&] { return done; });
        if (!ok) {
            state.SkipWithError("upload failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_MultipartUploadOperation)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_MultipartUploadCurlCommandLine(benchmark::State& state) {
    // No 100-continue round trip, as the engine sends none.
    const std::string command = "curl --silent --fail --output /dev/null -H 'Expect:' -F 'file=@" +
                                uploadFile().string() + "' '" + server().url("/echo") + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_MultipartUploadCurlCommandLine)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {.benchmark = "BM_MultipartUploadOperation/iterations:5/real_time",
         .reference = "BM_MultipartUploadCurlCommandLine/iterations:5/real_time",
         .wallClock = true},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
