#include "platform/net/RecordingProxySockets.h"

#include <algorithm>

namespace platform::net {

SocketHandle RecordingProxySockets::open(std::string host, std::uint16_t port) {
    const SocketHandle handle = nextHandle_++;
    Connection& connection = connections_[handle];
    connection.host = std::move(host);
    connection.port = port;
    return handle;
}

void RecordingProxySockets::write(SocketHandle socket, std::span<const std::uint8_t> bytes) {
    if (Connection* connection = live(socket)) {
        connection->written.insert(connection->written.end(), bytes.begin(), bytes.end());
    }
}

void RecordingProxySockets::setReading(SocketHandle socket, bool reading) {
    if (Connection* connection = live(socket)) {
        connection->reading = reading;
    }
}

void RecordingProxySockets::close(SocketHandle socket) {
    if (Connection* connection = live(socket)) {
        connection->closedByUser = true;
        connection->gone = true;
    }
}

void RecordingProxySockets::runTasks() {
    while (!tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        task();
    }
}

void RecordingProxySockets::advance(double seconds) {
    const double target = now_ + seconds;
    runTasks();
    while (!delayed_.empty() && delayed_.begin()->first <= target) {
        now_ = std::max(now_, delayed_.begin()->first);
        auto task = std::move(delayed_.begin()->second);
        delayed_.erase(delayed_.begin());
        task();
        runTasks();
    }
    now_ = target;
}

bool RecordingProxySockets::deliverOpened(SocketHandle socket) {
    Connection* connection = live(socket);
    if (connection == nullptr || connection->opened || observer_ == nullptr) {
        return false;
    }
    connection->opened = true;
    observer_->socketOpened(socket);
    return true;
}

bool RecordingProxySockets::deliverReceived(SocketHandle socket,
                                            std::span<const std::uint8_t> bytes) {
    Connection* connection = live(socket);
    if (connection == nullptr || !connection->opened || !connection->reading ||
        observer_ == nullptr || bytes.empty()) {
        return false;
    }
    observer_->socketReceived(socket, bytes);
    return true;
}

bool RecordingProxySockets::deliverClosed(SocketHandle socket, std::optional<Error> why) {
    Connection* connection = live(socket);
    if (connection == nullptr || observer_ == nullptr) {
        return false;
    }
    connection->gone = true;
    observer_->socketClosed(socket, std::move(why));
    return true;
}

const RecordingProxySockets::Connection* RecordingProxySockets::connection(
    SocketHandle socket) const {
    const auto found = connections_.find(socket);
    return found == connections_.end() ? nullptr : &found->second;
}

std::size_t RecordingProxySockets::liveCount() const {
    std::size_t count = 0;
    for (const auto& [handle, connection] : connections_) {
        count += connection.gone ? 0 : 1;
    }
    return count;
}

RecordingProxySockets::Connection* RecordingProxySockets::live(SocketHandle socket) {
    const auto found = connections_.find(socket);
    return found == connections_.end() || found->second.gone ? nullptr : &found->second;
}

}  // namespace platform::net
