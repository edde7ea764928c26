#pragma once

#include <atomic>
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

#include "platform/bluetooth/Types.h"

namespace platform::bluetooth {

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
        std::function<void(std::vector<Bytes> pdus)> received;
        // A refused flow-controlled send has room now.
        std::function<void()> ready;
    };
    struct Options {
        Uuid self;
        double retryInterval = 0.1;
        std::size_t transmitQueueCapacity = 32;
    };

    // Keeps trying the socket until it answers (or the link is destroyed): connecting has no
    // time-out. The peer must greet with the expected identifier.
    static std::unique_ptr<SocketLink> connect(std::filesystem::path socket, const Uuid& peer,
                                               Options options, Callbacks callbacks);
    // Takes an accepted socket; the peer greets first.
    static std::unique_ptr<SocketLink> accept(int fd, Options options, Callbacks callbacks);

    ~SocketLink();
    SocketLink(const SocketLink&) = delete;
    SocketLink& operator=(const SocketLink&) = delete;

    // Thread-safe. False only for a flow-controlled PDU that finds the queue full.
    bool send(std::span<const std::uint8_t> pdu, bool flowControlled);

    static constexpr std::size_t kHelloLength = 21;

private:
    struct Outgoing {
        Bytes frame;
        bool flowControlled = false;
    };

    SocketLink(Options options, Callbacks callbacks);
    void start();
    void run();
    // Connects, retrying until stopped; false when stopped or failed (already reported).
    bool connectSocket();
    void serve();
    // Reads what is there; false once the connection is over (already reported).
    bool readAvailable();
    bool parseFrames(std::vector<Bytes>& pdus);
    bool acceptHello(std::span<const std::uint8_t> payload);
    void writeAvailable();
    void queueHello();
    void end(const Error& reason, const char* why);
    bool waitForStop(double seconds);
    bool stopping() const { return stop_.load(); }
    bool hasOutput();

    Options options_;
    Callbacks callbacks_;
    bool outgoing_ = false;
    std::filesystem::path socketPath_;
    std::optional<Uuid> expectedPeer_;
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

    std::thread thread_;
};

}  // namespace platform::bluetooth
