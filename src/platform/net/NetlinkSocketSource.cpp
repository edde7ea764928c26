#include "platform/net/NetlinkSocketSource.h"

#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/foundation/LogSink.h"

namespace platform::net {

namespace {

constexpr const char* kErrorDomain = "platform.net";
// Large enough for any datagram the kernel sends on a routing socket.
constexpr std::size_t kDatagramSize = 32 * 1024;
constexpr unsigned kChangeGroups =
    RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
// ARPHRD_RAWIP, which older headers lack: cellular modems without an Ethernet framing.
constexpr std::uint16_t kRawIpHardware = 519;

Error systemError(std::string_view what) {
    return Error{kErrorDomain, errno, std::string(what) + ": " + std::strerror(errno)};
}

Result<int> openSocket(unsigned groups) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return systemError("cannot open a routing socket");
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const Error error = systemError("cannot bind a routing socket");
        ::close(fd);
        return error;
    }
    return fd;
}

// Asks for every object of one kind and reads the answer to its end.
Result<void> dump(int fd, std::uint16_t type, NetEvents& into) {
    struct {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = type;
    request.body.rtgen_family = AF_UNSPEC;
    if (::send(fd, &request, sizeof request, 0) < 0) {
        return systemError("cannot ask the routing socket");
    }
    std::array<std::uint8_t, kDatagramSize> buffer{};
    for (;;) {
        const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            return systemError("cannot read the routing socket");
        }
        auto batch = parseNetlink(std::span(buffer).first(static_cast<std::size_t>(received)),
                                  NetlinkSocketSource::classify);
        into.insert(into.end(), batch.events.begin(), batch.events.end());
        if (batch.error != 0) {
            errno = batch.error;
            return systemError("the routing socket refused a dump");
        }
        if (batch.done) {
            return {};
        }
    }
}

Result<NetEvents> takePicture() {
    auto fd = openSocket(0);
    if (!fd) {
        return fd.error();
    }
    NetEvents picture{NetEvent{}};  // a reset first: the picture replaces what was known
    Result<void> done;
    for (const std::uint16_t type : {RTM_GETLINK, RTM_GETADDR, RTM_GETROUTE}) {
        done = dump(*fd, type, picture);
        if (!done) {
            break;
        }
    }
    ::close(*fd);
    if (!done) {
        return done.error();
    }
    return picture;
}

std::string sysfsDeviceType(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") {
        return {};
    }
    std::ifstream uevent("/sys/class/net/" + std::string(name) + "/uevent");
    std::string line;
    while (std::getline(uevent, line)) {
        if (line.starts_with("DEVTYPE=")) {
            return line.substr(8);
        }
    }
    return {};
}

}  // namespace

LinkKind NetlinkSocketSource::classify(std::uint16_t hardwareType, std::string_view name,
                                       std::string_view linkKind) {
    if (hardwareType == ARPHRD_LOOPBACK) {
        return LinkKind::loopback;
    }
    if (hardwareType == ARPHRD_PPP || hardwareType == kRawIpHardware || linkKind == "wwan") {
        return LinkKind::modem;
    }
    if (hardwareType == ARPHRD_IEEE80211 || hardwareType == ARPHRD_IEEE80211_RADIOTAP) {
        return LinkKind::wireless;
    }
    if (hardwareType == ARPHRD_ETHER || hardwareType == ARPHRD_NONE) {
        // sysfs shows the namespace it was mounted in; a link it does not know is wired.
        const std::string type = sysfsDeviceType(name);
        if (type == "wlan") {
            return LinkKind::wireless;
        }
        if (type == "wwan") {
            return LinkKind::modem;
        }
        return hardwareType == ARPHRD_ETHER ? LinkKind::wired : LinkKind::other;
    }
    return LinkKind::other;
}

NetlinkSocketSource::~NetlinkSocketSource() {
    close();
}

Result<NetEvents> NetlinkSocketSource::open(Sink sink) {
    close();
    auto changes = openSocket(kChangeGroups);
    if (!changes) {
        return changes.error();
    }
    auto picture = takePicture();
    if (!picture) {
        ::close(*changes);
        return picture.error();
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) {
        const Error error = systemError("cannot make an eventfd");
        ::close(*changes);
        return error;
    }
    changes_ = *changes;
    reader_ = std::thread([this, sink = std::move(sink)] { readChanges(sink); });
    return picture;
}

void NetlinkSocketSource::close() {
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
        reader_.join();
    }
    for (int* fd : {&changes_, &wake_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void NetlinkSocketSource::readChanges(Sink sink) {
    pthread_setname_np(pthread_self(), "kavo.netlink");
    std::array<std::uint8_t, kDatagramSize> buffer{};
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{changes_, POLLIN, 0}, pollfd{wake_, POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            PLATFORM_LOG_ERROR("netlink: poll failed: ", std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const ssize_t received = ::recv(changes_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            if (errno != ENOBUFS) {
                PLATFORM_LOG_ERROR("netlink: cannot read changes: ", std::strerror(errno));
                return;
            }
            // Changes were dropped: only a new picture tells what is there now.
            PLATFORM_LOG_WARN("netlink: changes lost, taking the picture again");
            auto picture = takePicture();
            if (picture) {
                sink(std::move(*picture));
            }
            continue;
        }
        auto batch =
            parseNetlink(std::span(buffer).first(static_cast<std::size_t>(received)), classify);
        if (!batch.events.empty()) {
            sink(std::move(batch.events));
        }
    }
}

}  // namespace platform::net
