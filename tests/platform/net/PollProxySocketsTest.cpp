#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/net/PollProxySockets.h"
#include "platform/net/ProxyDestinations.h"

namespace {

using platform::net::PollProxySockets;
using platform::net::ProxyDestinations;
using platform::net::SocketHandle;

TEST(ProxyDestinationsTest, LocalAddressesAreRefusedAndLoopbackOnlyWhenAllowed) {
    struct Case {
        std::string address;
        std::string refusedAs;  // empty: an address on the internet
    };
    const std::vector<Case> cases = {
        {"127.0.0.1", "loopback"},
        {"127.200.0.9", "loopback"},
        {"::1", "loopback"},
        {"::ffff:127.0.0.1", "loopback"},
        {"::127.0.0.1", "loopback"},
        {"64:ff9b::7f00:1", "loopback"},
        {"0.0.0.0", "unspecified"},
        {"0.1.2.3", "unspecified"},
        {"::", "unspecified"},
        {"::ffff:0.0.0.0", "unspecified"},
        {"169.254.169.254", "link-local"},
        {"fe80::1", "link-local"},
        {"febf::1", "link-local"},
        {"::ffff:169.254.1.1", "link-local"},
        {"224.0.0.1", "multicast"},
        {"239.255.255.250", "multicast"},
        {"ff02::1", "multicast"},
        {"::ffff:224.0.0.251", "multicast"},
        {"255.255.255.255", "broadcast"},
        {"93.184.216.34", ""},
        {"10.1.2.3", ""},
        {"2001:db8::1", ""},
        {"fec0::1", ""},
        {"::ffff:93.184.216.34", ""},
        {"64:ff9b::5db8:d822", ""},
    };
    for (const bool allowLoopback : {false, true}) {
        const ProxyDestinations destinations{.allowLoopback = allowLoopback};
        for (const Case& c : cases) {
            const auto refusal = destinations.refusal(c.address);
            if (c.refusedAs.empty() || (allowLoopback && c.refusedAs == "loopback")) {
                EXPECT_FALSE(refusal) << c.address << ": " << refusal.value_or("");
            } else {
                ASSERT_TRUE(refusal) << c.address;
                EXPECT_EQ(*refusal, c.refusedAs + " address " + c.address);
            }
        }
        EXPECT_TRUE(destinations.refusal("example.test"));
        EXPECT_TRUE(destinations.refusal("fe80::1%eth0"));
    }
}

// What the sockets tell, in order.
class Events final : public platform::net::ProxySocketObserver {
public:
    void socketOpened(SocketHandle socket) override { add(socket, "opened"); }
    void socketReceived(SocketHandle socket, std::span<const std::uint8_t> bytes) override {
        add(socket, "received " + std::to_string(bytes.size()));
    }
    void socketClosed(SocketHandle socket, std::optional<platform::Error> why) override {
        add(socket, why ? "failed: " + why->message : "ended");
    }
    void add(SocketHandle socket, std::string what) {
        {
            std::lock_guard lock(mutex_);
            events_.emplace_back(socket, std::move(what));
        }
        arrived_.notify_all();
    }
    // Waits until the socket had an event and gives its first.
    std::string firstOf(SocketHandle socket) {
        std::unique_lock lock(mutex_);
        std::string first;
        arrived_.wait(lock, [&] {
            const auto found = std::find_if(events_.begin(), events_.end(), [&](const auto& event) {
                return event.first == socket;
            });
            if (found != events_.end()) {
                first = found->second;
            }
            return found != events_.end();
        });
        return first;
    }
    std::vector<std::string> of(SocketHandle socket) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> found;
        for (const auto& [handle, what] : events_) {
            if (handle == socket) {
                found.push_back(what);
            }
        }
        return found;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::pair<SocketHandle, std::string>> events_;
};

// Names the tests use: fixed answers, and "held..." names whose lookup waits for release().
class Resolver {
public:
    std::vector<std::string> resolve(const std::string& host) {
        std::unique_lock lock(mutex_);
        asked_.push_back(host);
        asking_.notify_all();
        if (host.starts_with("held")) {
            released_.wait(lock, [this] { return !holding_; });
        }
        const auto found = answers_.find(host);
        return found == answers_.end() ? std::vector<std::string>{} : found->second;
    }
    void answer(std::string host, std::vector<std::string> addresses) {
        std::lock_guard lock(mutex_);
        answers_[std::move(host)] = std::move(addresses);
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
        }
        released_.notify_all();
    }
    void waitUntilAsked(const std::string& host) {
        std::unique_lock lock(mutex_);
        asking_.wait(lock, [&] { return std::count(asked_.begin(), asked_.end(), host) > 0; });
    }
    std::vector<std::string> asked() {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    std::condition_variable asking_;
    bool holding_ = true;
    std::map<std::string, std::vector<std::string>> answers_;
    std::vector<std::string> asked_;
};

// A server on the loopback that takes connections into its backlog and never reads, with a
// receive window so small that what is written to it stays with the writer.
class DeafServer {
public:
    DeafServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int small = 1024;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 16);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~DeafServer() { ::close(fd_); }
    DeafServer(const DeafServer&) = delete;
    DeafServer& operator=(const DeafServer&) = delete;

