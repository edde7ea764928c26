#include "platform/bluetooth/socket/SocketLink.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "platform/bluetooth/AttPdu.h"
#include "platform/foundation/LogSink.h"

namespace platform::bluetooth {

namespace {

constexpr std::uint8_t kMagic[] = {'K', 'A', 'I', 'R'};
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kReadChunk = 4096;

Bytes frame(std::span<const std::uint8_t> payload) {
    Bytes out;
    out.reserve(payload.size() + 2);
    out.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::string systemText(int error) {
    return std::system_category().message(error);
}

void wake(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
}

}  // namespace

struct GreetingGate::State {
    explicit State(std::size_t capacity) : capacity(capacity) {}
    const std::size_t capacity;
    std::atomic<std::size_t> taken{0};
};

GreetingGate::Ticket::~Ticket() {
    if (state_) {
        state_->taken.fetch_sub(1);
    }
}

GreetingGate::GreetingGate(std::size_t capacity) : state_(std::make_shared<State>(capacity)) {}

std::optional<GreetingGate::Ticket> GreetingGate::enter() {
    std::size_t taken = state_->taken.load();
    do {
        if (taken >= state_->capacity) {
            return std::nullopt;
        }
    } while (!state_->taken.compare_exchange_weak(taken, taken + 1));
    return Ticket(state_);
}

SocketLink::SocketLink(Options options, Callbacks callbacks)
    : options_(options), callbacks_(std::move(callbacks)) {}

Result<std::unique_ptr<SocketLink>> SocketLink::connect(std::filesystem::path socket,
                                                        const Uuid& peer, Options options,
                                                        Callbacks callbacks) {
    std::unique_ptr<SocketLink> link(new SocketLink(options, std::move(callbacks)));
    link->outgoing_ = true;
    link->socketPath_ = std::move(socket);
    link->expectedPeer_ = peer;
    return start(std::move(link));
}

Result<std::unique_ptr<SocketLink>> SocketLink::accept(int fd, GreetingGate::Ticket ticket,
                                                       Options options, Callbacks callbacks) {
    std::unique_ptr<SocketLink> link(new SocketLink(options, std::move(callbacks)));
    link->fd_ = fd;
    link->ticket_.emplace(std::move(ticket));
    // The clock of the link's own waits: poll() and the condition variable's steady clock.
    link->greetingDue_ = std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(options.greetingTimeout));
    return start(std::move(link));
}

// Without descriptors or threads left the link is not made, and what it holds is closed.
Result<std::unique_ptr<SocketLink>> SocketLink::start(std::unique_ptr<SocketLink> link) {
    link->wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (link->wake_ < 0) {
        return makeError(ErrorCode::unknown, "eventfd: " + systemText(errno));
    }
    try {
        SocketLink* self = link.get();
        link->thread_ = std::thread([self] { self->run(); });
    } catch (const std::system_error& error) {
        return makeError(ErrorCode::unknown, std::string("thread: ") + error.what());
    }
    return link;
}

SocketLink::~SocketLink() {
    {
        std::lock_guard lock(mutex_);
        stop_.store(true);
    }
    stopSignal_.notify_all();
    if (wake_ >= 0) {
        wake(wake_);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

SendResult SocketLink::send(std::span<const std::uint8_t> pdu, bool flowControlled) {
    if (pdu.empty() || pdu.size() > att::kMaxMtu) {
        PLATFORM_LOG_WARN("Bluetooth air: not sending a PDU of ", pdu.size(), " bytes");
        return SendResult::refused;
    }
    SendResult result = SendResult::queued;
    {
        std::lock_guard lock(mutex_);
        if (!open_ || overflowed_) {
            return SendResult::refused;  // closing: the end is on its way to the owner
        }
        if (flowControlled && flowQueued_ >= options_.transmitQueueCapacity) {
            readyOwed_ = true;
            return SendResult::queueFull;
        }
        if (!flowControlled && output_.size() - flowQueued_ >= options_.answerQueueCapacity) {
            // The link thread ends the link: only it touches the socket.
            overflowed_ = true;
            result = SendResult::refused;
        } else {
            output_.push_back({frame(pdu), flowControlled});
            if (flowControlled) {
                ++flowQueued_;
            }
        }
    }
    wake(wake_);
    return result;
}

void SocketLink::run() {
    if (outgoing_) {
        if (!connectSocket()) {
            return;
        }
        queueHello();
    }
    serve();
    // An ended link keeps nothing but its wake-up descriptor until its owner takes it away.
    ticket_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SocketLink::connectSocket() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socketPath_.string();
    if (path.size() >= sizeof address.sun_path) {
        callbacks_.failed(makeError(ErrorCode::connectionFailed, "socket path too long"));
        return false;
    }
    std::copy(path.begin(), path.end(), address.sun_path);
    while (!stopping()) {
        // Non-blocking from the start: a full backlog answers EAGAIN instead of holding the
        // thread where no stop can reach it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            callbacks_.failed(makeError(ErrorCode::connectionFailed, systemText(errno)));
            return false;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            fd_ = fd;
            return true;
        }
        const int error = errno;
        ::close(fd);
        // Nobody listening yet is the normal case of a peer that is out of reach.
        if (error != ENOENT && error != ECONNREFUSED && error != EAGAIN && error != EINTR &&
            error != EINPROGRESS) {
            callbacks_.failed(makeError(ErrorCode::connectionFailed, systemText(error)));
            return false;
        }
        if (waitForStop(options_.retryInterval)) {
            return false;
        }
    }
    return false;
}

bool SocketLink::waitForStop(double seconds) {
    std::unique_lock lock(mutex_);
    return stopSignal_.wait_for(lock, std::chrono::duration<double>(seconds),
                                [this] { return stop_.load(); });
}

bool SocketLink::hasOutput() {
    std::lock_guard lock(mutex_);
    return !output_.empty();
}

bool SocketLink::overflowed() {
    std::lock_guard lock(mutex_);
    return overflowed_;
}

int SocketLink::pollTimeout() const {
    if (greeted_ || !greetingDue_) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        *greetingDue_ - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
}

void SocketLink::serve() {
    while (true) {
        const int timeout = pollTimeout();
        if (timeout == 0) {
            end(makeError(ErrorCode::connectionTimeout, "no greeting in time"),
                "no greeting in time");
            return;
        }
        pollfd fds[2] = {
            {fd_, static_cast<short>(POLLIN | (hasOutput() ? POLLOUT : 0)), 0},
            {wake_, POLLIN, 0},
        };
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            end(makeError(ErrorCode::unknown, systemText(errno)), "poll failed");
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto drained = ::read(wake_, &count, sizeof count);
        }
        if (stopping()) {
            // What was handed over before the end still goes out if the socket takes it now.
            writeAvailable();
            ::shutdown(fd_, SHUT_RDWR);
            return;
        }
        if (overflowed()) {
            end(makeError(ErrorCode::unknown, "the peer reads nothing"),
                "it reads nothing of what it is sent");
            return;
        }
        if ((fds[0].revents & POLLOUT) != 0) {
            writeAvailable();
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !readAvailable()) {
            return;
        }
    }
}

void SocketLink::writeAvailable() {
    bool notify = false;
    {
        std::lock_guard lock(mutex_);
        while (!output_.empty()) {
            Outgoing& front = output_.front();
            const ssize_t sent =
                ::send(fd_, front.frame.data() + writtenOfFront_,
                       front.frame.size() - writtenOfFront_, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0) {
                // A broken socket shows up on the reading side as well; it ends there.
                break;
            }
            writtenOfFront_ += static_cast<std::size_t>(sent);
            if (writtenOfFront_ < front.frame.size()) {
                break;
            }
            if (front.flowControlled) {
                --flowQueued_;
            }
            output_.pop_front();
            writtenOfFront_ = 0;
        }
        if (readyOwed_ && flowQueued_ < options_.transmitQueueCapacity) {
            readyOwed_ = false;
            notify = true;
        }
    }
    if (notify) {
        callbacks_.ready();
    }
}

bool SocketLink::readAvailable() {
    while (true) {
        std::uint8_t buffer[kReadChunk];
        const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
        if (count > 0) {
            input_.insert(input_.end(), buffer, buffer + count);
            if (!parseFrames()) {
                return false;
            }
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        const std::string why = count == 0 ? "the peer closed the connection" : systemText(errno);
        if (!input_.empty()) {
            PLATFORM_LOG_WARN("Bluetooth air: dropping peer ", peer_.toString(),
                              ": truncated frame (", input_.size(), " of its bytes)");
        }
        end(makeError(greeted_ ? ErrorCode::peripheralDisconnected : ErrorCode::connectionFailed,
                      why),
            nullptr);
        return false;
    }
    return true;
}

bool SocketLink::parseFrames() {
    std::size_t position = 0;
    while (input_.size() - position >= 2) {
        const std::size_t length = input_[position] | input_[position + 1] << 8;
        if (!greeted_ && length != kHelloLength) {
            end(makeError(ErrorCode::connectionFailed, "no greeting"),
                "a first frame that is no greeting");
            return false;
        }
        if (length == 0 || length > att::kMaxMtu) {
            end(makeError(ErrorCode::unknown, "frame length out of bounds"),
                "a frame length out of bounds");
            return false;
        }
        if (input_.size() - position - 2 < length) {
            break;
        }
        const std::span<const std::uint8_t> payload(input_.data() + position + 2, length);
        position += 2 + length;
        if (!greeted_) {
            if (!acceptHello(payload)) {
                return false;
            }
        } else {
            callbacks_.received(Bytes(payload.begin(), payload.end()));
        }
    }
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(position));
    return true;
}

bool SocketLink::acceptHello(std::span<const std::uint8_t> payload) {
    if (!std::equal(std::begin(kMagic), std::end(kMagic), payload.begin()) ||
        payload[4] != kVersion) {
        end(makeError(ErrorCode::connectionFailed, "bad greeting"), "a bad greeting");
        return false;
    }
    std::array<std::uint8_t, 16> identifier{};
    std::copy(payload.begin() + 5, payload.end(), identifier.begin());
    const Uuid peer = Uuid::fromBytes(identifier);
    if (expectedPeer_ && peer != *expectedPeer_) {
        end(makeError(ErrorCode::connectionFailed, "greeted by another device"),
            "a greeting from another device");
        return false;
    }
    peer_ = peer;
    greeted_ = true;
    ticket_.reset();
    if (!outgoing_) {
        queueHello();
    }
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    callbacks_.opened(peer_);
    return true;
}

void SocketLink::queueHello() {
    Bytes payload(std::begin(kMagic), std::end(kMagic));
    payload.push_back(kVersion);
    payload.insert(payload.end(), options_.self.bytes().begin(), options_.self.bytes().end());
    std::lock_guard lock(mutex_);
    output_.push_back({frame(payload), false});
}

void SocketLink::end(const Error& reason, const char* why) {
    if (why != nullptr) {
        PLATFORM_LOG_WARN("Bluetooth air: dropping peer ",
                          greeted_ ? peer_.toString() : "(unknown)", ": ", why);
    }
    ::shutdown(fd_, SHUT_RDWR);
    bool wasOpen = false;
    {
        std::lock_guard lock(mutex_);
        wasOpen = std::exchange(open_, false);
    }
    if (wasOpen) {
        callbacks_.closed(reason);
    } else {
        callbacks_.failed(reason);
    }
}

}  // namespace platform::bluetooth
