#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/ProxySockets.h"

namespace platform::net {

// ProxySockets without a thread or a network: posted tasks wait until runTasks, delayed ones
// until advance moves the virtual clock past them, every call is recorded, and the test (or a
// fuzz input) says what the network does through the deliver calls, which check that the
// socket can hear that event.
class RecordingProxySockets final : public ProxySockets {
public:
    struct Connection {
        std::string host;
        std::uint16_t port = 0;
        bool opened = false;
        bool closedByUser = false;  // close() was called
        bool gone = false;          // closed either way; no more events
        bool reading = true;
        std::vector<std::uint8_t> written;
    };

    void setObserver(ProxySocketObserver* observer) override { observer_ = observer; }
    void post(std::function<void()> task) override { tasks_.push_back(std::move(task)); }
    [[nodiscard]] double now() const override { return now_; }
    void postAfter(double seconds, std::function<void()> task) override {
        delayed_.emplace(now_ + seconds, std::move(task));
    }
    SocketHandle open(std::string host, std::uint16_t port) override;
    void write(SocketHandle socket, std::span<const std::uint8_t> bytes) override;
    void setReading(SocketHandle socket, bool reading) override;
    void close(SocketHandle socket) override;

    // Runs the posted tasks, those they post included.
    void runTasks();
    // Moves the clock on, running each delayed task at its time and the posted tasks after it.
    void advance(double seconds);

    // Events from the network; false (and nothing heard) when the socket cannot have them.
    bool deliverOpened(SocketHandle socket);
    bool deliverReceived(SocketHandle socket, std::span<const std::uint8_t> bytes);
    bool deliverClosed(SocketHandle socket, std::optional<Error> why = std::nullopt);

    [[nodiscard]] const std::map<SocketHandle, Connection>& connections() const {
        return connections_;
    }
    [[nodiscard]] const Connection* connection(SocketHandle socket) const;
    // Sockets neither closed nor failed.
    [[nodiscard]] std::size_t liveCount() const;
    [[nodiscard]] SocketHandle lastHandle() const { return nextHandle_ - 1; }

private:
    Connection* live(SocketHandle socket);

    ProxySocketObserver* observer_ = nullptr;
    std::deque<std::function<void()>> tasks_;
    double now_ = 0;
    std::multimap<double, std::function<void()>> delayed_;
    std::map<SocketHandle, Connection> connections_;
    SocketHandle nextHandle_ = 1;
};

}  // namespace platform::net
