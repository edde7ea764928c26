#include "support/ClosingHttpServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include "support/RawHttp.h"

namespace testing_support {

ClosingHttpServer::ClosingHttpServer(std::string answer) : answer_(std::move(answer)) {
    listener_ = rawhttp::listenOnLoopback(port_);
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
        const std::string request = rawhttp::readRequestHead(connection);
        rawhttp::sendAll(connection, answer_ + request.substr(0, request.find("\r\n")));
        ++served_;
        ::close(connection);
    }
}

}  // namespace testing_support
