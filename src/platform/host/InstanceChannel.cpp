#include "platform/host/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/foundation/LogSink.h"
#include "platform/foundation/RunLoop.h"

namespace platform {
namespace {

constexpr const char* kDomain = "kavo.instance";
enum Code : long {
    kNoPath = 1,
    kNoListener = 2,
    kBadText = 3,
    kRefused = 4,
    kNoAnswer = 5,
    kSystem = 6,
    kTaken = 7,
};

// A message is this byte, then the text, then the end of the stream: a bare connection (a
// start probing for a live listener) carries nothing and is no message.
constexpr char kMessage = 'M';
constexpr char kAccepted = 0x06;
constexpr char kRefusedByte = 0x15;

constexpr std::size_t kMaxPath = sizeof(sockaddr_un{}.sun_path) - 1;

Error systemError(long code, const std::string& what) {
    return Error{kDomain, code, what + ": " + std::strerror(errno)};
}

// A socket descriptor closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

sockaddr_un addressOf(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    std::memcpy(address.sun_path, text.data(), text.size());
    return address;
}

Result<void> checkPath(const std::filesystem::path& path) {
    if (path.empty()) {
        return Error{kDomain, kNoPath, "no folder gives the instance channel a short enough path"};
    }
    if (path.string().size() > kMaxPath) {
        return Error{kDomain, kNoPath,
                     "the instance channel's path is longer than a socket address: " +
                         path.string()};
    }
    return {};
}

int connectTo(const std::filesystem::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    const sockaddr_un address = addressOf(path);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, at least 0.
int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

Clock::time_point deadlineIn(double seconds) {
    return Clock::now() + std::chrono::microseconds(static_cast<std::int64_t>(seconds * 1e6));
}

// Whether fd is ready for events before deadline.
bool readyBefore(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd ready{fd, events, 0};
        const int polled = ::poll(&ready, 1, msLeft(deadline));
        if (polled >= 0 || errno != EINTR) {
            return polled > 0;
        }
    }
}

// 64-bit FNV-1a: stable across builds and runs, unlike std::hash.
std::uint64_t stableHash(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// The listening end: a socket, the thread that serves it, and a pipe that wakes the thread to
// end.
class ListeningChannel final : public InstanceChannel {
public:
    ListeningChannel(Fd socket, std::filesystem::path path, ino_t inode, RunLoop& loop,
                     Received received, Fd wakeRead, Fd wakeWrite)
        : socket_(std::move(socket)),
          path_(std::move(path)),
          inode_(inode),
          loop_(loop),
          received_(std::make_shared<Received>(std::move(received))),
          wakeRead_(std::move(wakeRead)),
          wakeWrite_(std::move(wakeWrite)) {
        thread_ = std::thread([this] { serve(); });
    }

    ~ListeningChannel() override {
        *alive_ = false;
        const char stop = 0;
        [[maybe_unused]] const auto written = ::write(wakeWrite_.get(), &stop, 1);
        thread_.join();
        // Only the socket this channel made: a later program may have replaced it.
        struct stat now {};
        if (::lstat(path_.c_str(), &now) == 0 && now.st_ino == inode_) {
            ::unlink(path_.c_str());
        }
    }

    ListeningChannel(const ListeningChannel&) = delete;
    ListeningChannel& operator=(const ListeningChannel&) = delete;

private:
    void serve() {
        for (;;) {
            pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                PLATFORM_LOG_WARN("InstanceChannel: stops listening: ", std::strerror(errno));
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                Fd peer(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
                if (peer.get() >= 0 && !servePeer(peer.get())) {
                    return;
                }
            }
        }
    }

    // One peer, at most kTimeout; false when the channel is ending.
    bool servePeer(int peer) {
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (::getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
            credentials.uid != ::geteuid()) {
            PLATFORM_LOG_WARN("InstanceChannel: refused a peer of another user");
            return true;
        }
        std::string frame;
        const auto deadline = deadlineIn(kTimeout);
        char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{peer, POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
            const int ready = ::poll(fds, 2, msLeft(deadline));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (fds[1].revents != 0) {
                return false;
            }
            if (ready <= 0) {
                PLATFORM_LOG_WARN("InstanceChannel: a peer sent no whole text in time");
                return true;
            }
            const ssize_t got = ::read(peer, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            // Bounded by what this text may be, not by what the peer sends.
            if (frame.size() + static_cast<std::size_t>(got) > kMaxText + 1) {
                PLATFORM_LOG_WARN("InstanceChannel: refused a text of more than ", kMaxText,
                                  " bytes");
                answer(peer, kRefusedByte);
                return true;
            }
            frame.append(buffer, static_cast<std::size_t>(got));
        }
        if (frame.empty()) {
            return true;  // a probe
        }
        if (frame.front() != kMessage || frame.find('\0') != std::string::npos) {
            PLATFORM_LOG_WARN("InstanceChannel: refused a malformed text");
            answer(peer, kRefusedByte);
            return true;
        }
        loop_.post([alive = alive_, received = received_, text = frame.substr(1)]() mutable {
            if (*alive && *received) {
                (*received)(std::move(text));
            }
        });
        answer(peer, kAccepted);
        return true;
    }

    static void answer(int peer, char byte) {
        [[maybe_unused]] const auto sent = ::send(peer, &byte, 1, MSG_NOSIGNAL);
    }

    Fd socket_;
    const std::filesystem::path path_;
    const ino_t inode_;
    RunLoop& loop_;
    // Read on the loop's thread by the tasks this channel posts, which may outlive it.
    const std::shared_ptr<Received> received_;
    const std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    Fd wakeRead_;
    Fd wakeWrite_;
    std::thread thread_;
};

// Binds socket to path, replacing a socket nobody listens on any more.
Result<void> bindReplacingStale(int socket, const std::filesystem::path& path) {
    const sockaddr_un address = addressOf(path);
    const auto bindOnce = [&] {
        return ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    };
    if (bindOnce()) {
        return {};
    }
    if (errno != EADDRINUSE) {
        return systemError(kSystem, "cannot bind the instance channel at " + path.string());
    }
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0 || !S_ISSOCK(existing.st_mode)) {
        return Error{kDomain, kTaken,
                     "something that is no socket lies at the instance channel's place " +
                         path.string()};
    }
    const int probe = connectTo(path);
    if (probe >= 0) {
        ::close(probe);
        return Error{kDomain, kTaken, "another program listens at " + path.string()};
    }
    if (errno != ECONNREFUSED) {
        return systemError(kTaken, "cannot tell whether a program listens at " + path.string());
    }
    // Left by a program that died.
    ::unlink(path.c_str());
    if (!bindOnce()) {
        return systemError(kSystem, "cannot bind the instance channel at " + path.string());
    }
    return {};
}

}  // namespace

std::filesystem::path InstanceChannel::pathFor(const std::filesystem::path& home) {
    // One home, one name, however it is spelt ("/home/a/." or "/home/a/").
    std::string spelt = home.lexically_normal().string();
    while (spelt.size() > 1 && spelt.back() == '/') {
        spelt.pop_back();
    }
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.sock",
                  static_cast<unsigned long long>(stableHash(spelt)));
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && std::filesystem::path(runtime).is_absolute()) {
        auto path = std::filesystem::path(runtime) / "kavomanager" / name;
        if (path.string().size() <= kMaxPath) {
            return path;
        }
    }
    auto path = home / ".kavomanager.sock";
    return path.string().size() <= kMaxPath ? path : std::filesystem::path();
}

