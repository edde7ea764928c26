#include "support/TricklingHttpServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "support/RawHttp.h"

namespace testing_support {

TricklingHttpServer::TricklingHttpServer(std::size_t length, std::chrono::milliseconds interval)
    : length_(length), interval_(interval) {
    listener_ = rawhttp::listenOnLoopback(port_);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { serve(); });
}

TricklingHttpServer::~TricklingHttpServer() {
    const std::uint64_t one = 1;
    (void)!::write(stop_, &one, sizeof one);
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
    ::close(stop_);
}

std::string TricklingHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TricklingHttpServer::serve() {
    while (true) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            return;
        }
        (void)rawhttp::readRequestHead(connection);
        const bool goOn = trickle(connection);
        ::close(connection);
        if (!goOn) {
            return;
        }
    }
}

bool TricklingHttpServer::trickle(int connection) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: " +
        std::to_string(length_) + "\r\n\r\n";
    if (!rawhttp::sendAll(connection, head)) {
        return true;
    }
    for (std::size_t i = 0; i < length_; ++i) {
        if (!rawhttp::sendAll(connection, std::string(1, static_cast<char>('a' + i % 26)))) {
            return true;
        }
        ++sent_;
        // The pause between two bytes; the server's end or the client's leaving cut it short.
        pollfd waits[2] = {{stop_, POLLIN, 0}, {connection, POLLIN | POLLRDHUP, 0}};
        const int ready = ::poll(waits, 2, static_cast<int>(interval_.count()));
        if (ready > 0 && (waits[0].revents & POLLIN) != 0) {
            return false;
        }
        if (ready > 0 && (waits[1].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLIN)) != 0) {
            return true;
        }
    }
    return true;
}

}  // namespace testing_support
