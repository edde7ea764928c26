#include "listener/TQWebProxyTransactions.h"

#include <string>
#include <string_view>

#include "listener/TQWebProxyFrame.h"
#include "listener/TQWebProxyRequest.h"
#include "logging/LGLog.h"

namespace {

constexpr std::string_view kTunnelEstablished = "HTTP/1.1 200 Connection established\r\n\r\n";

}  // namespace

TQWebProxyTransactions::TQWebProxyTransactions(platform::net::ProxySockets& sockets,
                                               FrameSink toWatch, double idleTimeout)
    : sockets_(sockets), toWatch_(std::move(toWatch)), idleTimeout_(idleTimeout) {}

TQWebProxyTransactions::~TQWebProxyTransactions() = default;

std::size_t TQWebProxyTransactions::transactionCount() const {
    std::size_t count = 0;
    for (const auto& connection : connectionList_) {
        count += connection ? 1 : 0;
    }
    return count;
}

void TQWebProxyTransactions::requestforConnection(std::span<const std::uint8_t> bytes) {
    std::string whyNot;
    const auto frame = TQWebProxyFrame::read(bytes, whyNot);
    if (!frame) {
        LG_WARN("WebProxy dropped a frame from the watch: %@", whyNot);
        return;
    }
    const int transactionId = frame->transactionId;
    LG_VERBOSE("WebProxy Request Data Received Length From BLE/Kavo - %d for Transaction ID - %d",
               frame->payload.size(), transactionId);
    TQWebProxyConnection* connection = connectionList_[frame->transactionId].get();
    std::string notARequest;
    if (connection != nullptr && connection->state == TQWebProxyConnection::State::ended &&
        frame->type != TQWebProxyFrame::kControl &&
        TQWebProxyRequest::parse(frame->payload, notARequest)) {
        // Its server is gone, so a request can only be the watch starting over on the
        // identifier: what was left of the old answer no longer matters to it.
        LG_VERBOSE("WebProxy Transaction ID - %d starts again after its server ended",
                   transactionId);
        drop(*connection);
        connection = nullptr;
    }
    if (connection == nullptr) {
        newTransaction(frame->transactionId, frame->payload);
        return;
    }
    touch(*connection);
    if (frame->type == TQWebProxyFrame::kControl) {
        control(*connection, frame->payload);
    } else {
        data(*connection, frame->payload);
    }
}

void TQWebProxyTransactions::newTransaction(std::uint8_t transactionId,
                                            std::span<const std::uint8_t> payload) {
    std::string whyNot;
    auto request = TQWebProxyRequest::parse(payload, whyNot);
    if (!request) {
        LG_WARN("WebProxy dropped a frame for the unknown Transaction ID - %d: %@",
                int{transactionId}, whyNot);
        return;
    }
    // Requests carry cookies, tokens and passwords in their headers and bodies, and even a
    // target's path or query may: the log gets the host and sizes only.
    LG_VERBOSE("WebProxy New Connection Request of %lu bytes for Transaction ID - %d",
               payload.size(), int{transactionId});
    LG_VERBOSE("WebProxy Connecting.. host %@ port %d for Transaction ID- %d", request->host,
               int{request->port}, int{transactionId});
    auto connection = std::make_unique<TQWebProxyConnection>();
    connection->transactionId = transactionId;
    connection->serial = ++lastSerial_;
    connection->lastActivity = sockets_.now();
    connection->connectionHost = request->host;
    connection->port = request->port;
    connection->https = request->https;
    connection->socket = sockets_.open(request->host, request->port);
    // Kept by the sockets until the connection is open, ahead of anything the watch sends next.
    if (!request->firstBytes.empty()) {
        sockets_.write(connection->socket, request->firstBytes);
    }
    transactionOfSocket_[connection->socket] = transactionId;
    watchIdleness(*connection, idleTimeout_);
    connectionList_[transactionId] = std::move(connection);
}

void TQWebProxyTransactions::control(TQWebProxyConnection& connection,
                                     std::span<const std::uint8_t> payload) {
    const int transactionId = connection.transactionId;
    if (payload.empty()) {
        LG_WARN("WebProxy dropped a control frame without a value for Transaction ID - %d",
                transactionId);
        return;
    }
    LG_VERBOSE("WebProxy Payload value %d for Transaction ID - %d", int{payload[0]}, transactionId);
    if (payload[0] == TQWebProxyFrame::kCloseRequest) {
        LG_VERBOSE("WebProxy get Disconnect request Transaction ID - %d", transactionId);
        if (connection.state == TQWebProxyConnection::State::opening) {
            // Goes to the server after what the watch sent before it, once connected.
            connection.closeRequested = true;
            return;
        }
        disconnect(connection);
    } else if (payload[0] == TQWebProxyFrame::kAcknowledgement) {
        LG_VERBOSE("WebProxy get ACK request Transaction ID - %d", transactionId);
        processQueue(connection);
    }
}

void TQWebProxyTransactions::data(TQWebProxyConnection& connection,
                                  std::span<const std::uint8_t> payload) {
    if (connection.state == TQWebProxyConnection::State::ended) {
        LG_WARN("WebProxy dropped %d bytes for Transaction ID - %d: the server has gone",
                payload.size(), int{connection.transactionId});
        return;
    }
    if (connection.closeRequested) {
        LG_WARN("WebProxy dropped %d bytes for Transaction ID - %d after its close", payload.size(),
                int{connection.transactionId});
        return;
    }
    // Headers and bodies go as they came; only the first request line was rewritten.
    sockets_.write(connection.socket, payload);
}

