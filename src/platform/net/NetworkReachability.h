#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/net/NetworkMonitor.h"

namespace platform::net {

// Whether one address or host can be reached, as the phone platform's reachability flags, and
// a callback when they change. Rides on a NetworkMonitor, on whose loop it is used; the
// monitor outlives it.
class NetworkReachability {
public:
    using Callback = std::function<void(ReachabilityFlags)>;

    // 0.0.0.0 stands for any host on the internet.
    static std::unique_ptr<NetworkReachability> forAddress(
        const IPv4Address& address, NetworkMonitor& monitor = NetworkMonitor::current());
    // A host name is reachable when the internet is: names are not resolved to ask. Null when
    // the text is no host name.
    static std::unique_ptr<NetworkReachability> forHostName(
        std::string_view name, NetworkMonitor& monitor = NetworkMonitor::current());

    ~NetworkReachability();
    NetworkReachability(const NetworkReachability&) = delete;
    NetworkReachability& operator=(const NetworkReachability&) = delete;

    // The flags now; nothing when the network cannot be watched.
    [[nodiscard]] std::optional<ReachabilityFlags> flags();

    void setCallback(Callback callback) { callback_ = std::move(callback); }
    // From now on the callback hears each change of the flags, on the monitor's loop. False
    // when the network cannot be watched. Scheduling twice is one schedule.
    bool schedule();
    void unschedule();
    [[nodiscard]] bool isScheduled() const { return observer_.has_value(); }
    [[nodiscard]] RunLoop& loop() const { return monitor_.loop(); }

private:
    NetworkReachability(NetworkMonitor& monitor, const IPv4Address& address)
        : monitor_(monitor), address_(address) {}

    void networkChanged();

    NetworkMonitor& monitor_;
    IPv4Address address_;
    Callback callback_;
    std::optional<NetworkMonitor::Token> observer_;
    ReachabilityFlags reported_ = 0;
};

}  // namespace platform::net
