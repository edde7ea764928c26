#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::net {

using IPv4Address = std::array<std::uint8_t, 4>;

// What carries an interface's traffic, as far as reachability cares.
enum class LinkKind { other, loopback, wired, wireless, modem };

struct Link {
    int index = 0;
    std::string name;
    LinkKind kind = LinkKind::other;
    bool up = false;  // administratively up and running
};

struct Address {
    int linkIndex = 0;
    int family = 0;  // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> bytes{};
    int prefixLength = 0;
    friend bool operator==(const Address&, const Address&) = default;
};

// A default route of the main table.
struct DefaultRoute {
    int family = 0;
    int linkIndex = 0;
    std::uint32_t priority = 0;
    friend bool operator==(const DefaultRoute&, const DefaultRoute&) = default;
};

// One change the kernel reported; reset: forget everything, a full picture follows.
struct NetEvent {
    enum class Type { reset, newLink, delLink, newAddress, delAddress, newRoute, delRoute };
    Type type = Type::reset;
    Link link;
    Address address;
    DefaultRoute route;
};
using NetEvents = std::vector<NetEvent>;

// The phone platform's reachability flags, with its bit values.
using ReachabilityFlags = std::uint32_t;
namespace reachability_flag {
inline constexpr ReachabilityFlags transientConnection = 0x1;
inline constexpr ReachabilityFlags reachable = 0x2;
inline constexpr ReachabilityFlags connectionRequired = 0x4;
inline constexpr ReachabilityFlags connectionOnTraffic = 0x8;
inline constexpr ReachabilityFlags interventionRequired = 0x10;
inline constexpr ReachabilityFlags connectionOnDemand = 0x20;
inline constexpr ReachabilityFlags isLocalAddress = 0x10000;
inline constexpr ReachabilityFlags isDirect = 0x20000;
inline constexpr ReachabilityFlags isWWAN = 0x40000;
}  // namespace reachability_flag

}  // namespace platform::net
