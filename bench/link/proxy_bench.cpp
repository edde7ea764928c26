#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "../Ratios.h"
#include "LinkGoodput.h"
#include "link/TQAP.h"
#include "link/support/LinkWorld.h"
#include "listener/TQWebProxyFrame.h"
#include "listener/TQWebProxyTransactions.h"
#include "platform/net/PollProxySockets.h"
#include "support/ClosingHttpServer.h"
#include "support/LoopWait.h"

namespace {

using platform::Bytes;

constexpr std::size_t kDownload = 20u << 20;
constexpr std::uint32_t kProxyAppId = 6;
constexpr std::uint32_t kPriority = 1;

struct Download {
    double airSeconds = 0;
    double proxyCpuSeconds = 0;
};

// One download of `answer` through the proxy and the in-memory link to a peer that
// acknowledges every chunk. The clock only moves while the link has work, so the time
// measured is the link's, not the server's.
std::optional<Download> downloadThroughProxy(const link_test::LinkConditions& conditions,
                                             const testing_support::ClosingHttpServer& server,
                                             std::size_t expected) {
    link_test::LinkWorld world(1, conditions);
    testing_support::LoopWakes wakes(world.loop());
    // The server is on the loopback, which the proxy refuses unless told otherwise.
    platform::net::PollProxySockets sockets(
        platform::net::PollProxySockets::Options{.destinations = {.allowLoopback = true}});
    TQWebProxyTransactions proxy(sockets, [&world](Bytes frame) {
        world.loop().post([&world, frame = std::move(frame)] {
            world.phone().send(TQAP::addPriority(kPriority, kProxyAppId, frame), false);
        });
    });
    sockets.setObserver(&proxy);
    world.phone().setReceiver([&](std::span<const std::uint8_t> message) {
        sockets.post([&proxy, frame = Bytes(message.begin() + 1, message.end())] {
            proxy.requestforConnection(frame);
        });
    });
    std::size_t received = 0;
    bool closed = false;
    world.peer().setReceiver([&](std::span<const std::uint8_t> message) {
        const auto frame = message.subspan(1);
        if (frame.size() < TQWebProxyFrame::kHeaderSize) {
            return;
        }
        if (frame[2] == TQWebProxyFrame::kData) {
            received += frame.size() - TQWebProxyFrame::kHeaderSize;
            const std::uint8_t ack = TQWebProxyFrame::kAcknowledgement;
            world.peer().send(
                TQAP::addPriority(
                    kPriority, kProxyAppId,
                    TQWebProxyFrame::make(TQWebProxyFrame::kControl, frame[3], std::span(&ack, 1))),
                false);
        } else {
            closed = true;
        }
    });

    const std::string request =
        "GET http://127.0.0.1:" + std::to_string(server.port()) + "/download HTTP/1.1\r\n\r\n";
    const double start = world.loop().now();
    world.peer().send(
        TQAP::addPriority(kPriority, kProxyAppId,
                          TQWebProxyFrame::make(TQWebProxyFrame::kData, 1,
                                                Bytes(request.begin(), request.end()))),
        false);
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (!closed && std::chrono::steady_clock::now() < until) {
        if (world.loop().nextDeadline() > world.loop().now()) {
            world.loop().runUntilIdle();
            if (world.loop().nextDeadline() == std::numeric_limits<double>::infinity()) {
                wakes.waitBriefly();
                continue;
            }
        }
        world.loop().advance(std::max(0.0, world.loop().nextDeadline() - world.loop().now()));
    }
    if (!closed || received != expected) {
        return std::nullopt;
    }
    return Download{world.loop().now() - start, sockets.ioThreadCpuSeconds()};
}

// 20 MiB of incompressible bytes downloaded through the proxy over the in-memory link, beside
// the link's own message goodput on the same air, acknowledged and not (the proxy's frames go
// unacknowledged, but every chunk waits a round trip for the watch's acknowledgement frame).
// Also the proxy thread's processor time per MiB.
void BM_ProxyDownload(benchmark::State& state) {
    const auto conditions = bench::conditionsFor(state);
    const auto messages = bench::messageGoodput(conditions);
    // The proxy's frames go without the link's acknowledgement, as these do.
    const auto unacknowledged = bench::messageGoodput(conditions, false);
    if (!messages || !unacknowledged) {
        state.SkipWithError("messages did not arrive");
        return;
    }
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
    const Bytes body = bench::noise(kDownload);
    const testing_support::ClosingHttpServer server(head + std::string(body.begin(), body.end()));
    // The server adds the request line it got.
    const std::size_t expected =
        head.size() + body.size() + std::string("GET /download HTTP/1.1").size();
    Download download;
    for (auto _ : state) {
        const auto measured = downloadThroughProxy(conditions, server, expected);
        if (!measured) {
            state.SkipWithError("the download did not arrive");
            return;
        }
        download = *measured;
    }
    const double mib = static_cast<double>(expected) / (1 << 20);
    const double goodput = static_cast<double>(expected) / download.airSeconds;
    state.counters["goodput_kBps"] = goodput / 1000;
    state.counters["messages_kBps"] = *messages / 1000;
    state.counters["of_message_goodput"] = goodput / *messages;
    state.counters["unacked_kBps"] = *unacknowledged / 1000;
    state.counters["of_unacked_goodput"] = goodput / *unacknowledged;
    state.counters["proxy_cpu_ms_per_MiB"] = download.proxyCpuSeconds * 1000 / mib;
}
BENCHMARK(BM_ProxyDownload)
    ->ArgNames({"air_us", "ack_us"})
    ->Args({1000, 10000})
    ->Args({7500, 30000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {"BM_ProxyDownload", "", "of_message_goodput"},
        {"BM_ProxyDownload", "", "of_unacked_goodput"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
