#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace testing_support {

// A server on 127.0.0.1 that answers every connection, once the request's head has arrived,
// with the same bytes followed by the request line it got, and then closes it: a response that
// ends where the connection does. Connections are served one after the other.
class ClosingHttpServer {
public:
    explicit ClosingHttpServer(std::string answer);
    ~ClosingHttpServer();
    ClosingHttpServer(const ClosingHttpServer&) = delete;
    ClosingHttpServer& operator=(const ClosingHttpServer&) = delete;

    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] int served() const { return served_.load(); }

private:
    void serve();

    const std::string answer_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<int> served_{0};
    std::thread thread_;
};

}  // namespace testing_support