Result<std::unique_ptr<InstanceChannel>> InstanceChannel::listen(
    const std::filesystem::path& path, RunLoop& loop, Received received) {
    if (auto checked = checkPath(path); !checked) {
        return checked.error();
    }
    // A folder of our own is made private; an existing one (the home) is the user's business.
    if (::mkdir(path.parent_path().c_str(), 0700) != 0 && errno != EEXIST) {
        return systemError(kSystem, "cannot make the folder of " + path.string());
    }
    Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0) {
        return systemError(kSystem, "no socket for the instance channel");
    }
    if (auto bound = bindReplacingStale(socket.get(), path); !bound) {
        return bound.error();
    }
    struct stat made {};
    ::lstat(path.c_str(), &made);
    if (::listen(socket.get(), 8) != 0) {
        ::unlink(path.c_str());
        return systemError(kSystem, "cannot listen at " + path.string());
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        ::unlink(path.c_str());
        return systemError(kSystem, "no pipe for the instance channel");
    }
    return std::unique_ptr<InstanceChannel>(
        std::make_unique<ListeningChannel>(std::move(socket), path, made.st_ino, loop,
                                           std::move(received), Fd(wake[0]), Fd(wake[1])));
}

Result<void> InstanceChannel::send(const std::filesystem::path& path, std::string_view text) {
    if (auto checked = checkPath(path); !checked) {
        return checked.error();
    }
    if (text.size() > kMaxText) {
        return Error{kDomain, kBadText,
                     "a text of " + std::to_string(text.size()) + " bytes is more than the " +
                         std::to_string(kMaxText) + " the running program takes"};
    }
    if (text.find('\0') != std::string_view::npos) {
        return Error{kDomain, kBadText, "a text with a NUL byte cannot be handed over"};
    }
    Fd peer(connectTo(path));
    if (peer.get() < 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            return Error{kDomain, kNoListener, "no program listens at " + path.string()};
        }
        return systemError(kNoListener, "cannot reach the program at " + path.string());
    }
    const auto deadline = deadlineIn(kTimeout);
    std::string frame(1, kMessage);
    frame.append(text);
    std::size_t written = 0;
    while (written < frame.size()) {
        if (!readyBefore(peer.get(), POLLOUT, deadline)) {
            return Error{kDomain, kNoAnswer, "the running program took no text in time"};
        }
        const ssize_t sent =
            ::send(peer.get(), frame.data() + written, frame.size() - written, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return systemError(kRefused, "the running program took no text");
        }
        written += static_cast<std::size_t>(sent);
    }
    ::shutdown(peer.get(), SHUT_WR);
    for (;;) {
        if (!readyBefore(peer.get(), POLLIN, deadline)) {
            return Error{kDomain, kNoAnswer, "the running program did not answer in time"};
        }
        char reply = 0;
        const ssize_t got = ::read(peer.get(), &reply, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got == 1 && reply == kAccepted) {
            return {};
        }
        return Error{kDomain, kRefused, "the running program refused the text"};
    }
}

}  // namespace platform
