#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "sim/Watch.h"

namespace kavowatch {

// The watch's browser: it reaches servers through the phone's web proxy on application 6, one
// transaction identifier per request, in frames of the proxy's format, and acknowledges every
// chunk the phone sends unless told to leave that to its caller. What the phone sends is kept
// per transaction. A new link to the phone ends every transaction still open: the phone
// forgets them with the link it had.
class WatchBrowser {
public:
    static constexpr std::uint8_t kProxyAppId = 6;
    static constexpr std::uint8_t kData = 0x02;
    static constexpr std::uint8_t kControl = 0x04;
    static constexpr std::uint8_t kClose = 1;
    static constexpr std::uint8_t kAcknowledge = 2;

    struct Transaction {
        // Every data frame's payload, in order.
        std::vector<platform::Bytes> chunks;
        // The close frame came, or the link it was started on went; the transaction is over.
        bool closed = false;
        // Over because its link went, without a close frame.
        bool lost = false;
        // The watch has sent it a request.
        bool started = false;
        // Frames that were neither a data frame nor the close frame.
        int oddFrames = 0;

        [[nodiscard]] platform::Bytes received() const;
        [[nodiscard]] std::string text() const;
    };

    explicit WatchBrowser(Watch& watch);
    ~WatchBrowser();
    WatchBrowser(const WatchBrowser&) = delete;
    WatchBrowser& operator=(const WatchBrowser&) = delete;

    void setAutoAcknowledge(bool on) { autoAcknowledge_ = on; }

    // A GET of an absolute "http://" URL, closing the connection after the answer.
    platform::Result<void> get(std::uint8_t transactionId, std::string_view url);
    // Opens a tunnel to host:port.
    platform::Result<void> connect(std::uint8_t transactionId, std::string_view host,
                                   std::uint16_t port);
    // A data frame; a new transaction when the identifier has none open.
    platform::Result<void> send(std::uint8_t transactionId, std::span<const std::uint8_t> bytes);
    platform::Result<void> send(std::uint8_t transactionId, std::string_view text);
    platform::Result<void> acknowledge(std::uint8_t transactionId);
    platform::Result<void> close(std::uint8_t transactionId);
    // Any bytes as one message on the proxy's channel.
    platform::Result<void> sendRaw(std::span<const std::uint8_t> bytes);

    [[nodiscard]] const Transaction& transaction(std::uint8_t transactionId) const {
        return transactions_[transactionId];
    }
    [[nodiscard]] bool isClosed(std::uint8_t transactionId) const {
        return transactions_[transactionId].closed;
    }
    // Frames from the phone that could not be read as the proxy's.
    [[nodiscard]] int badFrames() const { return badFrames_; }

    static platform::Bytes frame(std::uint8_t type, std::uint8_t transactionId,
                                 std::span<const std::uint8_t> payload);

private:
    void received(const ReceivedMessage& message);
    void linkUp();
    platform::Result<void> sendFrame(std::uint8_t type, std::uint8_t transactionId,
                                     std::span<const std::uint8_t> payload);

    Watch& watch_;
    int linkObserver_ = 0;
    bool autoAcknowledge_ = true;
    std::array<Transaction, 256> transactions_{};
    int badFrames_ = 0;
};

// A whole HTTP/1.x response as it came through the proxy.
struct HttpAnswer {
    int status = 0;
    std::string head;      // status line and headers, up to the blank line
    platform::Bytes body;  // after any chunked coding
};

// The response in bytes, or why not.
platform::Result<HttpAnswer> readHttpAnswer(std::span<const std::uint8_t> bytes);

}  // namespace kavowatch
