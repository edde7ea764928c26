#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::net {

// Refuses loopback, link-local, multicast, broadcast and unspecified addresses, which reach the
// phone itself or its local link's machinery rather than a server. Nothing else is refused: a
// private network's address, or one of the phone's own interfaces, passes, so this narrows what
// the proxy reaches on the phone without closing it. Loopback may be allowed (servers of tests
// and of scripts/run). IPv4 addresses inside IPv6 (mapped, compatible, the NAT64 prefix)
// are judged as the IPv4 address they carry.
struct ProxyDestinations {
    bool allowLoopback = false;

    // Why a connection to the numeric address is refused ("loopback address 127.0.0.1"), or
    // none when it may be made. Text that is no numeric address is refused.
    [[nodiscard]] std::optional<std::string> refusal(std::string_view numericAddress) const;
};

}  // namespace platform::net
