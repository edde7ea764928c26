#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "link/TQDataDelegate.h"
#include "link/TQProtocol.h"
#include "link/support/MemoryLink.h"
#include "platform/foundation/Value.h"

namespace link_test {

// One device's side of a link for tests and benchmarks: a TQProtocol on one end of a
// MemoryLink, fed like the link facade feeds it (one message in the protocol at a time, the
// next one handed down on completion), recording what comes back up.
class LinkPeer final : public TQDataDelegate {
public:
    struct Outgoing {
        platform::Bytes data;
        bool arq = true;
        double handedDown = -1.0;  // run-loop time; -1 while waiting
        double completed = -1.0;
    };
    struct Incoming {
        platform::Bytes data;
        double time = 0.0;
    };

    explicit LinkPeer(MemoryLink::End& end);
    ~LinkPeer() override;
    LinkPeer(const LinkPeer&) = delete;
    LinkPeer& operator=(const LinkPeer&) = delete;

    TQProtocol& protocol() { return *protocol_; }

    // Queues a message behind those already waiting and hands it down when its turn comes.
    void send(platform::Bytes message, bool arq = true);
    // Also hears every message as it arrives (the file handler above the link, say).
    void setReceiver(std::function<void(std::span<const std::uint8_t>)> receiver) {
        receiver_ = std::move(receiver);
    }
    // Every queued message has been handed down and completed.
    [[nodiscard]] bool idle() const { return !inProtocol_ && next_ == outgoing_.size(); }
    // Forgets the messages sent and received so far (for long benchmark runs); call it idle.
    void forget();
    // This side's program starts again while the link stays: a new protocol on the same end
    // and defaults, which reloads the stored window set as a restored connection does. The
    // message that was in the old protocol is lost with it; those still queued go on.
    void relaunch();

    [[nodiscard]] const std::vector<Outgoing>& outgoing() const { return outgoing_; }
    [[nodiscard]] const std::vector<Incoming>& received() const { return received_; }
    [[nodiscard]] const std::vector<double>& resetsReceived() const { return resetsReceived_; }
    [[nodiscard]] int pings() const { return pings_; }
    // Completions reported while no message was in the protocol.
    [[nodiscard]] int unexpectedCompletions() const { return unexpectedCompletions_; }

    // TQDataDelegate
    void onDataSendCompleted(const TQSendOutcome& outcome) override;
    void onDataReceiveCompleted(std::span<const std::uint8_t> message) override;
    void onPingReceived() override { ++pings_; }
    void onResetCmdReceived() override;

private:
    void handDownNext();

    MemoryLink::End& end_;
    std::unique_ptr<TQProtocol> protocol_;
    std::vector<Outgoing> outgoing_;
    std::size_t next_ = 0;
    bool inProtocol_ = false;
    std::vector<Incoming> received_;
    std::vector<double> resetsReceived_;
    int pings_ = 0;
    int unexpectedCompletions_ = 0;
    std::function<void(std::span<const std::uint8_t>)> receiver_;
};

}  // namespace link_test
