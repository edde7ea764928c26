#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "platform/bluetooth/Radio.h"
#include "platform/bluetooth/Types.h"
#include "platform/foundation/Result.h"

namespace platform::bluetooth {

// Counts the accepted connections whose peer has not greeted yet, so that a listener can refuse
// more instead of giving every stranger a thread. Thread-safe.
class GreetingGate {
    struct State;

public:
    // One place at the gate, given back when the ticket goes.
    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept = default;
        Ticket& operator=(Ticket&& other) = delete;
        ~Ticket();

    private:
        friend class GreetingGate;
        explicit Ticket(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    explicit GreetingGate(std::size_t capacity);
    // Nothing when `capacity` peers hold a ticket already.
    std::optional<Ticket> enter();

private:
    std::shared_ptr<State> state_;
};

// One connection of the local-socket air, served by a thread of its own: the greeting, then
// length-prefixed ATT PDUs both ways. The thread reports through the callbacks, which must not
// block (they post to a run loop); destruction stops and joins the thread, after which no
// callback runs.
class SocketLink {
public:
    struct Callbacks {
        // The greetings were exchanged; the peer named itself.
        std::function<void(const Uuid& peer)> opened;
        // Ended before opening: a failed attempt (outgoing) or a bad peer (incoming).
        std::function<void(const Error& reason)> failed;
        // Ended after opening, by the peer or for a protocol fault.
        std::function<void(const Error& reason)> closed;
        // One frame's PDU: every frame is a delivery of its own, however the stream was split.
        std::function<void(Bytes pdu)> received;
        // A refused flow-controlled send has room now.
        std::function<void()> ready;
    };
    struct Options {
        Uuid self;
        double retryInterval = 0.1;
        std::size_t transmitQueueCapacity = 32;
        // Seconds an accepted peer has for its greeting.
        double greetingTimeout = 5.0;
        // Requests and answers waiting to leave; a peer that lets more pile up reads nothing
        // and is dropped.
        std::size_t answerQueueCapacity = 64;
    };

    // Keeps trying the socket until it answers (or the link is destroyed): connecting has no
    // time-out. The peer must greet with the expected identifier. Fails only when the link
    // cannot be made (no descriptor or thread left).
    static Result<std::unique_ptr<SocketLink>> connect(std::filesystem::path socket,
                                                       const Uuid& peer, Options options,
                                                       Callbacks callbacks);
    // Takes an accepted socket, closed here when the link cannot be made; the peer greets
    // first, before the deadline, and gives the ticket back by greeting or by going.
    static Result<std::unique_ptr<SocketLink>> accept(int fd, GreetingGate::Ticket ticket,
                                                      Options options, Callbacks callbacks);

    ~SocketLink();
    SocketLink(const SocketLink&) = delete;
    SocketLink& operator=(const SocketLink&) = delete;

    // Thread-safe.
    SendResult send(std::span<const std::uint8_t> pdu, bool flowControlled);

    static constexpr std::size_t kHelloLength = 21;

private:
    struct Outgoing {
        Bytes frame;
        bool flowControlled = false;
    };

    SocketLink(Options options, Callbacks callbacks);
    static Result<std::unique_ptr<SocketLink>> start(std::unique_ptr<SocketLink> link);
    void run();
    // Connects, retrying until stopped; false when stopped or failed (already reported).
    bool connectSocket();
    void serve();
    // How long poll() may wait: until the greeting is due, else for ever (-1).
    int pollTimeout() const;
    // Reads what is there; false once the connection is over (already reported).
    bool readAvailable();
    bool parseFrames();
    bool acceptHello(std::span<const std::uint8_t> payload);
    void writeAvailable();
    void queueHello();
    void end(const Error& reason, const char* why);
    bool waitForStop(double seconds);
    bool stopping() const { return stop_.load(); }
    bool hasOutput();
    bool overflowed();

    Options options_;
    Callbacks callbacks_;
    bool outgoing_ = false;
    std::filesystem::path socketPath_;
    std::optional<Uuid> expectedPeer_;
    std::optional<GreetingGate::Ticket> ticket_;
    std::optional<std::chrono::steady_clock::time_point> greetingDue_;
    Uuid peer_;
    int fd_ = -1;
    int wake_ = -1;
    bool greeted_ = false;
    Bytes input_;
    std::size_t writtenOfFront_ = 0;

    std::mutex mutex_;
    std::condition_variable stopSignal_;
    std::atomic<bool> stop_{false};
    std::deque<Outgoing> output_;
    std::size_t flowQueued_ = 0;
    bool readyOwed_ = false;
    bool open_ = false;
    bool overflowed_ = false;

    std::thread thread_;
};

}  // namespace platform::bluetooth
