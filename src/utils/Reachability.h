#pragma once

#include <memory>
#include <string_view>

#include "platform/net/NetworkReachability.h"

enum NetworkStatus { NotReachable = 0, ReachableViaWiFi = 1, ReachableViaWWAN = 2 };

// Posted on the default centre with the instance whose flags changed as sender.
inline constexpr const char* kReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";

// Whether the phone can reach the internet, or one host or address, and whether over Wi-Fi or
// the cellular network, from the platform's reachability flags. Used on the network monitor's
// run loop (the main one), where its notifications arrive.
class Reachability {
public:
    using Flags = platform::net::ReachabilityFlags;

    // Null when the platform refuses the name.
    static std::unique_ptr<Reachability> reachabilityWithHostName(
        std::string_view hostName,
        platform::net::NetworkMonitor& monitor = platform::net::NetworkMonitor::current());
    static std::unique_ptr<Reachability> reachabilityWithAddress(
        const platform::net::IPv4Address& address,
        platform::net::NetworkMonitor& monitor = platform::net::NetworkMonitor::current());
    // Any route to the internet (the all-zero address).
    static std::unique_ptr<Reachability> reachabilityForInternetConnection(
        platform::net::NetworkMonitor& monitor = platform::net::NetworkMonitor::current());
    // The link-local network 169.254.0.0, read by the local Wi-Fi rule.
    static std::unique_ptr<Reachability> reachabilityForLocalWiFi(
        platform::net::NetworkMonitor& monitor = platform::net::NetworkMonitor::current());

    ~Reachability();
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    bool startNotifier();
    void stopNotifier();

    [[nodiscard]] NetworkStatus currentReachabilityStatus();
    [[nodiscard]] bool connectionRequired();
    [[nodiscard]] bool alwaysReturnLocalWiFiStatus() const { return alwaysReturnLocalWiFiStatus_; }

    // The two rules; each logs the flags first.
    [[nodiscard]] static NetworkStatus localWiFiStatusForFlags(Flags flags);
    [[nodiscard]] static NetworkStatus networkStatusForFlags(Flags flags);

private:
    explicit Reachability(std::unique_ptr<platform::net::NetworkReachability> reachabilityRef,
                          bool alwaysReturnLocalWiFiStatus = false)
        : reachabilityRef_(std::move(reachabilityRef)),
          alwaysReturnLocalWiFiStatus_(alwaysReturnLocalWiFiStatus) {}

    std::unique_ptr<platform::net::NetworkReachability> reachabilityRef_;
    bool alwaysReturnLocalWiFiStatus_;
};
