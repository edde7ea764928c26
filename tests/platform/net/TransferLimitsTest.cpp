#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <optional>

#include "platform/net/URLLoader.h"
#include "support/TricklingHttpServer.h"

namespace platform::net {
namespace {

URLRequest withLimits(double timeoutInterval, TransferLimits limits) {
    URLRequest request;
    request.timeoutInterval = timeoutInterval;
    request.limits = limits;
    return request;
}

TEST(TransferLimitsTest, RequestsGiveTheEngineTheirDeadlineAndFloor) {
    const struct {
        const char* name;
        URLRequest request;
        TransferTimeouts expected;
    } cases[] = {
        {"the defaults: silence alone", URLRequest{}, {60'000, 0, 1, 60}},
        {"no time-out is a minute's", withLimits(0, {}), {60'000, 0, 1, 60}},
        {"a call", withLimits(60, TransferLimits::call()), {60'000, 60'000, 1024, 30}},
        {"a 1 MiB download",
         withLimits(60, TransferLimits::download(1 << 20)),
         {60'000, 124'000, 1024, 30}},
        {"a deadline shorter than the silence bounds the connection too",
         withLimits(60, {.deadline = 0.25}),
         {250, 250, 1, 60}},
        {"a window in parts of a second is a whole one",
         withLimits(0.5, {.floorWindow = 0.2}),
         {500, 0, 1, 1}},
        {"no floor is the lowest",
         withLimits(10, {.floorBytesPerSecond = 0, .floorWindow = 5}),
         {10'000, 0, 1, 5}},
        {"a time-out shorter than the window still bounds silence",
         withLimits(15, TransferLimits::call()),
         {15'000, 60'000, 1024, 15}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(transferTimeouts(c.request), c.expected) << c.name;
    }
}

TEST(TransferLimitsTest, SecondsThatAreNoNumberOrTooLargeAreNeverTakenAsTheyAre) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    // A week: the longest any transfer is given.
    constexpr long week = 7L * 24 * 3600;
    const struct {
        const char* name;
        URLRequest request;
        TransferTimeouts expected;
    } cases[] = {
        {"a time-out that is no number is a minute's", withLimits(nan, {}), {60'000, 0, 1, 60}},
        {"an endless time-out is a minute's", withLimits(inf, {}), {60'000, 0, 1, 60}},
        {"a time-out below nothing is a minute's", withLimits(-inf, {}), {60'000, 0, 1, 60}},
        {"a huge time-out is a week's", withLimits(1e300, {}), {week * 1000, 0, 1, week}},
        {"a deadline that is no number is none",
         withLimits(60, {.deadline = nan}),
         {60'000, 0, 1, 60}},
        {"an endless deadline is none", withLimits(60, {.deadline = inf}), {60'000, 0, 1, 60}},
        {"a huge deadline is a week",
         withLimits(60, {.deadline = 1e300}),
         {60'000, week * 1000, 1, 60}},
        {"a window that is no number is the time-out",
         withLimits(10, {.floorWindow = nan}),
         {10'000, 0, 1, 10}},
        {"a huge window is the time-out",
         withLimits(10, {.floorWindow = 1e300}),
         {10'000, 0, 1, 10}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(transferTimeouts(c.request), c.expected) << c.name;
    }
}

class Ending final : public TransferClient {
public:
    void didComplete(const std::optional<URLError>& error,
                     const std::optional<std::filesystem::path>&) override {
        ended.set_value(error);
    }
    std::promise<std::optional<URLError>> ended;
};

// A byte a second keeps a connection alive for ever as far as silence goes: the deadline ends
// it all the same.
TEST(TransferLimitsTest, AServerSendingAByteASecondFailsWithinTheDeadline) {
    testing_support::TricklingHttpServer server(4096, std::chrono::milliseconds(1000));
    URLLoader loader;
    URLRequest request = withLimits(60, TransferLimits::call());
    request.url = server.url("/package.wgt");
    request.limits.deadline = 0.3;
    auto client = std::make_shared<Ending>();
    auto ended = client->ended.get_future();
    loader.start(request, {}, client);
    ASSERT_EQ(ended.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const std::optional<URLError> error = ended.get();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, urlerror::timedOut);
    EXPECT_EQ(error->failingURL, request.url);
    // Long before the trickle's last byte, whatever the machine's load.
    EXPECT_LT(server.sent(), 4096U / 2);
}

}  // namespace
}  // namespace platform::net
