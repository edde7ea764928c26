#include "support/ClosingHttpServer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testing_support {

ClosingHttpServer::ClosingHttpServer(std::string answer) : answer_(std::move(answer)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 512) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("ClosingHttpServer: cannot listen on the loopback");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

ClosingHttpServer::~ClosingHttpServer() {
    // Wakes the accept with an error.
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
}

void ClosingHttpServer::serve() {
    while (true) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            return;
        }
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(got));
        }
        const std::string answer = answer_ + request.substr(0, request.find("\r\n"));
        std::size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t wrote =
                ::send(connection, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (wrote <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(wrote);
        }
        ++served_;
        ::close(connection);
    }
}

}  // namespace testing_support
