#include "TQUtilsFixture.h"
#include "support/FakeNetwork.h"
#include "utils/Reachability.h"

namespace tqutils_test {
namespace {

using testing_support::FakeNetwork;
using Kind = platform::net::LinkKind;
namespace flag = platform::net::reachability_flag;

TEST(ReachabilityRules, NetworkAndLocalWiFiTables) {
    const struct {
        Reachability::Flags flags;
        NetworkStatus network;
        NetworkStatus localWiFi;
    } cases[] = {
        {0, NotReachable, NotReachable},
        {flag::reachable, ReachableViaWiFi, NotReachable},
        {flag::reachable | flag::isDirect, ReachableViaWiFi, ReachableViaWiFi},
        {flag::isDirect, NotReachable, NotReachable},
        {flag::reachable | flag::isWWAN | flag::connectionRequired, ReachableViaWWAN, NotReachable},
        {flag::reachable | flag::connectionRequired, NotReachable, NotReachable},
        {flag::reachable | flag::connectionRequired | flag::connectionOnTraffic, ReachableViaWiFi,
         NotReachable},
        {flag::reachable | flag::connectionRequired | flag::connectionOnTraffic |
             flag::interventionRequired,
         NotReachable, NotReachable},
        {flag::reachable | flag::connectionRequired | flag::connectionOnDemand, ReachableViaWiFi,
         NotReachable},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Reachability::networkStatusForFlags(c.flags), c.network) << c.flags;
        EXPECT_EQ(Reachability::localWiFiStatusForFlags(c.flags), c.localWiFi) << c.flags;
    }
}

class ReachabilityTest : public TQUtilsTest {
protected:
    FakeNetwork network_;
};

TEST_F(ReachabilityTest, LogsTheFlagsWithTheRuleName) {
    (void)Reachability::networkStatusForFlags(flag::reachable | flag::isWWAN | flag::isDirect);
    EXPECT_TRUE(log_->logged("Reachability Flag Status: WR ------d networkStatusForFlags\n"));
}

TEST_F(ReachabilityTest, StatusesOverTheNetworkAndTheNotifier) {
    network_.setPicture(
        {FakeNetwork::link(2, Kind::wired), FakeNetwork::address(2, {192, 168, 1, 5}, 24)});
    auto internet = Reachability::reachabilityForInternetConnection(network_.monitor());
    auto local = Reachability::reachabilityForLocalWiFi(network_.monitor());
    EXPECT_TRUE(local->alwaysReturnLocalWiFiStatus());
    EXPECT_EQ(internet->currentReachabilityStatus(), NotReachable);
    EXPECT_EQ(local->currentReachabilityStatus(), ReachableViaWiFi);
    EXPECT_FALSE(internet->connectionRequired());

    std::vector<const void*> senders;
    network_.center().addObserver(
        kReachabilityChangedNotification,
        [&](const platform::Notification& n) { senders.push_back(n.sender); });
    ASSERT_TRUE(internet->startNotifier());
    network_.change({FakeNetwork::defaultRoute(2)});
    EXPECT_EQ(internet->currentReachabilityStatus(), ReachableViaWiFi);
    network_.change({FakeNetwork::link(4, Kind::modem), FakeNetwork::defaultRoute(4, AF_INET, 0),
                     FakeNetwork::removed(FakeNetwork::defaultRoute(2))});
    EXPECT_EQ(internet->currentReachabilityStatus(), ReachableViaWWAN);
    EXPECT_EQ(senders, (std::vector<const void*>{internet.get(), internet.get()}));

    internet->stopNotifier();
    network_.change({FakeNetwork::removed(FakeNetwork::defaultRoute(4))});
    EXPECT_EQ(senders.size(), 2u);
    EXPECT_EQ(internet->currentReachabilityStatus(), NotReachable);
}

TEST_F(ReachabilityTest, HostNamesTheNetworkRefuses) {
    EXPECT_EQ(Reachability::reachabilityWithHostName("no such host!", network_.monitor()), nullptr);
    auto host = Reachability::reachabilityWithHostName("store.kavo.example", network_.monitor());
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->currentReachabilityStatus(), NotReachable);
}

TEST_F(ReachabilityTest, AnUnwatchableNetworkIsNotReachable) {
    network_.source().failOpening({"test", 1, "no routing socket"});
    auto internet = Reachability::reachabilityForInternetConnection(network_.monitor());
    EXPECT_EQ(internet->currentReachabilityStatus(), NotReachable);
    EXPECT_FALSE(internet->startNotifier());
}

}  // namespace
}  // namespace tqutils_test