void TQWebProxyTransactions::socketOpened(platform::net::SocketHandle socket) {
    TQWebProxyConnection* connection = bySocket(socket);
    if (connection == nullptr) {
        return;
    }
    const int transactionId = connection->transactionId;
    touch(*connection);
    connection->state = TQWebProxyConnection::State::open;
    if (connection->closeRequested) {
        disconnect(*connection);
        return;
    }
    if (connection->https) {
        LG_VERBOSE("WebProxy Connection is https for Transaction ID:%d", transactionId);
        const auto* text = reinterpret_cast<const std::uint8_t*>(kTunnelEstablished.data());
        toWatch_(TQWebProxyFrame::makeSuccessAPDUPacket(std::span(text, kTunnelEstablished.size()),
                                                        connection->transactionId));
    } else {
        LG_VERBOSE("WebProxy Connection is http for Transaction ID:%d", transactionId);
    }
}

void TQWebProxyTransactions::socketReceived(platform::net::SocketHandle socket,
                                            std::span<const std::uint8_t> bytes) {
    TQWebProxyConnection* connection = bySocket(socket);
    if (connection == nullptr) {
        return;
    }
    LG_VERBOSE("WebProxy Data Received from Server Size - %lu for trans id: %d", bytes.size(),
               int{connection->transactionId});
    touch(*connection);
    connection->dataList.enqueue(platform::Bytes(bytes.begin(), bytes.end()));
    if (!connection->transmitting) {
        processQueue(*connection);
        connection->transmitting = true;
    }
    if (!connection->readingPaused && connection->dataList.bytes() >= kMaxQueuedBytes) {
        connection->readingPaused = true;
        sockets_.setReading(socket, false);
    }
}

void TQWebProxyTransactions::socketClosed(platform::net::SocketHandle socket,
                                          std::optional<platform::Error> why) {
    TQWebProxyConnection* connection = bySocket(socket);
    if (connection == nullptr) {
        return;
    }
    transactionOfSocket_.erase(socket);
    if (why) {
        LG_WARN("WebProxy connection to %@:%d for Transaction ID - %d failed: %@",
                connection->connectionHost, int{connection->port}, int{connection->transactionId},
                why->message);
    } else {
        LG_VERBOSE("WebProxy server ended the stream for Transaction ID - %d",
                   int{connection->transactionId});
    }
    connection->state = TQWebProxyConnection::State::ended;
    if (!connection->transmitting) {
        processQueue(*connection);
    }
}

void TQWebProxyTransactions::processQueue(TQWebProxyConnection& connection) {
    if (!connection.dataList.empty()) {
        // Answers set cookies and carry private pages: their bytes are never logged.
        const platform::Bytes chunk = connection.dataList.dequeue();
        LG_VERBOSE("WebProxy Sending Data to Kavo For Transaction ID : %d for len: %lu",
                   int{connection.transactionId}, chunk.size() + TQWebProxyFrame::kHeaderSize);
        toWatch_(TQWebProxyFrame::makeSuccessAPDUPacket(chunk, connection.transactionId));
        if (connection.readingPaused && connection.dataList.bytes() < kMaxQueuedBytes / 2 &&
            connection.state == TQWebProxyConnection::State::open) {
            connection.readingPaused = false;
            sockets_.setReading(connection.socket, true);
        }
    }
    if (connection.dataList.empty()) {
        connection.transmitting = false;
        if (connection.state == TQWebProxyConnection::State::ended) {
            disconnect(connection);
        }
    }
}

void TQWebProxyTransactions::reset() {
    std::size_t dropped = 0;
    for (auto& connection : connectionList_) {
        if (connection) {
            drop(*connection);
            ++dropped;
        }
    }
    if (dropped > 0) {
        LG_INFO("WebProxy dropped %lu transactions with the link", dropped);
    }
}

void TQWebProxyTransactions::drop(TQWebProxyConnection& connection) {
    LG_VERBOSE("WebProxy Closing Connection To Server for Transaction ID: %d",
               int{connection.transactionId});
    if (connection.state != TQWebProxyConnection::State::ended) {
        sockets_.close(connection.socket);
        transactionOfSocket_.erase(connection.socket);
    }
    connectionList_[connection.transactionId].reset();
}

void TQWebProxyTransactions::disconnect(TQWebProxyConnection& connection) {
    const std::uint8_t transactionId = connection.transactionId;
    drop(connection);
    toWatch_(TQWebProxyFrame::makeErrorAPDUPacket(transactionId));
}

void TQWebProxyTransactions::touch(TQWebProxyConnection& connection) {
    connection.lastActivity = sockets_.now();
}

void TQWebProxyTransactions::watchIdleness(const TQWebProxyConnection& connection, double after) {
    sockets_.postAfter(
        after, [this, transactionId = connection.transactionId, serial = connection.serial] {
            checkIdleness(transactionId, serial);
        });
}

void TQWebProxyTransactions::checkIdleness(std::uint8_t transactionId, std::uint64_t serial) {
    TQWebProxyConnection* connection = connectionList_[transactionId].get();
    if (connection == nullptr || connection->serial != serial) {
        return;
    }
    const double idle = sockets_.now() - connection->lastActivity;
    // A millisecond's grace, so that rounding cannot have it look again and again.
    if (const double remaining = idleTimeout_ - idle; remaining > 0.001) {
        watchIdleness(*connection, remaining);
        return;
    }
    LG_INFO("WebProxy Transaction ID - %d idle for %.0f s: closed", int{transactionId}, idle);
    disconnect(*connection);
}

TQWebProxyConnection* TQWebProxyTransactions::bySocket(platform::net::SocketHandle socket) {
    const auto found = transactionOfSocket_.find(socket);
    return found == transactionOfSocket_.end() ? nullptr : connectionList_[found->second].get();
}
