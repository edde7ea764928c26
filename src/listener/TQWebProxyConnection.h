#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/net/ProxySockets.h"

// The chunks read from a server and not yet sent to the watch, oldest first.
class TQWebProxyMessageQueue {
public:
    void enqueue(platform::Bytes chunk) {
        bytes_ += chunk.size();
        chunks_.push_back(std::move(chunk));
    }
    platform::Bytes dequeue() {
        platform::Bytes head = std::move(chunks_.front());
        chunks_.pop_front();
        bytes_ -= head.size();
        return head;
    }
    [[nodiscard]] bool empty() const { return chunks_.empty(); }
    [[nodiscard]] std::size_t size() const { return chunks_.size(); }
    [[nodiscard]] std::size_t bytes() const { return bytes_; }

private:
    std::deque<platform::Bytes> chunks_;
    std::size_t bytes_ = 0;
};

// One transaction: its socket to the server and what waits to go to the watch.
struct TQWebProxyConnection {
    enum class State {
        opening,  // connecting; the watch's frames are kept in order until it opens
        open,
        ended,  // the socket is gone; the chunks still queued go out before the close frame
    };

    std::uint8_t transactionId = 0;
    // Tells this transaction from an earlier one on the same identifier.
    std::uint64_t serial = 0;
    // When the watch or the server last did anything for it, on the sockets' clock.
    double lastActivity = 0;
    std::string connectionHost;
    std::uint16_t port = 80;
    bool https = false;
    platform::net::SocketHandle socket = 0;
    State state = State::opening;
    // A chunk has gone to the watch and the next waits for its acknowledgement.
    bool transmitting = false;
    // The watch asked to close while the connection was still opening.
    bool closeRequested = false;
    // Reading from the server stopped because too much waits for the watch.
    bool readingPaused = false;
    TQWebProxyMessageQueue dataList;
};
