#include "platform/net/NetworkState.h"

#include <sys/socket.h>

#include <algorithm>

namespace platform::net {

namespace {

namespace flag = reachability_flag;

ReachabilityFlags kindFlags(const Link& link) {
    return link.kind == LinkKind::modem ? flag::isWWAN : 0;
}

bool sameSubnet(const IPv4Address& a, const Address& b) {
    const int bits = std::clamp(b.prefixLength, 0, 32);
    for (int bit = 0; bit < bits; ++bit) {
        const std::uint8_t mask = static_cast<std::uint8_t>(0x80u >> (bit % 8));
        if ((a[bit / 8] & mask) != (b.bytes[bit / 8] & mask)) {
            return false;
        }
    }
    return true;
}

bool equalsAddress(const IPv4Address& a, const Address& b) {
    return std::equal(a.begin(), a.end(), b.bytes.begin());
}

}  // namespace

void NetworkState::apply(const NetEvent& event) {
    switch (event.type) {
        case NetEvent::Type::reset:
            links_.clear();
            addresses_.clear();
            routes_.clear();
            break;
        case NetEvent::Type::newLink:
            links_[event.link.index] = event.link;
            // A link taken down loses its routes without the kernel saying so for each.
            if (!event.link.up) {
                forgetRoutesOf(event.link.index);
            }
            break;
        case NetEvent::Type::delLink:
            links_.erase(event.link.index);
            std::erase_if(addresses_,
                          [&](const Address& a) { return a.linkIndex == event.link.index; });
            forgetRoutesOf(event.link.index);
            break;
        case NetEvent::Type::newAddress:
            if (std::find(addresses_.begin(), addresses_.end(), event.address) ==
                addresses_.end()) {
                addresses_.push_back(event.address);
            }
            break;
        case NetEvent::Type::delAddress:
            std::erase(addresses_, event.address);
            break;
        case NetEvent::Type::newRoute:
            if (std::find(routes_.begin(), routes_.end(), event.route) == routes_.end()) {
                routes_.push_back(event.route);
            }
            break;
        case NetEvent::Type::delRoute:
            std::erase(routes_, event.route);
            break;
    }
}

void NetworkState::forgetRoutesOf(int linkIndex) {
    std::erase_if(routes_, [&](const DefaultRoute& r) { return r.linkIndex == linkIndex; });
}

const Link* NetworkState::upLink(int index) const {
    const auto found = links_.find(index);
    if (found == links_.end() || !found->second.up || found->second.kind == LinkKind::loopback) {
        return nullptr;
    }
    return &found->second;
}

const Link* NetworkState::defaultLink() const {
    const DefaultRoute* best = nullptr;
    for (const DefaultRoute& route : routes_) {
        if (upLink(route.linkIndex) == nullptr) {
            continue;
        }
        const auto rank = [](const DefaultRoute& r) {
            return std::pair(r.family == AF_INET ? 0 : 1, r.priority);
        };
        if (best == nullptr || rank(route) < rank(*best)) {
            best = &route;
        }
    }
    return best != nullptr ? upLink(best->linkIndex) : nullptr;
}

ReachabilityFlags NetworkState::flagsFor(const IPv4Address& address) const {
    const bool linkLocal = address[0] == 169 && address[1] == 254;
    const bool any = address == IPv4Address{};
    if (!any) {
        for (const Address& own : addresses_) {
            const auto link = links_.find(own.linkIndex);
            if (own.family != AF_INET || link == links_.end() || !link->second.up) {
                continue;
            }
            if (equalsAddress(address, own)) {
                return flag::reachable | flag::isLocalAddress | flag::isDirect |
                       kindFlags(link->second);
            }
        }
        for (const Address& own : addresses_) {
            const Link* link = upLink(own.linkIndex);
            if (link == nullptr || own.family != AF_INET) {
                continue;
            }
            // The local network is there as soon as a LAN or wireless link has an address.
            if ((linkLocal && link->kind != LinkKind::modem) || sameSubnet(address, own)) {
                return flag::reachable | flag::isDirect | kindFlags(*link);
            }
        }
        if (linkLocal) {
            return 0;
        }
    }
    const Link* link = defaultLink();
    return link != nullptr ? flag::reachable | kindFlags(*link) : 0;
}

}  // namespace platform::net
