#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/net/ProxyDestinations.h"
#include "platform/net/ProxySockets.h"

namespace platform::net {

// ProxySockets over non-blocking sockets and poll on a thread of its own; host names are
// looked up on a few resolver threads beside it. Every address is judged by the destinations
// before it is tried; a host with none left fails as a refused connection does. The destructor
// stops both, closing every socket (it waits for a lookup in progress).
class PollProxySockets final : public ProxySockets {
public:
    struct Options {
        // At most this much per read; each read is one socketReceived.
        std::size_t readSize = 32678;
        HostResolver resolve = systemHostResolver();
        std::string threadName = "kavo.proxy";
        ProxyDestinations destinations;
    };

    PollProxySockets();
    explicit PollProxySockets(Options options);
    ~PollProxySockets() override;
    PollProxySockets(const PollProxySockets&) = delete;
    PollProxySockets& operator=(const PollProxySockets&) = delete;

    void setObserver(ProxySocketObserver* observer) override;
    void post(std::function<void()> task) override;
    SocketHandle open(std::string host, std::uint16_t port) override;
    void write(SocketHandle socket, std::span<const std::uint8_t> bytes) override;
    void setReading(SocketHandle socket, bool reading) override;
    void close(SocketHandle socket) override;

    // CPU time the I/O thread has used so far, in seconds; from any thread.
    [[nodiscard]] double ioThreadCpuSeconds() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform::net
