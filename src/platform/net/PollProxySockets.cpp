#include "platform/net/PollProxySockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/foundation/LogSink.h"

namespace platform::net {

namespace {

constexpr std::size_t kResolverThreads = 4;

Error socketError(std::string what, int code) {
    return Error{"platform.net.socket", code, what + ": " + std::strerror(code)};
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr double kNever = std::numeric_limits<double>::infinity();

// The address when text is a numeric IPv4 or IPv6 address.
std::optional<sockaddr_storage> numericAddress(const std::string& text, std::uint16_t port) {
    sockaddr_storage storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        return storage;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return storage;
    }
    return std::nullopt;
}

}  // namespace

HostResolver systemHostResolver() {
    return [](const std::string& host) {
        std::vector<std::string> addresses;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
            return addresses;
        }
        for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
            char text[NI_MAXHOST];
            if (getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0,
                            NI_NUMERICHOST) == 0) {
                addresses.emplace_back(text);
            }
        }
        freeaddrinfo(found);
        return addresses;
    };
}

struct PollProxySockets::Impl {
    enum class State {
        resolving,
        connecting,
        open,
        draining,  // closed by the user; writes what waits until its deadline
        failing,   // its failure is on its way to the observer
    };

    struct Socket {
        State state = State::resolving;
        int fd = -1;
        std::uint16_t port = 0;
        std::vector<std::string> addresses;
        std::size_t nextAddress = 0;
        std::vector<std::uint8_t> out;
        std::size_t outOffset = 0;
        bool reading = true;
        double drainDeadline = kNever;

        [[nodiscard]] bool hasOutput() const { return outOffset < out.size(); }
        [[nodiscard]] std::size_t waiting() const { return out.size() - outOffset; }
    };

    struct Lookup {
        SocketHandle socket;
        std::string host;
    };

    // Shared with the resolver threads. A lookup may take as long as the system's resolver
    // likes, so they are never waited for: once the sockets stop, they drop what they find.
    struct Lookups {
        explicit Lookups(HostResolver resolver) : resolve(std::move(resolver)) {}

        const HostResolver resolve;
        std::mutex mutex;
        std::condition_variable waiting;
        std::deque<Lookup> queue;
        std::size_t threads = 0;
        std::size_t idle = 0;
        // Where answers go; null once the sockets stopped. Guarded by mutex.
        Impl* sockets = nullptr;
    };

    explicit Impl(Options givenOptions)
        : options(std::move(givenOptions)), lookups(std::make_shared<Lookups>(options.resolve)) {
        lookups->sockets = this;
        wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        buffer.resize(options.readSize == 0 ? 1 : options.readSize);
        io = std::thread([this] { run(); });
    }

    ~Impl() {
        {
            std::lock_guard lock(lookups->mutex);
            lookups->sockets = nullptr;
            lookups->queue.clear();
        }
        lookups->waiting.notify_all();
        {
            std::lock_guard lock(taskMutex);
            stopped = true;
        }
        wake();
        io.join();
        for (auto& [handle, socket] : sockets) {
            if (socket.fd >= 0) {
                ::close(socket.fd);
            }
        }
        ::close(wakeFd);
    }

    void post(std::function<void()> task) {
        {
            std::lock_guard lock(taskMutex);
            if (stopped) {
                return;
            }
            tasks.push_back(std::move(task));
        }
        wake();
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }

    [[nodiscard]] double now() const { return options.clock ? options.clock() : steadySeconds(); }

    // ---- the I/O thread ----

