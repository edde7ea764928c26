#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/net/NetworkReachability.h"

enum HCNetworkReachabilityStatus : std::int64_t {
    HCNetworkReachabilityStatusUnknown = -1,
    HCNetworkReachabilityStatusNotReachable = 0,
    HCNetworkReachabilityStatusReachableViaWWAN = 1,
    HCNetworkReachabilityStatusReachableViaWiFi = 2,
};

// Posted on the default centre, without sender, when the status changes; the user information
// holds the status under the item key.
inline constexpr const char* kHCNetworkingReachabilityDidChangeNotification =
    "com.kavo.networking.reachability.change";
inline constexpr const char* kHCNetworkingReachabilityNotificationStatusItem =
    "HCNetworkingReachabilityNotificationStatusItem";

// "Unknown", "Not Reachable", "Reachable via WWAN" or "Reachable via WiFi"; "Unknown" for any
// other value.
[[nodiscard]] std::string HCStringFromNetworkReachabilityStatus(std::int64_t status);

// The status of a network reachability from its flags.
[[nodiscard]] HCNetworkReachabilityStatus HCNetworkReachabilityStatusForFlags(
    platform::net::ReachabilityFlags flags);

// Watches whether a host or an address can be reached, and over which kind of network; keeps
// the status, calls the status block on each change and posts the change notification. Lives
// on the network monitor's run loop (the main one), where everything it reports arrives.
class HCNetworkReachabilityManager : public platform::Replaceable<HCNetworkReachabilityManager> {
public:
    using StatusBlock = std::function<void(HCNetworkReachabilityStatus)>;

    // How the manager's reachability was made.
    enum class Association : std::uint64_t { none = 0, address = 1, hostName = 3 };

    // The process-wide manager for any route (0.0.0.0), which the application makes and
    // installs (not started) beside the network monitor it reads, so it never outlives it.
    static HCNetworkReachabilityManager& sharedManager();
    static std::unique_ptr<HCNetworkReachabilityManager> managerForDomain(
        std::string_view domain,
        platform::net::NetworkMonitor& monitor = platform::net::NetworkMonitor::current());
    static std::unique_ptr<HCNetworkReachabilityManager> managerForAddress(
        const platform::net::IPv4Address& address,
        platform::net::NetworkMonitor& monitor = platform::net::NetworkMonitor::current());

    // Takes over reachability; a null one makes a manager that never leaves "unknown".
    explicit HCNetworkReachabilityManager(
        std::unique_ptr<platform::net::NetworkReachability> reachability,
        Association association = Association::none);
    ~HCNetworkReachabilityManager();
    HCNetworkReachabilityManager(const HCNetworkReachabilityManager&) = delete;
    HCNetworkReachabilityManager& operator=(const HCNetworkReachabilityManager&) = delete;

    void startMonitoring();
    void stopMonitoring();

    [[nodiscard]] std::int64_t networkReachabilityStatus() const { return status_; }
    [[nodiscard]] Association networkReachabilityAssociation() const { return association_; }
    [[nodiscard]] bool isReachable() const { return isReachableViaWWAN() || isReachableViaWiFi(); }
    [[nodiscard]] bool isReachableViaWWAN() const {
        return status_ == HCNetworkReachabilityStatusReachableViaWWAN;
    }
    [[nodiscard]] bool isReachableViaWiFi() const {
        return status_ == HCNetworkReachabilityStatusReachableViaWiFi;
    }
    [[nodiscard]] std::string localizedNetworkReachabilityStatusString() const {
        return HCStringFromNetworkReachabilityStatus(status_);
    }
    void setReachabilityStatusChangeBlock(StatusBlock block) { statusBlock_ = std::move(block); }

private:
    void statusChanged(HCNetworkReachabilityStatus status);
    void postChange(HCNetworkReachabilityStatus status);

    std::int64_t status_ = HCNetworkReachabilityStatusUnknown;
    std::unique_ptr<platform::net::NetworkReachability> reachability_;
    Association association_;
    StatusBlock statusBlock_;
    std::unique_ptr<platform::WeakPtrFactory<HCNetworkReachabilityManager>> weakFactory_;
};
