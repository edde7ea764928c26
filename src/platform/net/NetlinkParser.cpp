#include "platform/net/NetlinkParser.h"

#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

namespace platform::net {

namespace {

constexpr std::size_t align4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

// What follows a fixed header, padded to four bytes; empty when the header does not fit.
template <typename Header>
std::span<const std::uint8_t> afterHeader(std::span<const std::uint8_t> bytes) {
    return bytes.subspan(std::min(align4(sizeof(Header)), bytes.size()));
}

template <typename T>
std::optional<T> readStruct(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < sizeof(T)) {
        return std::nullopt;
    }
    T value{};
    std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

// Calls visit(type, payload) for each attribute; stops at the first that does not fit.
template <typename Visit>
void forEachAttribute(std::span<const std::uint8_t> bytes, Visit&& visit) {
    while (bytes.size() >= sizeof(rtattr)) {
        const auto header = readStruct<rtattr>(bytes);
        const std::size_t length = header->rta_len;
        if (length < sizeof(rtattr) || length > bytes.size()) {
            return;
        }
        visit(static_cast<std::uint16_t>(header->rta_type & NLA_TYPE_MASK),
              bytes.subspan(sizeof(rtattr), length - sizeof(rtattr)));
        bytes = bytes.subspan(std::min(align4(length), bytes.size()));
    }
}

std::optional<std::uint32_t> readU32(std::span<const std::uint8_t> payload) {
    return readStruct<std::uint32_t>(payload);
}

std::string readText(std::span<const std::uint8_t> payload) {
    const auto end = std::find(payload.begin(), payload.end(), std::uint8_t{0});
    return std::string(payload.begin(), end);
}

std::optional<NetEvent> parseLink(std::uint16_t type, std::span<const std::uint8_t> body,
                                  const LinkClassifier& classify) {
    const auto info = readStruct<ifinfomsg>(body);
    if (!info) {
        return std::nullopt;
    }
    NetEvent event;
    event.type = type == RTM_NEWLINK ? NetEvent::Type::newLink : NetEvent::Type::delLink;
    event.link.index = info->ifi_index;
    event.link.up = (info->ifi_flags & IFF_UP) != 0 && (info->ifi_flags & IFF_RUNNING) != 0;
    std::string linkKind;
    forEachAttribute(afterHeader<ifinfomsg>(body),
                     [&](std::uint16_t attribute, std::span<const std::uint8_t> payload) {
                         if (attribute == IFLA_IFNAME) {
                             event.link.name = readText(payload);
                         } else if (attribute == IFLA_LINKINFO) {
                             forEachAttribute(payload, [&](std::uint16_t inner,
                                                           std::span<const std::uint8_t> value) {
                                 if (inner == IFLA_INFO_KIND) {
                                     linkKind = readText(value);
                                 }
                             });
                         }
                     });
    event.link.kind = classify(info->ifi_type, event.link.name, linkKind);
    return event;
}

std::optional<NetEvent> parseAddress(std::uint16_t type, std::span<const std::uint8_t> body) {
    const auto info = readStruct<ifaddrmsg>(body);
    if (!info || (info->ifa_family != AF_INET && info->ifa_family != AF_INET6)) {
        return std::nullopt;
    }
    NetEvent event;
    event.type = type == RTM_NEWADDR ? NetEvent::Type::newAddress : NetEvent::Type::delAddress;
    event.address.linkIndex = static_cast<int>(info->ifa_index);
    event.address.family = info->ifa_family;
    event.address.prefixLength = info->ifa_prefixlen;
    const std::size_t size = info->ifa_family == AF_INET ? 4 : 16;
    bool found = false;
    forEachAttribute(afterHeader<ifaddrmsg>(body), [&](std::uint16_t attribute,
                                                       std::span<const std::uint8_t> payload) {
        // IFA_LOCAL is this end of a point-to-point link; IFA_ADDRESS the
        // other end there, and this end everywhere else.
        const bool wanted = attribute == IFA_LOCAL || (attribute == IFA_ADDRESS && !found);
        if (wanted && payload.size() >= size) {
            std::copy_n(payload.begin(), size, event.address.bytes.begin());
            found = true;
        }
    });
    if (!found) {
        return std::nullopt;
    }
    return event;
}

std::optional<NetEvent> parseRoute(std::uint16_t type, std::span<const std::uint8_t> body) {
    const auto info = readStruct<rtmsg>(body);
    if (!info || info->rtm_dst_len != 0 || info->rtm_type != RTN_UNICAST ||
        (info->rtm_family != AF_INET && info->rtm_family != AF_INET6)) {
        return std::nullopt;
    }
    std::uint32_t table = info->rtm_table;
    std::optional<std::uint32_t> linkIndex;
    std::uint32_t priority = 0;
    forEachAttribute(afterHeader<rtmsg>(body),
                     [&](std::uint16_t attribute, std::span<const std::uint8_t> payload) {
                         if (attribute == RTA_TABLE) {
                             table = readU32(payload).value_or(table);
                         } else if (attribute == RTA_OIF) {
                             linkIndex = readU32(payload);
                         } else if (attribute == RTA_PRIORITY) {
                             priority = readU32(payload).value_or(0);
                         } else if (attribute == RTA_MULTIPATH && !linkIndex) {
                             if (const auto hop = readStruct<rtnexthop>(payload)) {
                                 linkIndex = static_cast<std::uint32_t>(hop->rtnh_ifindex);
                             }
                         }
                     });
    if (table != RT_TABLE_MAIN || !linkIndex) {
        return std::nullopt;
    }
    NetEvent event;
    event.type = type == RTM_NEWROUTE ? NetEvent::Type::newRoute : NetEvent::Type::delRoute;
    event.route = DefaultRoute{info->rtm_family, static_cast<int>(*linkIndex), priority};
    return event;
}

}  // namespace

NetlinkBatch parseNetlink(std::span<const std::uint8_t> datagram, const LinkClassifier& classify) {
    NetlinkBatch batch;
    while (datagram.size() >= sizeof(nlmsghdr)) {
        const auto header = readStruct<nlmsghdr>(datagram);
        const std::size_t length = header->nlmsg_len;
        if (length < sizeof(nlmsghdr) || length > datagram.size()) {
            break;
        }
        const auto body = afterHeader<nlmsghdr>(datagram.first(length));
        std::optional<NetEvent> event;
        switch (header->nlmsg_type) {
            case NLMSG_DONE:
                batch.done = true;
                break;
            case NLMSG_ERROR:
                if (const auto error = readStruct<nlmsgerr>(body)) {
                    batch.error = -error->error;
                }
                break;
            case RTM_NEWLINK:
            case RTM_DELLINK:
                event = parseLink(header->nlmsg_type, body, classify);
                break;
            case RTM_NEWADDR:
            case RTM_DELADDR:
                event = parseAddress(header->nlmsg_type, body);
                break;
            case RTM_NEWROUTE:
            case RTM_DELROUTE:
                event = parseRoute(header->nlmsg_type, body);
                break;
            default:
                break;
        }
        if (event) {
            batch.events.push_back(std::move(*event));
        }
        datagram = datagram.subspan(std::min(align4(length), datagram.size()));
    }
    return batch;
}

}  // namespace platform::net
