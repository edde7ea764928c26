#include "http/HCNetworkReachabilityManager.h"

#include "platform/foundation/NotificationCenter.h"

namespace {

namespace flag = platform::net::reachability_flag;

void announce(HCNetworkReachabilityStatus status) {
    platform::NotificationCenter::defaultCenter().post(
        kHCNetworkingReachabilityDidChangeNotification, nullptr, {},
        platform::Value{
            {kHCNetworkingReachabilityNotificationStatusItem, static_cast<long long>(status)}});
}

}  // namespace

std::string HCStringFromNetworkReachabilityStatus(std::int64_t status) {
    switch (status) {
        case HCNetworkReachabilityStatusNotReachable:
            return "Not Reachable";
        case HCNetworkReachabilityStatusReachableViaWWAN:
            return "Reachable via WWAN";
        case HCNetworkReachabilityStatusReachableViaWiFi:
            return "Reachable via WiFi";
        default:
            return "Unknown";
    }
}

HCNetworkReachabilityStatus HCNetworkReachabilityStatusForFlags(
    platform::net::ReachabilityFlags flags) {
    const bool reachable = (flags & flag::reachable) != 0;
    const bool needsConnection = (flags & flag::connectionRequired) != 0;
    const bool connectsByItself =
        (flags & (flag::connectionOnDemand | flag::connectionOnTraffic)) != 0 &&
        (flags & flag::interventionRequired) == 0;
    if (!reachable || (needsConnection && !connectsByItself)) {
        return HCNetworkReachabilityStatusNotReachable;
    }
    return (flags & flag::isWWAN) != 0 ? HCNetworkReachabilityStatusReachableViaWWAN
                                       : HCNetworkReachabilityStatusReachableViaWiFi;
}

HCNetworkReachabilityManager& HCNetworkReachabilityManager::sharedManager() {
    return installedInstance("HCNetworkReachabilityManager::sharedManager");
}

std::unique_ptr<HCNetworkReachabilityManager> HCNetworkReachabilityManager::managerForDomain(
    std::string_view domain, platform::net::NetworkMonitor& monitor) {
    return std::make_unique<HCNetworkReachabilityManager>(
        platform::net::NetworkReachability::forHostName(domain, monitor), Association::hostName);
}

std::unique_ptr<HCNetworkReachabilityManager> HCNetworkReachabilityManager::managerForAddress(
    const platform::net::IPv4Address& address, platform::net::NetworkMonitor& monitor) {
    return std::make_unique<HCNetworkReachabilityManager>(
        platform::net::NetworkReachability::forAddress(address, monitor), Association::address);
}

HCNetworkReachabilityManager::HCNetworkReachabilityManager(
    std::unique_ptr<platform::net::NetworkReachability> reachability, Association association)
    : reachability_(std::move(reachability)), association_(association) {
    if (reachability_) {
        weakFactory_ = std::make_unique<platform::WeakPtrFactory<HCNetworkReachabilityManager>>(
            *this, reachability_->loop());
    }
}

HCNetworkReachabilityManager::~HCNetworkReachabilityManager() {
    stopMonitoring();
    weakFactory_.reset();
}

void HCNetworkReachabilityManager::startMonitoring() {
    stopMonitoring();
    if (!reachability_) {
        return;
    }
    const auto weak = weakFactory_->weakPtr();
    reachability_->setCallback([weak](platform::net::ReachabilityFlags flags) {
        if (auto* manager = weak.get()) {
            const auto status = HCNetworkReachabilityStatusForFlags(flags);
            manager->statusChanged(status);
            manager->postChange(status);
        }
    });
    reachability_->schedule();
    if (association_ == Association::hostName) {
        // A host stays as it is until the network changes.
        return;
    }
    reachability_->loop().post([weak] {
        auto* manager = weak.get();
        if (manager == nullptr) {
            return;
        }
        // A network that cannot be watched leaves the status as it was: "unknown" is never
        // announced.
        if (const auto flags = manager->reachability_->flags()) {
            const auto status = HCNetworkReachabilityStatusForFlags(*flags);
            manager->statusChanged(status);
            announce(status);
        }
    });
}

void HCNetworkReachabilityManager::stopMonitoring() {
    if (reachability_) {
        reachability_->unschedule();
    }
}

void HCNetworkReachabilityManager::statusChanged(HCNetworkReachabilityStatus status) {
    status_ = status;
    if (statusBlock_) {
        statusBlock_(status);
    }
}

void HCNetworkReachabilityManager::postChange(HCNetworkReachabilityStatus status) {
    reachability_->loop().post([status] { announce(status); });
}
