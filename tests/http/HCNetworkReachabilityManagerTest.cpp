#include <gtest/gtest.h>

#include "http/HCNetworkReachabilityManager.h"
#include "support/FakeNetwork.h"

namespace {

using testing_support::FakeNetwork;
using Kind = platform::net::LinkKind;
namespace flag = platform::net::reachability_flag;

TEST(HCNetworkReachabilityStatusTest, FromFlags) {
    const struct {
        platform::net::ReachabilityFlags flags;
        HCNetworkReachabilityStatus status;
    } cases[] = {
        {0, HCNetworkReachabilityStatusNotReachable},
        {flag::reachable, HCNetworkReachabilityStatusReachableViaWiFi},
        {flag::reachable | flag::isWWAN, HCNetworkReachabilityStatusReachableViaWWAN},
        {flag::reachable | flag::connectionRequired, HCNetworkReachabilityStatusNotReachable},
        {flag::reachable | flag::connectionRequired | flag::connectionOnDemand,
         HCNetworkReachabilityStatusReachableViaWiFi},
        {flag::reachable | flag::connectionRequired | flag::connectionOnDemand | flag::isWWAN,
         HCNetworkReachabilityStatusReachableViaWWAN},
        {flag::reachable | flag::connectionRequired | flag::connectionOnDemand |
             flag::interventionRequired,
         HCNetworkReachabilityStatusNotReachable},
        {flag::isWWAN, HCNetworkReachabilityStatusNotReachable},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HCNetworkReachabilityStatusForFlags(c.flags), c.status) << c.flags;
    }
}

TEST(HCNetworkReachabilityStatusTest, Texts) {
    const std::pair<std::int64_t, const char*> texts[] = {
        {-1, "Unknown"},           {0, "Not Reachable"}, {1, "Reachable via WWAN"},
        {2, "Reachable via WiFi"}, {3, "Unknown"},       {-2, "Unknown"}};
    for (const auto& [status, text] : texts) {
        EXPECT_EQ(HCStringFromNetworkReachabilityStatus(status), text);
    }
}

class HCNetworkReachabilityManagerTest : public ::testing::Test {
protected:
    HCNetworkReachabilityManagerTest() {
        network_.center().addObserver(
            kHCNetworkingReachabilityDidChangeNotification,
            [this](const platform::Notification& n) {
                EXPECT_EQ(n.sender, nullptr);
                announced_.push_back(
                    *n.userInfo[kHCNetworkingReachabilityNotificationStatusItem].intValue());
            });
    }

    FakeNetwork network_;
    std::vector<std::int64_t> announced_;
    std::vector<HCNetworkReachabilityStatus> heard_;
};

TEST_F(HCNetworkReachabilityManagerTest, StartReadsOnceLaterThenFollowsChanges) {
    network_.setPicture({FakeNetwork::link(3, Kind::wireless), FakeNetwork::defaultRoute(3)});
    auto manager = HCNetworkReachabilityManager::managerForAddress({}, network_.monitor());
    EXPECT_EQ(manager->networkReachabilityAssociation(),
              HCNetworkReachabilityManager::Association::address);
    manager->setReachabilityStatusChangeBlock(
        [this](HCNetworkReachabilityStatus status) { heard_.push_back(status); });

    manager->startMonitoring();
    EXPECT_EQ(manager->networkReachabilityStatus(), HCNetworkReachabilityStatusUnknown);
    EXPECT_FALSE(manager->isReachable());
    network_.loop().runUntilIdle();
    EXPECT_TRUE(manager->isReachableViaWiFi());
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Reachable via WiFi");

    network_.change({FakeNetwork::link(4, Kind::modem), FakeNetwork::defaultRoute(4),
                     FakeNetwork::removed(FakeNetwork::defaultRoute(3))});
    EXPECT_TRUE(manager->isReachableViaWWAN());
    network_.change({FakeNetwork::removed(FakeNetwork::link(4, Kind::modem))});
    EXPECT_EQ(manager->networkReachabilityStatus(), HCNetworkReachabilityStatusNotReachable);

    EXPECT_EQ(heard_,
              (std::vector<HCNetworkReachabilityStatus>{HCNetworkReachabilityStatusReachableViaWiFi,
                                                        HCNetworkReachabilityStatusReachableViaWWAN,
                                                        HCNetworkReachabilityStatusNotReachable}));
    EXPECT_EQ(announced_, (std::vector<std::int64_t>{2, 1, 0}));
}

TEST_F(HCNetworkReachabilityManagerTest, StartingTwiceWatchesOnceAndStopKeepsTheStatus) {
    network_.setPicture({FakeNetwork::link(3, Kind::wireless)});
    auto manager = HCNetworkReachabilityManager::managerForAddress({}, network_.monitor());
    manager->setReachabilityStatusChangeBlock(
        [this](HCNetworkReachabilityStatus status) { heard_.push_back(status); });
    manager->startMonitoring();
    manager->startMonitoring();
    network_.loop().runUntilIdle();
    network_.change({FakeNetwork::defaultRoute(3)});
    // Two initial reads, one change heard once.
    EXPECT_EQ(heard_.size(), 3u);

    manager->stopMonitoring();
    network_.change({FakeNetwork::removed(FakeNetwork::defaultRoute(3))});
    EXPECT_TRUE(manager->isReachableViaWiFi());
    EXPECT_EQ(announced_, (std::vector<std::int64_t>{0, 0, 2}));
}

TEST_F(HCNetworkReachabilityManagerTest, AHostWaitsForAChangeAndNothingIsNeverAnnounced) {
    network_.setPicture({FakeNetwork::link(3, Kind::wireless), FakeNetwork::defaultRoute(3)});
    auto host =
        HCNetworkReachabilityManager::managerForDomain("store.kavo.example", network_.monitor());
    EXPECT_EQ(host->networkReachabilityAssociation(),
              HCNetworkReachabilityManager::Association::hostName);
    host->startMonitoring();
    network_.loop().runUntilIdle();
    EXPECT_EQ(host->networkReachabilityStatus(), HCNetworkReachabilityStatusUnknown);
    network_.change({FakeNetwork::removed(FakeNetwork::defaultRoute(3))});
    EXPECT_EQ(host->networkReachabilityStatus(), HCNetworkReachabilityStatusNotReachable);

    HCNetworkReachabilityManager without(nullptr);
    without.startMonitoring();
    network_.loop().runUntilIdle();
    EXPECT_EQ(without.networkReachabilityStatus(), HCNetworkReachabilityStatusUnknown);

    FakeNetwork broken;
    broken.source().failOpening({"test", 1, "no routing socket"});
    auto unwatchable = HCNetworkReachabilityManager::managerForAddress({}, broken.monitor());
    unwatchable->startMonitoring();
    broken.loop().runUntilIdle();
    EXPECT_EQ(unwatchable->networkReachabilityStatus(), HCNetworkReachabilityStatusUnknown);
    EXPECT_EQ(announced_, (std::vector<std::int64_t>{0}));
}

TEST_F(HCNetworkReachabilityManagerTest, AManagerGoneBeforeItsFirstReadIsLeftAlone) {
    auto manager = HCNetworkReachabilityManager::managerForAddress({}, network_.monitor());
    manager->startMonitoring();
    manager.reset();
    network_.loop().runUntilIdle();
    EXPECT_TRUE(announced_.empty());
}

}  // namespace