    [[nodiscard]] std::uint16_t port() const { return port_; }
    // A connection reached the server.
    [[nodiscard]] bool connected() const {
        const int accepted = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (accepted < 0) {
            return false;
        }
        ::close(accepted);
        return true;
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// The sockets on their thread, timed by a virtual loop's clock, with what they tell.
class PollProxySocketsTest : public ::testing::Test {
protected:
    ~PollProxySocketsTest() override {
        resolver->release();
        sockets.reset();
    }

    void start(PollProxySockets::Options options) {
        options.resolve = [r = resolver](const std::string& host) { return r->resolve(host); };
        options.clock = [this] { return clock.now(); };
        sockets = std::make_unique<PollProxySockets>(std::move(options));
        events = std::make_unique<Events>();
        sockets->setObserver(events.get());
    }
    // Runs work on the sockets' thread and gives its result.
    template <typename Work>
    auto onIo(Work work) {
        std::promise<decltype(work())> result;
        sockets->post([&] {
            if constexpr (std::is_void_v<decltype(work())>) {
                work();
                result.set_value();
            } else {
                result.set_value(work());
            }
        });
        return result.get_future().get();
    }
    SocketHandle open(const std::string& host, std::uint16_t port = 80) {
        return onIo([&] { return sockets->open(host, port); });
    }
    void write(SocketHandle socket, std::size_t size) {
        onIo([&] { sockets->write(socket, std::vector<std::uint8_t>(size, 'x')); });
    }
    void close(SocketHandle socket) {
        onIo([&] { sockets->close(socket); });
    }
    std::size_t socketCount() {
        return onIo([&] { return sockets->socketCount(); });
    }
    // Every event caused so far has been told.
    void settle() {
        onIo([] {});
    }

    platform::RunLoop clock{platform::RunLoop::Clock::virtualTime};
    std::shared_ptr<Resolver> resolver = std::make_shared<Resolver>();
    // Made with the sockets: handles start again with them.
    std::unique_ptr<Events> events;
    std::unique_ptr<PollProxySockets> sockets;
};

#ifndef NDEBUG
// Its delayed tasks are the I/O thread's alone: another thread would race it and not wake it.
TEST_F(PollProxySocketsTest, PostingAfterADelayOffTheIoThreadStopsADebugBuild) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    start({});
    settle();
    EXPECT_DEATH(sockets->postAfter(1, [] {}), "off the I/O thread");
}
#endif

TEST_F(PollProxySocketsTest, LoopbackIsRefusedAtEveryAddressUnlessAllowed) {
    DeafServer server;
    resolver->answer("local.test", {"::1", "::ffff:127.0.0.1", "127.0.0.1"});
    start({});
    EXPECT_EQ(events->firstOf(open("127.0.0.1", server.port())),
              "failed: refused loopback address 127.0.0.1");
    EXPECT_EQ(events->firstOf(open("local.test", server.port())),
              "failed: refused loopback address 127.0.0.1");
    EXPECT_EQ(events->firstOf(open("::ffff:127.0.0.1", server.port())),
              "failed: refused loopback address ::ffff:127.0.0.1");
    EXPECT_FALSE(server.connected());

    sockets.reset();
    start({.destinations = {.allowLoopback = true}});
    EXPECT_EQ(events->firstOf(open("local.test", server.port())), "opened");
    EXPECT_EQ(events->firstOf(open("0.0.0.0", server.port())),
              "failed: refused unspecified address 0.0.0.0");
    EXPECT_TRUE(server.connected());
}

TEST_F(PollProxySocketsTest, WhatWaitsForTheServerIsBounded) {
    start({.maxWaitingBytes = 1000});
    const SocketHandle socket = open("held.test");
    write(socket, 600);
    write(socket, 400);
    settle();
    EXPECT_TRUE(events->of(socket).empty());
    write(socket, 1);
    settle();
    EXPECT_EQ(events->of(socket),
              std::vector<std::string>{"failed: more than 1000 bytes wait for the server"});
    EXPECT_EQ(socketCount(), 0U);
}

TEST_F(PollProxySocketsTest, AClosedSocketWritesWhatWaitsForALimitedTimeOnly) {
    DeafServer server;
    start({.destinations = {.allowLoopback = true},
           .maxWaitingBytes = std::size_t{32} << 20,
           .drainTimeout = 10});
    const SocketHandle socket = open("127.0.0.1", server.port());
    ASSERT_EQ(events->firstOf(socket), "opened");
    // Far more than the kernel holds for a peer that takes nothing.
    write(socket, std::size_t{16} << 20);
    close(socket);
    EXPECT_EQ(socketCount(), 1U);
    clock.advance(9.5);
    EXPECT_EQ(socketCount(), 1U);
    clock.advance(1);
    EXPECT_EQ(socketCount(), 0U);
}

TEST_F(PollProxySocketsTest, SocketsAreBoundedClosingOnesIncluded) {
    DeafServer server;
    start({.destinations = {.allowLoopback = true},
           .maxWaitingBytes = std::size_t{32} << 20,
           .maxSockets = 2});
    const SocketHandle first = open("held.one");
    const SocketHandle second = open("held.two");
    const SocketHandle third = open("held.three");
    settle();
    EXPECT_EQ(events->of(third), std::vector<std::string>{"failed: too many sockets: 2"});
    EXPECT_TRUE(events->of(first).empty());
    EXPECT_TRUE(events->of(second).empty());

    // A closed socket still writing counts, but gives its place to a new one.
    close(first);
    const SocketHandle open1 = open("127.0.0.1", server.port());
    ASSERT_EQ(events->firstOf(open1), "opened");
    write(open1, std::size_t{16} << 20);
    close(open1);
    EXPECT_EQ(socketCount(), 2U);
    const SocketHandle fourth = open("held.four");
    EXPECT_EQ(socketCount(), 2U);
    const SocketHandle fifth = open("held.five");
    settle();
    EXPECT_TRUE(events->of(fourth).empty());
    EXPECT_EQ(events->of(fifth), std::vector<std::string>{"failed: too many sockets: 2"});
}

TEST_F(PollProxySocketsTest, TheLookupOfASocketClosedBeforeItStartedIsNotMade) {
    start({});
    // Every resolver thread is kept busy, so the next lookup waits its turn.
    for (const char* host : {"held.1", "held.2", "held.3", "held.4"}) {
        open(host);
        resolver->waitUntilAsked(host);
    }
    close(open("closed.test"));
    const SocketHandle after = open("after.test");
    resolver->release();
    EXPECT_EQ(events->firstOf(after), "failed: unknown host");
    const auto asked = resolver->asked();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "closed.test"), 0);
}

TEST_F(PollProxySocketsTest, StoppingDoesNotWaitForALookupInProgress) {
    start({});
    open("held.forever");
    resolver->waitUntilAsked("held.forever");
    // Would wait for the release, which comes only after it.
    sockets.reset();
    resolver->release();
}

}  // namespace
