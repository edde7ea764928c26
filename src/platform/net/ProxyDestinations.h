#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::net {

// Loopback, link-local, multicast, broadcast and unspecified addresses reach the phone itself or
// its local link's machinery, never a server on the internet: a proxy that connects wherever it
// is asked must not be turned on the phone's own services. Loopback may be allowed (servers of
// tests and of scripts/run). IPv4 addresses inside IPv6 (mapped, compatible, the NAT64 prefix)
// are judged as the IPv4 address they carry.
struct ProxyDestinations {
    bool allowLoopback = false;

    // Why a connection to the numeric address is refused ("loopback address 127.0.0.1"), or
    // none when it may be made. Text that is no numeric address is refused.
    [[nodiscard]] std::optional<std::string> refusal(std::string_view numericAddress) const;
};

}  // namespace platform::net
