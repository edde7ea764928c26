#include "platform/net/NetworkReachability.h"

#include <algorithm>

namespace platform::net {

namespace {

constexpr std::size_t kMaxHostName = 253;

bool isHostName(std::string_view name) {
    if (name.empty() || name.size() > kMaxHostName || name.front() == '.' || name.front() == '-') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_';
    });
}

}  // namespace

std::unique_ptr<NetworkReachability> NetworkReachability::forAddress(const IPv4Address& address,
                                                                     NetworkMonitor& monitor) {
    return std::unique_ptr<NetworkReachability>(new NetworkReachability(monitor, address));
}

std::unique_ptr<NetworkReachability> NetworkReachability::forHostName(std::string_view name,
                                                                      NetworkMonitor& monitor) {
    if (!isHostName(name)) {
        return nullptr;
    }
    return forAddress(IPv4Address{}, monitor);
}

NetworkReachability::~NetworkReachability() {
    unschedule();
}

std::optional<ReachabilityFlags> NetworkReachability::flags() {
    if (!monitor_.start()) {
        return std::nullopt;
    }
    return monitor_.state().flagsFor(address_);
}

bool NetworkReachability::schedule() {
    if (observer_) {
        return true;
    }
    const auto now = flags();
    if (!now) {
        return false;
    }
    reported_ = *now;
    observer_ = monitor_.addObserver([this] { networkChanged(); });
    return true;
}

void NetworkReachability::unschedule() {
    if (observer_) {
        monitor_.removeObserver(*observer_);
        observer_.reset();
    }
}

void NetworkReachability::networkChanged() {
    const ReachabilityFlags now = monitor_.state().flagsFor(address_);
    if (now == reported_) {
        return;
    }
    reported_ = now;
    if (callback_) {
        callback_(now);
    }
}

}  // namespace platform::net
