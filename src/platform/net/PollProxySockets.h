#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/net/ProxyDestinations.h"
#include "platform/net/ProxySockets.h"

namespace platform::net {

// ProxySockets over non-blocking sockets and poll on a thread of its own; host names are
// looked up on a few resolver threads beside it. Every address is judged by the destinations
// before it is tried; a host with none left fails as a refused connection does. What a socket
// holds is bounded: bytes waiting for the server, the time a closed socket may take to write
// them, and the number of sockets. The destructor closes every socket and returns at once: a
// lookup in progress is left to end on its own, and its answer is dropped.
class PollProxySockets final : public ProxySockets {
public:
    struct Options {
        // At most this much per read; each read is one socketReceived.
        std::size_t readSize = 32678;
        HostResolver resolve = systemHostResolver();
        std::string threadName = "kavo.proxy";
        ProxyDestinations destinations{};
        // Bytes that may wait to be written to one socket; more fails it.
        std::size_t maxWaitingBytes = std::size_t{1} << 20;
        // Sockets at once, those still writing after their close included. At the bound a
        // new socket takes the place of the one that has been closing longest, else fails.
        std::size_t maxSockets = 320;
        // Seconds a closed socket may take to write what waits before it is dropped.
        double drainTimeout = 10;
        // The deadlines' clock in seconds: the steady clock unless a test gives its loop's.
        // A test that moves its clock posts a task to have the deadlines looked at.
        std::function<double()> clock{};
    };

    PollProxySockets();
    explicit PollProxySockets(Options options);
    ~PollProxySockets() override;
    PollProxySockets(const PollProxySockets&) = delete;
    PollProxySockets& operator=(const PollProxySockets&) = delete;

    void setObserver(ProxySocketObserver* observer) override;
    void post(std::function<void()> task) override;
    [[nodiscard]] double now() const override;
    void postAfter(double seconds, std::function<void()> task) override;
    SocketHandle open(std::string host, std::uint16_t port) override;
    void write(SocketHandle socket, std::span<const std::uint8_t> bytes) override;
    void setReading(SocketHandle socket, bool reading) override;
    void close(SocketHandle socket) override;

    // Sockets resolving, connecting, open or still writing after their close; on the I/O
    // thread.
    [[nodiscard]] std::size_t socketCount() const;

    // CPU time the I/O thread has used so far, in seconds; from any thread.
    [[nodiscard]] double ioThreadCpuSeconds() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform::net
