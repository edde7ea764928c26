#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace testing_support {

// A server on 127.0.0.1 that answers every connection with a 200 announcing `length` bytes,
// then sends them one at a time, one each `interval`, until the body is out, the client has
// gone or the server ends. Connections are served one after the other.
class TricklingHttpServer {
public:
    TricklingHttpServer(std::size_t length, std::chrono::milliseconds interval);
    ~TricklingHttpServer();
    TricklingHttpServer(const TricklingHttpServer&) = delete;
    TricklingHttpServer& operator=(const TricklingHttpServer&) = delete;

    // "http://127.0.0.1:<port>" followed by the path.
    [[nodiscard]] std::string url(const std::string& path) const;
    // Body bytes sent so far, over every connection.
    [[nodiscard]] std::size_t sent() const { return sent_.load(); }

private:
    void serve();
    // Sends the body; false once the server ends.
    bool trickle(int connection);

    const std::size_t length_;
    const std::chrono::milliseconds interval_;
    int listener_ = -1;
    int port_ = 0;
    // Written on the server's end, so that a wait between two bytes ends at once.
    int stop_ = -1;
    std::atomic<std::size_t> sent_{0};
    std::thread thread_;
};

}  // namespace testing_support
