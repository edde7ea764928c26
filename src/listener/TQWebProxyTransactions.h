#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_map>

#include "listener/TQWebProxyConnection.h"
#include "platform/foundation/Value.h"
#include "platform/net/ProxySockets.h"

// The web proxy's work, on the sockets' I/O thread: the frames from the watch, one connection
// per transaction identifier (so at most 256 at a time), and the frames back to the watch,
// each chunk from a server paced by the watch's acknowledgements. A transaction in which
// neither the watch nor its server did anything for a while ends with the close frame.
// Everything here runs on that one thread; frames for the watch leave through `toWatch` on it
// too.
class TQWebProxyTransactions final : public platform::net::ProxySocketObserver {
public:
    using FrameSink = std::function<void(platform::Bytes frame)>;

    // Reading from a server pauses while this much waits for the watch, and resumes below half.
    static constexpr std::size_t kMaxQueuedBytes = std::size_t{1} << 20;
    // Seconds a transaction may stay idle, on the sockets' clock.
    static constexpr double kIdleTimeout = 120;

    TQWebProxyTransactions(platform::net::ProxySockets& sockets, FrameSink toWatch,
                           double idleTimeout = kIdleTimeout);
    ~TQWebProxyTransactions() override;
    TQWebProxyTransactions(const TQWebProxyTransactions&) = delete;
    TQWebProxyTransactions& operator=(const TQWebProxyTransactions&) = delete;

    // One frame from the watch, without the link's header byte.
    void requestforConnection(std::span<const std::uint8_t> frame);
    // The link went or came: every transaction and its socket end, and whatever waits for the
    // watch is dropped, without a frame to a watch that no longer knows them.
    void reset();

    [[nodiscard]] std::size_t transactionCount() const;
    [[nodiscard]] const TQWebProxyConnection* connection(std::uint8_t transactionId) const {
        return connectionList_[transactionId].get();
    }

    // ProxySocketObserver
    void socketOpened(platform::net::SocketHandle socket) override;
    void socketReceived(platform::net::SocketHandle socket,
                        std::span<const std::uint8_t> bytes) override;
    void socketClosed(platform::net::SocketHandle socket,
                      std::optional<platform::Error> why) override;

private:
    void newTransaction(std::uint8_t transactionId, std::span<const std::uint8_t> payload);
    // Forgets the transaction, closing its socket when it is still there; nothing to the watch.
    void drop(TQWebProxyConnection& connection);
    void control(TQWebProxyConnection& connection, std::span<const std::uint8_t> payload);
    void data(TQWebProxyConnection& connection, std::span<const std::uint8_t> payload);
    // Sends the next chunk, or the close frame once the server's side ended and none is left.
    void processQueue(TQWebProxyConnection& connection);
    // Drops the transaction and sends the watch its close frame.
    void disconnect(TQWebProxyConnection& connection);
    TQWebProxyConnection* bySocket(platform::net::SocketHandle socket);
    void touch(TQWebProxyConnection& connection);
    // Looks at the transaction's idleness `after` seconds from now, while it lasts.
    void watchIdleness(const TQWebProxyConnection& connection, double after);
    void checkIdleness(std::uint8_t transactionId, std::uint64_t serial);

    platform::net::ProxySockets& sockets_;
    FrameSink toWatch_;
    const double idleTimeout_;
    std::uint64_t lastSerial_ = 0;
    std::array<std::unique_ptr<TQWebProxyConnection>, 256> connectionList_;
    std::unordered_map<platform::net::SocketHandle, std::uint8_t> transactionOfSocket_;
};
