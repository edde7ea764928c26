#include <gtest/gtest.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <vector>

#include "platform/net/NetlinkParser.h"

namespace {

using platform::net::LinkKind;
using platform::net::NetEvent;

// Builds datagrams as the kernel lays them out: headers and attributes padded to four bytes.
class Datagram {
public:
    template <typename Body>
    Datagram& message(std::uint16_t type, const Body& body) {
        start_ = bytes_.size();
        nlmsghdr header{};
        header.nlmsg_type = type;
        append(&header, sizeof header);
        append(&body, sizeof body);
        return *this;
    }
    Datagram& attribute(std::uint16_t type, const void* data, std::size_t size) {
        rtattr header{};
        header.rta_len = static_cast<unsigned short>(sizeof header + size);
        header.rta_type = type;
        append(&header, sizeof header);
        append(data, size);
        return *this;
    }
    Datagram& u32(std::uint16_t type, std::uint32_t value) {
        return attribute(type, &value, sizeof value);
    }
    // Closes the message: its length covers everything since it started.
    Datagram& end() {
        const auto length = static_cast<std::uint32_t>(bytes_.size() - start_);
        std::memcpy(bytes_.data() + start_, &length, sizeof length);
        return *this;
    }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    void append(const void* data, std::size_t size) {
        const auto* from = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), from, from + size);
        bytes_.resize((bytes_.size() + 3) & ~std::size_t{3}, 0);
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t start_ = 0;
};

LinkKind wiredUnlessLoopback(std::uint16_t type, std::string_view, std::string_view kind) {
    if (kind == "wwan") {
        return LinkKind::modem;
    }
    return type == ARPHRD_LOOPBACK ? LinkKind::loopback : LinkKind::wired;
}

Datagram linkAddressAndRoutes() {
    Datagram datagram;
    ifinfomsg link{};
    link.ifi_index = 7;
    link.ifi_type = ARPHRD_ETHER;
    link.ifi_flags = IFF_UP | IFF_RUNNING;
    datagram.message(RTM_NEWLINK, link).attribute(IFLA_IFNAME, "eth7", 5).end();

    ifaddrmsg address{};
    address.ifa_family = AF_INET;
    address.ifa_index = 7;
    address.ifa_prefixlen = 24;
    const std::uint8_t bytes[4] = {10, 1, 2, 3};
    datagram.message(RTM_NEWADDR, address).attribute(IFA_ADDRESS, bytes, 4).end();

    rtmsg route{};
    route.rtm_family = AF_INET;
    route.rtm_table = RT_TABLE_MAIN;
    route.rtm_type = RTN_UNICAST;
    datagram.message(RTM_NEWROUTE, route).u32(RTA_OIF, 7).u32(RTA_PRIORITY, 100).end();
    // Not default routes: a prefix route, and a default route of another table.
    rtmsg prefix = route;
    prefix.rtm_dst_len = 24;
    datagram.message(RTM_NEWROUTE, prefix).u32(RTA_OIF, 7).end();
    datagram.message(RTM_NEWROUTE, route).u32(RTA_OIF, 7).u32(RTA_TABLE, 100).end();
    return datagram;
}

TEST(NetlinkParserTest, ReadsLinksAddressesAndDefaultRoutes) {
    auto datagram = linkAddressAndRoutes();
    const auto batch = platform::net::parseNetlink(datagram.bytes(), wiredUnlessLoopback);
    ASSERT_EQ(batch.events.size(), 3u);
    EXPECT_EQ(batch.events[0].type, NetEvent::Type::newLink);
    EXPECT_EQ(batch.events[0].link.name, "eth7");
    EXPECT_EQ(batch.events[0].link.kind, LinkKind::wired);
    EXPECT_TRUE(batch.events[0].link.up);
    EXPECT_EQ(batch.events[1].address.prefixLength, 24);
    EXPECT_EQ(batch.events[1].address.bytes[3], 3);
    EXPECT_EQ(batch.events[2].route, (platform::net::DefaultRoute{AF_INET, 7, 100}));
}

TEST(NetlinkParserTest, NeverReadsPastWhatWasReceived) {
    const auto whole = linkAddressAndRoutes().bytes();
    // Every cut of the datagram parses without reading beyond it (the sanitizers watch), and
    // yields only whole messages.
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + size);
        const auto batch = platform::net::parseNetlink(cut, wiredUnlessLoopback);
        EXPECT_LE(batch.events.size(), 3u);
    }
    // A message claiming more than the datagram holds ends the reading.
    auto lying = linkAddressAndRoutes().bytes();
    const std::uint32_t huge = 1u << 30;
    std::memcpy(lying.data(), &huge, sizeof huge);
    EXPECT_TRUE(platform::net::parseNetlink(lying, wiredUnlessLoopback).events.empty());
}

TEST(NetlinkParserTest, DoneErrorsAndModemLinks) {
    Datagram datagram;
    ifinfomsg link{};
    link.ifi_index = 9;
    link.ifi_type = ARPHRD_NONE;
    const char kind[] = "wwan";
    datagram.message(RTM_NEWLINK, link);
    // IFLA_LINKINFO nests IFLA_INFO_KIND.
    std::vector<std::uint8_t> nested(sizeof(rtattr) + 8, 0);
    rtattr inner{static_cast<unsigned short>(sizeof(rtattr) + sizeof kind), IFLA_INFO_KIND};
    std::memcpy(nested.data(), &inner, sizeof inner);
    std::memcpy(nested.data() + sizeof inner, kind, sizeof kind);
    datagram.attribute(IFLA_LINKINFO, nested.data(), nested.size()).end();
    nlmsgerr error{};
    error.error = -EPERM;
    datagram.message(NLMSG_ERROR, error).end();
    datagram.message(NLMSG_DONE, 0).end();

    const auto batch = platform::net::parseNetlink(datagram.bytes(), wiredUnlessLoopback);
    ASSERT_EQ(batch.events.size(), 1u);
    EXPECT_EQ(batch.events[0].link.kind, LinkKind::modem);
    EXPECT_FALSE(batch.events[0].link.up);
    EXPECT_EQ(batch.error, EPERM);
    EXPECT_TRUE(batch.done);
}

}  // namespace
