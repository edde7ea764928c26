#include "utils/Reachability.h"

#include "logging/LGLog.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

namespace flag = platform::net::reachability_flag;

char letter(Reachability::Flags flags, Reachability::Flags bit, char name) {
    return (flags & bit) != 0 ? name : '-';
}

void PrintReachabilityFlags(Reachability::Flags flags, const char* comment) {
    LG_VERBOSE(
        "Reachability Flag Status: %c%c %c%c%c%c%c%c%c %s\n", letter(flags, flag::isWWAN, 'W'),
        letter(flags, flag::reachable, 'R'), letter(flags, flag::transientConnection, 't'),
        letter(flags, flag::connectionRequired, 'c'), letter(flags, flag::connectionOnTraffic, 'C'),
        letter(flags, flag::interventionRequired, 'i'),
        letter(flags, flag::connectionOnDemand, 'D'), letter(flags, flag::isLocalAddress, 'l'),
        letter(flags, flag::isDirect, 'd'), comment);
}

}  // namespace

std::unique_ptr<Reachability> Reachability::reachabilityWithHostName(
    std::string_view hostName, platform::net::NetworkMonitor& monitor) {
    auto reference = platform::net::NetworkReachability::forHostName(hostName, monitor);
    if (!reference) {
        return nullptr;
    }
    return std::unique_ptr<Reachability>(new Reachability(std::move(reference)));
}

std::unique_ptr<Reachability> Reachability::reachabilityWithAddress(
    const platform::net::IPv4Address& address, platform::net::NetworkMonitor& monitor) {
    return std::unique_ptr<Reachability>(
        new Reachability(platform::net::NetworkReachability::forAddress(address, monitor)));
}

std::unique_ptr<Reachability> Reachability::reachabilityForInternetConnection(
    platform::net::NetworkMonitor& monitor) {
    return reachabilityWithAddress(platform::net::IPv4Address{}, monitor);
}

std::unique_ptr<Reachability> Reachability::reachabilityForLocalWiFi(
    platform::net::NetworkMonitor& monitor) {
    auto reference = platform::net::NetworkReachability::forAddress({169, 254, 0, 0}, monitor);
    return std::unique_ptr<Reachability>(new Reachability(std::move(reference), true));
}

Reachability::~Reachability() {
    stopNotifier();
}

bool Reachability::startNotifier() {
    reachabilityRef_->setCallback([this](Flags) {
        platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification, this);
    });
    return reachabilityRef_->schedule();
}

void Reachability::stopNotifier() {
    reachabilityRef_->unschedule();
}

NetworkStatus Reachability::currentReachabilityStatus() {
    const auto flags = reachabilityRef_->flags();
    if (!flags) {
        return NotReachable;
    }
    return alwaysReturnLocalWiFiStatus_ ? localWiFiStatusForFlags(*flags)
                                        : networkStatusForFlags(*flags);
}

bool Reachability::connectionRequired() {
    const auto flags = reachabilityRef_->flags();
    return flags && (*flags & flag::connectionRequired) != 0;
}

NetworkStatus Reachability::localWiFiStatusForFlags(Flags flags) {
    PrintReachabilityFlags(flags, "localWiFiStatusForFlags");
    const Flags wanted = flag::reachable | flag::isDirect;
    return (flags & wanted) == wanted ? ReachableViaWiFi : NotReachable;
}

NetworkStatus Reachability::networkStatusForFlags(Flags flags) {
    PrintReachabilityFlags(flags, "networkStatusForFlags");
    if ((flags & flag::reachable) == 0) {
        return NotReachable;
    }
    if ((flags & flag::isWWAN) != 0) {
        return ReachableViaWWAN;
    }
    if ((flags & (flag::connectionOnDemand | flag::connectionOnTraffic)) != 0 &&
        (flags & flag::interventionRequired) == 0) {
        return ReachableViaWiFi;
    }
    return (flags & flag::connectionRequired) == 0 ? ReachableViaWiFi : NotReachable;
}
