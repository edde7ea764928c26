#pragma once

#include <atomic>
#include <thread>

#include "platform/net/NetlinkParser.h"
#include "platform/net/NetlinkSource.h"

namespace platform::net {

// The kernel's routing socket: a dump of links, addresses and routes, then their changes read
// on a thread of its own ("kavo.netlink"). A lost change (the socket's buffer overflowed)
// makes it take the whole picture again. The sockets belong to the network namespace of the
// thread that opens it.
class NetlinkSocketSource final : public NetlinkSource {
public:
    NetlinkSocketSource() = default;
    ~NetlinkSocketSource() override;
    NetlinkSocketSource(const NetlinkSocketSource&) = delete;
    NetlinkSocketSource& operator=(const NetlinkSocketSource&) = delete;

    Result<NetEvents> open(Sink sink) override;
    void close() override;

    // Wireless and modem interfaces from the hardware type, the link kind and sysfs.
    [[nodiscard]] static LinkKind classify(std::uint16_t hardwareType, std::string_view name,
                                           std::string_view linkKind);

private:
    void readChanges(Sink sink);

    int changes_ = -1;  // subscribed to the change groups
    int wake_ = -1;     // an eventfd that ends the reader
    std::thread reader_;
};

}  // namespace platform::net
