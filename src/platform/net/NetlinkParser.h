#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "platform/net/NetworkTypes.h"

namespace platform::net {

// Tells a link's kind from its hardware type, name and link kind ("wwan", "veth", ...).
using LinkClassifier = std::function<LinkKind(std::uint16_t hardwareType, std::string_view name,
                                              std::string_view linkKind)>;

// What one datagram of the kernel's routing socket said.
struct NetlinkBatch {
    NetEvents events;
    bool done = false;  // the end of a dump
    int error = 0;      // the errno of an error message, 0 when none
};

// Reads the link, address and route messages of a datagram; other messages and routes that
// are not default routes of the main table are skipped. Never reads past the datagram, and a
// message whose stated length does not fit ends the reading.
[[nodiscard]] NetlinkBatch parseNetlink(std::span<const std::uint8_t> datagram,
                                        const LinkClassifier& classify);

}  // namespace platform::net
