#include <gtest/gtest.h>

#include "platform/net/NetworkReachability.h"
#include "support/FakeNetwork.h"

namespace {

using platform::net::IPv4Address;
using platform::net::NetworkReachability;
using platform::net::ReachabilityFlags;
using testing_support::FakeNetwork;
using Kind = platform::net::LinkKind;
namespace flag = platform::net::reachability_flag;

constexpr IPv4Address kAny{};
constexpr IPv4Address kLinkLocal{169, 254, 0, 0};

struct FlagsCase {
    const char* what;
    platform::net::NetEvents picture;
    IPv4Address target;
    ReachabilityFlags expected;
};

class NetworkFlags : public ::testing::TestWithParam<FlagsCase> {};

TEST_P(NetworkFlags, FromLinksAddressesAndRoutes) {
    FakeNetwork network;
    network.setPicture(GetParam().picture);
    ASSERT_TRUE(network.monitor().start().ok());
    EXPECT_EQ(network.monitor().state().flagsFor(GetParam().target), GetParam().expected)
        << GetParam().what;
}

const FlagsCase kFlagsCases[] = {
    {"nothing at all", {}, kAny, 0},
    {"a loopback default route",
     {FakeNetwork::link(1, Kind::loopback), FakeNetwork::defaultRoute(1)},
     kAny,
     0},
    {"a wired link without a default route",
     {FakeNetwork::link(2, Kind::wired), FakeNetwork::address(2, {10, 0, 0, 2}, 24)},
     kAny,
     0},
    {"wired with a default route",
     {FakeNetwork::link(2, Kind::wired), FakeNetwork::defaultRoute(2)},
     kAny,
     flag::reachable},
    {"wireless with a default route",
     {FakeNetwork::link(3, Kind::wireless), FakeNetwork::defaultRoute(3)},
     kAny,
     flag::reachable},
    {"a modem with a default route",
     {FakeNetwork::link(4, Kind::modem), FakeNetwork::defaultRoute(4)},
     kAny,
     flag::reachable | flag::isWWAN},
    {"an IPv6 default route alone",
     {FakeNetwork::link(3, Kind::wireless), FakeNetwork::defaultRoute(3, AF_INET6)},
     kAny,
     flag::reachable},
    {"a default route over a link that is down",
     {FakeNetwork::link(3, Kind::wireless, false), FakeNetwork::defaultRoute(3)},
     kAny,
     0},
    {"IPv4 wins over IPv6: the modem carries IPv4",
     {FakeNetwork::link(3, Kind::wireless), FakeNetwork::link(4, Kind::modem),
      FakeNetwork::defaultRoute(3, AF_INET6), FakeNetwork::defaultRoute(4)},
     kAny,
     flag::reachable | flag::isWWAN},
    {"the lower priority wins",
     {FakeNetwork::link(3, Kind::wireless), FakeNetwork::link(4, Kind::modem),
      FakeNetwork::defaultRoute(3, AF_INET, 600), FakeNetwork::defaultRoute(4, AF_INET, 700)},
     kAny,
     flag::reachable},
    {"the local network over a LAN",
     {FakeNetwork::link(2, Kind::wired), FakeNetwork::address(2, {192, 168, 1, 5}, 24)},
     kLinkLocal,
     flag::reachable | flag::isDirect},
    {"no local network over a modem",
     {FakeNetwork::link(4, Kind::modem), FakeNetwork::address(4, {10, 64, 1, 5}, 30),
      FakeNetwork::defaultRoute(4)},
     kLinkLocal,
     0},
    {"an address on the LAN",
     {FakeNetwork::link(2, Kind::wired), FakeNetwork::address(2, {192, 168, 1, 5}, 24)},
     IPv4Address{192, 168, 1, 77},
     flag::reachable | flag::isDirect},
    {"an own address",
     {FakeNetwork::link(2, Kind::wired), FakeNetwork::address(2, {192, 168, 1, 5}, 24)},
     IPv4Address{192, 168, 1, 5},
     flag::reachable | flag::isDirect | flag::isLocalAddress},
    {"an address beyond the LAN goes by the default route",
     {FakeNetwork::link(2, Kind::wired), FakeNetwork::address(2, {192, 168, 1, 5}, 24),
      FakeNetwork::defaultRoute(2)},
     IPv4Address{8, 8, 8, 8},
     flag::reachable},
};

INSTANTIATE_TEST_SUITE_P(Table, NetworkFlags, ::testing::ValuesIn(kFlagsCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(NetworkMonitorTest, TakingALinkDownForgetsItsRoutes) {
    FakeNetwork network;
    network.setPicture({FakeNetwork::link(2, Kind::wired), FakeNetwork::defaultRoute(2)});
    ASSERT_TRUE(network.monitor().start().ok());
    network.change({FakeNetwork::link(2, Kind::wired, false)});
    network.change({FakeNetwork::link(2, Kind::wired, true)});
    // The kernel dropped the route with the link; only a new route brings the internet back.
    EXPECT_EQ(network.monitor().state().flagsFor(kAny), 0u);
    network.change({FakeNetwork::defaultRoute(2)});
    EXPECT_EQ(network.monitor().state().flagsFor(kAny), flag::reachable);
    network.change({FakeNetwork::removed(FakeNetwork::link(2, Kind::wired))});
    EXPECT_TRUE(network.monitor().state().defaultRoutes().empty());
}

TEST(NetworkMonitorTest, StartsOnceStopsListeningAndReportsAFailedSource) {
    FakeNetwork network;
    ASSERT_TRUE(network.monitor().start().ok());
    ASSERT_TRUE(network.monitor().start().ok());
    EXPECT_EQ(network.source().openCount(), 1);
    network.monitor().stop();
    EXPECT_FALSE(network.source().isOpen());

    FakeNetwork broken;
    broken.source().failOpening({"test", 1, "no routing socket"});
    auto reachability = NetworkReachability::forAddress(kAny, broken.monitor());
    EXPECT_EQ(reachability->flags(), std::nullopt);
    EXPECT_FALSE(reachability->schedule());
}

TEST(NetworkReachabilityTest, CallsBackOnlyWhenItsFlagsChangeWhileScheduled) {
    FakeNetwork network;
    network.setPicture({FakeNetwork::link(2, Kind::wired)});
    auto reachability = NetworkReachability::forAddress(kAny, network.monitor());
    std::vector<ReachabilityFlags> heard;
    reachability->setCallback([&](ReachabilityFlags flags) { heard.push_back(flags); });
    ASSERT_TRUE(reachability->schedule());
    ASSERT_TRUE(reachability->schedule());

    network.change({FakeNetwork::address(2, {10, 0, 0, 2}, 24)});  // no change for the internet
    network.change({FakeNetwork::defaultRoute(2)});
    network.change({FakeNetwork::link(4, Kind::modem), FakeNetwork::defaultRoute(4)});
    network.change({FakeNetwork::removed(FakeNetwork::defaultRoute(2))});
    EXPECT_EQ(heard,
              (std::vector<ReachabilityFlags>{flag::reachable, flag::reachable | flag::isWWAN}));

    reachability->unschedule();
    network.change({FakeNetwork::removed(FakeNetwork::defaultRoute(4))});
    EXPECT_EQ(heard.size(), 2u);
    EXPECT_EQ(reachability->flags(), 0u);
}

TEST(NetworkReachabilityTest, RefusesTextsThatAreNoHostNames) {
    FakeNetwork network;
    for (const char* name : {"", "has space", "-lead", "a/b", "ünïcode"}) {
        EXPECT_EQ(NetworkReachability::forHostName(name, network.monitor()), nullptr) << name;
    }
    EXPECT_NE(NetworkReachability::forHostName("store.kavo.example", network.monitor()), nullptr);
}

}  // namespace
