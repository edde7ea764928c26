#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/bluetooth/Types.h"

namespace testing_support {

// One frame of the local-socket air: the length, least significant byte first, then the bytes.
inline platform::Bytes airFrame(const platform::Bytes& payload) {
    platform::Bytes out{static_cast<std::uint8_t>(payload.size() & 0xFF),
                        static_cast<std::uint8_t>(payload.size() >> 8)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

inline platform::Bytes airGreeting(const platform::bluetooth::Uuid& self) {
    constexpr std::array<std::uint8_t, 5> kOpening{'K', 'A', 'I', 'R', 1};
    const auto& identifier = self.bytes();
    // Sized once: growing it from the opening makes GCC 12 at -O2 see a copy out of bounds.
    platform::Bytes payload(kOpening.size() + identifier.size());
    std::copy(kOpening.begin(), kOpening.end(), payload.begin());
    std::copy(identifier.begin(), identifier.end(), payload.begin() + kOpening.size());
    return payload;
}

// A peer of the local-socket air written by hand on a blocking socket: what another program
// speaking the format does.
class RawPeer {
public:
    explicit RawPeer(const std::filesystem::path& socket) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = socket.string();
        std::copy(path.begin(), path.end(), address.sun_path);
        connected_ =
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    explicit RawPeer(int fd) : fd_(fd), connected_(true) {}
    ~RawPeer() { ::close(fd_); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool connected() const { return connected_; }
    // Reads that wait longer fail, so a peer that is never answered ends the test instead of
    // hanging it.
    void giveUpAfter(int seconds) {
        const timeval limit{seconds, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    void send(const platform::Bytes& bytes) { ASSERT_TRUE(trySend(bytes)); }
    // False once the other side is gone.
    bool trySend(const platform::Bytes& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    void sendFrame(const platform::Bytes& payload) { send(airFrame(payload)); }
    // Nothing at the end of the connection.
    std::optional<platform::Bytes> readFrame() {
        std::uint8_t header[2];
        if (!readExactly(header, 2)) {
            return std::nullopt;
        }
        platform::Bytes payload(header[0] | header[1] << 8);
        if (!readExactly(payload.data(), payload.size())) {
            return std::nullopt;
        }
        return payload;
    }
    // Greets and reads the answer.
    std::optional<platform::Bytes> greet(const platform::bluetooth::Uuid& self) {
        sendFrame(airGreeting(self));
        return readFrame();
    }
    // Reads (and forgets) everything until the other side ends the connection.
    bool closedByPeer() {
        std::uint8_t buffer[256];
        while (true) {
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count == 0) {
                return true;
            }
            if (count < 0) {
                return errno == ECONNRESET;
            }
        }
    }
    void shutdownWrites() { ::shutdown(fd_, SHUT_WR); }

private:
    bool readExactly(std::uint8_t* out, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t count = ::recv(fd_, out + done, size - done, 0);
            if (count <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(count);
        }
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
};

}  // namespace testing_support
