// The URL-loading engine against the loopback server: a large download through a data task
// beside the curl program fetching the same URL, and small kept-alive GETs beside libcurl's
// easy interface reusing one handle.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdlib>
#include <string>

#include "Ratios.h"
#include "http/HCURLSessionManager.h"
#include "platform/foundation/RunLoop.h"
#include "support/LoopbackServer.h"

namespace {

constexpr std::size_t kLargeBody = std::size_t{100} << 20;
constexpr int kSmallGets = 200;

testing_support::LoopbackServer& server() {
    static testing_support::LoopbackServer made;
    return made;
}

// One GET through a manager's data task, its completion heard on the main loop.
bool fetch(HCURLSessionManager& manager, platform::RunLoop& loop, const std::string& url,
           std::size_t expected) {
    bool done = false;
    bool ok = false;
    platform::net::URLRequest request;
    request.url = url;
    auto task = manager.dataTask(
        request, [&](const std::optional<platform::net::URLResponse>&, const platform::Value& body,
                     const std::optional<HCError>& error) {
            ok = !error && body.size() == expected;
            done = true;
        });
    if (!task) {
        return false;
    }
    (*task)->resume();
    loop.runUntil([&] { return done; });
    return ok;
}

void BM_DownloadDataTask(benchmark::State& state) {
    platform::RunLoop loop(platform::RunLoop::Clock::real);
    platform::ScopedMainRunLoop installed(loop);
    HCURLSessionManager manager;
    manager.setResponseSerializer(HCHTTPResponseSerializer::serializer());
    const std::string url = server().url("/bytes?size=" + std::to_string(kLargeBody));
    for (auto _ : state) {
        if (!fetch(manager, loop, url, kLargeBody)) {
            state.SkipWithError("download failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLargeBody));
}
BENCHMARK(BM_DownloadDataTask)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_DownloadCurlCommandLine(benchmark::State& state) {
    const std::string command = "curl --silent --fail --output /dev/null '" +
                                server().url("/bytes?size=" + std::to_string(kLargeBody)) + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLargeBody));
}
BENCHMARK(BM_DownloadCurlCommandLine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_SmallGetsDataTask(benchmark::State& state) {
    platform::RunLoop loop(platform::RunLoop::Clock::real);
    platform::ScopedMainRunLoop installed(loop);
    HCURLSessionManager manager;
    manager.setResponseSerializer(HCHTTPResponseSerializer::serializer());
    const std::string url = server().url("/bytes?size=64");
    for (auto _ : state) {
        for (int i = 0; i < kSmallGets; ++i) {
            if (!fetch(manager, loop, url, 64)) {
                state.SkipWithError("GET failed");
                return;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * kSmallGets);
}
BENCHMARK(BM_SmallGetsDataTask)->Unit(benchmark::kMillisecond)->UseRealTime();

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

void BM_SmallGetsCurlEasy(benchmark::State& state) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* easy = curl_easy_init();
    const std::string url = server().url("/bytes?size=64");
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
    for (auto _ : state) {
        for (int i = 0; i < kSmallGets; ++i) {
            if (curl_easy_perform(easy) != CURLE_OK) {
                state.SkipWithError("GET failed");
                curl_easy_cleanup(easy);
                return;
            }
        }
    }
    curl_easy_cleanup(easy);
    state.SetItemsProcessed(state.iterations() * kSmallGets);
}
BENCHMARK(BM_SmallGetsCurlEasy)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {.benchmark = "BM_DownloadDataTask/iterations:5/real_time",
         .reference = "BM_DownloadCurlCommandLine/iterations:5/real_time",
         .wallClock = true,
         .goal = 1.3},
        {.benchmark = "BM_SmallGetsDataTask/real_time",
         .reference = "BM_SmallGetsCurlEasy/real_time",
         .wallClock = true,
         .goal = 1.3},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