    void run() {
        pthread_setname_np(pthread_self(), options.threadName.substr(0, 15).c_str());
        {
            std::lock_guard lock(taskMutex);
            ioThread = pthread_self();
            ioThreadKnown = true;
        }
        std::vector<pollfd> fds;
        std::vector<SocketHandle> handles;
        while (runDue()) {
            fds.assign(1, pollfd{wakeFd, POLLIN, 0});
            handles.assign(1, 0);
            for (const auto& [handle, socket] : sockets) {
                short events = 0;
                switch (socket.state) {
                    case State::resolving:
                    case State::failing:
                        continue;
                    case State::connecting:
                    case State::draining:
                        events = POLLOUT;
                        break;
                    case State::open:
                        events = static_cast<short>((socket.reading ? POLLIN : 0) |
                                                    (socket.hasOutput() ? POLLOUT : 0));
                        if (events == 0) {
                            // A hang-up would wake every poll while nobody reads; it waits
                            // for the next read.
                            continue;
                        }
                        break;
                }
                fds.push_back(pollfd{socket.fd, events, 0});
                handles.push_back(handle);
            }
            if (::poll(fds.data(), fds.size(), pollTimeout()) < 0 && errno != EINTR) {
                PLATFORM_LOG_ERROR("proxy sockets: poll failed: ", std::strerror(errno));
                return;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto read = ::read(wakeFd, &count, sizeof count);
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents != 0) {
                    serve(handles[i], fds[i].revents);
                }
            }
        }
    }

    // Drops the sockets whose drain ran out, then runs the delayed tasks that are due and the
    // posted ones. The clock is read after the posted tasks were taken, so a task posted after
    // a test moved its clock finds the deadlines of that moment met. False once stopped.
    bool runDue() {
        std::deque<std::function<void()>> due;
        {
            std::lock_guard lock(taskMutex);
            if (stopped) {
                return false;
            }
            due.swap(tasks);
        }
        const double time = now();
        std::erase_if(sockets, [time](const auto& entry) {
            const Socket& socket = entry.second;
            if (socket.state != State::draining || socket.drainDeadline > time) {
                return false;
            }
            ::close(socket.fd);
            return true;
        });
        while (!delayed.empty() && delayed.begin()->first <= time) {
            auto task = std::move(delayed.begin()->second);
            delayed.erase(delayed.begin());
            task();
        }
        for (auto& task : due) {
            task();
        }
        return true;
    }

    // Milliseconds until the next deadline, -1 without one.
    int pollTimeout() const {
        double next = delayed.empty() ? kNever : delayed.begin()->first;
        for (const auto& [handle, socket] : sockets) {
            next = std::min(next, socket.drainDeadline);
        }
        if (next == kNever) {
            return -1;
        }
        const double milliseconds = std::ceil((next - now()) * 1000);
        return static_cast<int>(std::clamp(milliseconds, 0.0, 60'000.0));
    }

    Socket* find(SocketHandle handle) {
        const auto found = sockets.find(handle);
        return found == sockets.end() ? nullptr : &found->second;
    }

    void serve(SocketHandle handle, short revents) {
        Socket* socket = find(handle);
        if (socket == nullptr) {
            return;  // closed by an earlier callback of this round
        }
        switch (socket->state) {
            case State::resolving:
            case State::failing:
                return;
            case State::connecting:
                finishConnecting(handle, *socket);
                return;
            case State::draining:
                if (!flush(*socket) || !socket->hasOutput()) {
                    discard(handle);
                }
                return;
            case State::open:
                break;
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && socket->reading) {
            if (!readOnce(handle, *socket)) {
                return;
            }
            socket = find(handle);
            if (socket == nullptr || socket->state != State::open) {
                return;
            }
        }
        if ((revents & POLLOUT) != 0 && !flush(*socket)) {
            fail(handle, socketError("write", errno));
            return;
        }
        if ((revents & POLLERR) != 0 && !socket->reading) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(socket->fd, SOL_SOCKET, SO_ERROR, &error, &length);
            fail(handle, socketError("socket", error != 0 ? error : EIO));
        }
    }

    // False when the socket went away.
    bool readOnce(SocketHandle handle, Socket& socket) {
        const ssize_t got = ::recv(socket.fd, buffer.data(), buffer.size(), 0);
        if (got > 0) {
            observer->socketReceived(handle,
                                     std::span(buffer.data(), static_cast<std::size_t>(got)));
            return true;
        }
        if (got == 0) {
            discard(handle);
            observer->socketClosed(handle, std::nullopt);
            return false;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return true;
        }
        fail(handle, socketError("read", errno));
        return false;
    }

    // Writes what the socket takes; false on an error.
    static bool flush(Socket& socket) {
        while (socket.hasOutput()) {
            const ssize_t sent = ::send(socket.fd, socket.out.data() + socket.outOffset,
                                        socket.out.size() - socket.outOffset, MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    break;
                }
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            socket.outOffset += static_cast<std::size_t>(sent);
        }
        if (!socket.hasOutput()) {
            socket.out.clear();
            socket.outOffset = 0;
        } else if (socket.outOffset > socket.out.size() / 2) {
            socket.out.erase(socket.out.begin(),
                             socket.out.begin() + static_cast<std::ptrdiff_t>(socket.outOffset));
            socket.outOffset = 0;
        }
        return true;
    }

    void finishConnecting(SocketHandle handle, Socket& socket) {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
        }
        if (error == 0) {
            socket.state = State::open;
            observer->socketOpened(handle);
            return;
        }
        ::close(socket.fd);
        socket.fd = -1;
        connectNext(handle, socket, socketError("connect", error));
    }

    // Tries the addresses not tried yet, in order; fails with lastError when none is left.
    void connectNext(SocketHandle handle, Socket& socket, Error lastError) {
        while (socket.nextAddress < socket.addresses.size()) {
            const std::string& text = socket.addresses[socket.nextAddress++];
            if (auto refusal = options.destinations.refusal(text)) {
                lastError = Error{"platform.net.socket", EACCES, "refused " + *refusal};
                continue;
            }
            const auto address = numericAddress(text, socket.port);
            if (!address) {
                continue;
            }
            const int fd =
                ::socket(address->ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                lastError = socketError("socket", errno);
                continue;
            }
            const socklen_t size =
                address->ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), size) == 0 ||
                errno == EINPROGRESS) {
                // Opened or not, poll tells, so that the news never comes inside a call.
                socket.fd = fd;
                socket.state = State::connecting;
                return;
            }
            lastError = socketError("connect", errno);
            ::close(fd);
        }
        failLater(handle, std::move(lastError));
    }

    void resolved(SocketHandle handle, std::vector<std::string> addresses) {
        Socket* socket = find(handle);
        if (socket == nullptr || socket->state != State::resolving) {
            return;
        }
        if (addresses.empty()) {
            fail(handle, Error{"platform.net.socket", EAI_NONAME, "unknown host"});
            return;
        }
        socket->addresses = std::move(addresses);
        connectNext(handle, *socket, Error{"platform.net.socket", EAI_NONAME, "no usable address"});
    }

    void discard(SocketHandle handle) {
        const auto found = sockets.find(handle);
        if (found != sockets.end()) {
            if (found->second.fd >= 0) {
                ::close(found->second.fd);
            }
            sockets.erase(found);
        }
    }

    void fail(SocketHandle handle, Error why) {
        discard(handle);
        observer->socketClosed(handle, std::move(why));
    }

    void failLater(SocketHandle handle, Error why) {
        post([this, handle, why = std::move(why)]() mutable {
            if (find(handle) != nullptr) {
                fail(handle, std::move(why));
            }
        });
    }

    // The socket hears nothing more but its failure, which comes after the current call.
    void failSoon(SocketHandle handle, Socket& socket, Error why) {
        if (socket.fd >= 0) {
            ::close(socket.fd);
            socket.fd = -1;
        }
        socket.state = State::failing;
        socket.out.clear();
        socket.outOffset = 0;
        dropLookup(handle);
        failLater(handle, std::move(why));
    }

    // Makes room for one more socket: drops the one that has been closing longest when the
    // bound is reached. False when every socket is still in use.
    bool makeRoom() {
        if (sockets.size() < options.maxSockets) {
            return true;
        }
        auto oldest = sockets.end();
        for (auto it = sockets.begin(); it != sockets.end(); ++it) {
            if (it->second.state == State::draining &&
                (oldest == sockets.end() ||
                 it->second.drainDeadline < oldest->second.drainDeadline)) {
                oldest = it;
            }
        }
        if (oldest == sockets.end()) {
            return false;
        }
        discard(oldest->first);
        return true;
    }

    // ---- the resolvers ----

    void lookUp(SocketHandle handle, std::string host) {
        {
            std::lock_guard lock(lookups->mutex);
            lookups->queue.push_back({handle, std::move(host)});
            if (lookups->threads < kResolverThreads && lookups->idle < lookups->queue.size()) {
                ++lookups->threads;
                std::thread([shared = lookups] { resolveLoop(*shared); }).detach();
            }
        }
        lookups->waiting.notify_one();
    }

    // A lookup that has not started yet is not made.
    void dropLookup(SocketHandle handle) {
        std::lock_guard lock(lookups->mutex);
        std::erase_if(lookups->queue,
                      [handle](const Lookup& lookup) { return lookup.socket == handle; });
    }

    // Holds its share of the lookups through the closure that started it.
    static void resolveLoop(Lookups& shared) {
        std::unique_lock lock(shared.mutex);
        while (true) {
            ++shared.idle;
            shared.waiting.wait(lock,
                                [&] { return shared.sockets == nullptr || !shared.queue.empty(); });
            --shared.idle;
            if (shared.sockets == nullptr) {
                --shared.threads;
                return;
            }
            Lookup lookup = std::move(shared.queue.front());
            shared.queue.pop_front();
            lock.unlock();
            auto addresses = shared.resolve(lookup.host);
            lock.lock();
            if (Impl* sockets = shared.sockets) {
                // Under the lock, so that the sockets cannot stop meanwhile.
                sockets->post(
                    [sockets, handle = lookup.socket, addresses = std::move(addresses)]() mutable {
                        sockets->resolved(handle, std::move(addresses));
                    });
            }
        }
    }

    const Options options;
    ProxySocketObserver* observer = nullptr;
    int wakeFd = -1;
    std::vector<std::uint8_t> buffer;

    // Only the I/O thread touches these.
    std::unordered_map<SocketHandle, Socket> sockets;
    SocketHandle nextHandle = 1;

    mutable std::mutex taskMutex;
    std::deque<std::function<void()>> tasks;
    bool stopped = false;
    pthread_t ioThread{};
    bool ioThreadKnown = false;

    // Only the I/O thread touches these, in deadline order.
    std::multimap<double, std::function<void()>> delayed;

    const std::shared_ptr<Lookups> lookups;

    // Last: it runs over everything above.
    std::thread io;
};

