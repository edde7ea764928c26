#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"

namespace platform::net {

// One outgoing TCP connection of the sockets below; never reused.
using SocketHandle = std::uint64_t;

// Hears the sockets, on their I/O thread, always after the call that caused the event returned.
class ProxySocketObserver {
public:
    virtual ~ProxySocketObserver() = default;
    virtual void socketOpened(SocketHandle socket) = 0;
    virtual void socketReceived(SocketHandle socket, std::span<const std::uint8_t> bytes) = 0;
    // The socket is gone and hears nothing more: the server ended its stream (no error), or
    // the lookup, the connection, a read or a write failed.
    virtual void socketClosed(SocketHandle socket, std::optional<Error> why) = 0;
};

// Outgoing TCP connections served by one I/O thread, which also runs the tasks posted to it.
// Everything but post is called on that thread (from a task or an observer callback).
class ProxySockets {
public:
    virtual ~ProxySockets() = default;

    // Before the first task is posted.
    virtual void setObserver(ProxySocketObserver* observer) = 0;
    // Runs task on the I/O thread, in the order posted; from any thread.
    virtual void post(std::function<void()> task) = 0;
    // Seconds on the clock that times what waits on the I/O thread.
    [[nodiscard]] virtual double now() const = 0;
    // Runs task on the I/O thread once that clock has moved on by `seconds`. On the I/O thread
    // only, like everything but post (a debug build stops the program otherwise).
    virtual void postAfter(double seconds, std::function<void()> task) = 0;

    // Looks the host up (off the I/O thread) and connects to the port.
    virtual SocketHandle open(std::string host, std::uint16_t port) = 0;
    // Kept in order and written once the socket is open, as fast as the peer takes them. What
    // waits is bounded: bytes beyond the bound fail the socket instead.
    virtual void write(SocketHandle socket, std::span<const std::uint8_t> bytes) = 0;
    // While off, nothing is read from the socket and the peer slows down.
    virtual void setReading(SocketHandle socket, bool reading) = 0;
    // No more events; what was written still goes out before the socket is closed, for a
    // while at most.
    virtual void close(SocketHandle socket) = 0;
};

// Numeric addresses ("127.0.0.1", "::1") of a host name; none when it is unknown. Called off
// the I/O thread, where it may block.
using HostResolver = std::function<std::vector<std::string>(const std::string& host)>;

// The system's resolver (getaddrinfo).
[[nodiscard]] HostResolver systemHostResolver();

}  // namespace platform::net
