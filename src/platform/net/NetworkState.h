#pragma once

#include <map>
#include <vector>

#include "platform/net/NetworkTypes.h"

namespace platform::net {

// The links, addresses and default routes the kernel reported, and the reachability flags they
// give. A LAN counts as the local network: a wired default route reads as Wi-Fi would.
class NetworkState {
public:
    void apply(const NetEvent& event);

    // The flags for reaching address; 0.0.0.0 is any host on the internet, 169.254.0.0 the
    // local network.
    [[nodiscard]] ReachabilityFlags flagsFor(const IPv4Address& address) const;

    [[nodiscard]] const std::map<int, Link>& links() const { return links_; }
    [[nodiscard]] const std::vector<DefaultRoute>& defaultRoutes() const { return routes_; }
    // The link of the default route the kernel would pick: IPv4 before IPv6, then the lowest
    // priority, over a link that is up. Null when there is none.
    [[nodiscard]] const Link* defaultLink() const;

private:
    [[nodiscard]] const Link* upLink(int index) const;
    void forgetRoutesOf(int linkIndex);

    std::map<int, Link> links_;
    std::vector<Address> addresses_;
    std::vector<DefaultRoute> routes_;
};

}  // namespace platform::net