PollProxySockets::PollProxySockets() : PollProxySockets(Options{}) {}

PollProxySockets::PollProxySockets(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

PollProxySockets::~PollProxySockets() = default;

void PollProxySockets::setObserver(ProxySocketObserver* observer) {
    impl_->observer = observer;
}

void PollProxySockets::post(std::function<void()> task) {
    impl_->post(std::move(task));
}

double PollProxySockets::now() const {
    return impl_->now();
}

void PollProxySockets::postAfter(double seconds, std::function<void()> task) {
#ifndef NDEBUG
    // The map is the I/O thread's alone, and only that thread's next turn sees a new deadline.
    bool onIoThread = false;
    {
        std::lock_guard lock(impl_->taskMutex);
        onIoThread = impl_->ioThreadKnown && pthread_equal(impl_->ioThread, pthread_self()) != 0;
    }
    if (!onIoThread) {
        std::fprintf(stderr, "PollProxySockets::postAfter: called off the I/O thread\n");
        std::abort();
    }
#endif
    impl_->delayed.emplace(impl_->now() + seconds, std::move(task));
}

SocketHandle PollProxySockets::open(std::string host, std::uint16_t port) {
    const SocketHandle handle = impl_->nextHandle++;
    const bool room = impl_->makeRoom();
    Impl::Socket& socket = impl_->sockets[handle];
    socket.port = port;
    if (!room) {
        impl_->failSoon(handle, socket,
                        Error{"platform.net.socket", EMFILE,
                              "too many sockets: " + std::to_string(impl_->options.maxSockets)});
    } else if (numericAddress(host, port)) {
        socket.addresses.push_back(std::move(host));
        impl_->connectNext(handle, socket, Error{"platform.net.socket", EINVAL, "no address"});
    } else {
        impl_->lookUp(handle, std::move(host));
    }
    return handle;
}

void PollProxySockets::write(SocketHandle socket, std::span<const std::uint8_t> bytes) {
    Impl::Socket* found = impl_->find(socket);
    if (found == nullptr || found->state == Impl::State::draining ||
        found->state == Impl::State::failing) {
        return;
    }
    if (found->waiting() + bytes.size() > impl_->options.maxWaitingBytes) {
        impl_->failSoon(socket, *found,
                        Error{"platform.net.socket", ENOBUFS,
                              "more than " + std::to_string(impl_->options.maxWaitingBytes) +
                                  " bytes wait for the server"});
        return;
    }
    found->out.insert(found->out.end(), bytes.begin(), bytes.end());
}

void PollProxySockets::setReading(SocketHandle socket, bool reading) {
    if (Impl::Socket* found = impl_->find(socket)) {
        found->reading = reading;
    }
}

void PollProxySockets::close(SocketHandle socket) {
    Impl::Socket* found = impl_->find(socket);
    if (found == nullptr) {
        return;
    }
    if (found->state == Impl::State::open && found->hasOutput()) {
        found->state = Impl::State::draining;
        found->drainDeadline = impl_->now() + impl_->options.drainTimeout;
        return;
    }
    if (found->state == Impl::State::resolving) {
        impl_->dropLookup(socket);
    }
    impl_->discard(socket);
}

std::size_t PollProxySockets::socketCount() const {
    return impl_->sockets.size();
}

double PollProxySockets::ioThreadCpuSeconds() const {
    pthread_t thread{};
    {
        std::lock_guard lock(impl_->taskMutex);
        if (!impl_->ioThreadKnown) {
            return 0;
        }
        thread = impl_->ioThread;
    }
    clockid_t clock{};
    timespec spent{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &spent) != 0) {
        return 0;
    }
    return static_cast<double>(spent.tv_sec) + static_cast<double>(spent.tv_nsec) * 1e-9;
}

}  // namespace platform::net
