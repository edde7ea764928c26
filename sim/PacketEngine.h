#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "sim/PacketLink.h"
#include "sim/WireFormat.h"

namespace kavowatch {

struct EngineTimings {
    double sendTimeout = 2.1;     // a sent window waits this long for its acknowledgement
    double receiveIdle = 0.9;     // a window being received waits this long for its next packet
    double ackRepeat = 3.1;       // an incomplete window is acknowledged again this often
    int sendTimeouts = 3;         // the send timeout that gives up with a reset
    int ackRepeats = 3;           // the repeat that gives up with a reset
    int sameMaskRepeats = 3;      // repeats of one incomplete mask that give up with a reset
    int completedAckRepeats = 1;  // a completed window's acknowledgement, again while quiet
};

struct EngineCounters {
    int messagesQueued = 0;
    // Acknowledged in full, or handed to the link in full when unacknowledged.
    int messagesSent = 0;
    int messagesDroppedByReset = 0;
    int messagesDroppedByDisconnect = 0;
    int dataPacketsSent = 0;
    int retransmissions = 0;
    int windowsSent = 0;
    int sendTimeouts = 0;
    int acksSent = 0;
    int acksSuppressed = 0;
    int resetsSent = 0;

    int dataPacketsReceived = 0;
    int crcFailures = 0;
    int malformedPackets = 0;
    int outOfWindowPackets = 0;
    int duplicatePackets = 0;
    int conflictingPackets = 0;  // two different packets for one slot
    int brokenWindows = 0;       // complete, but refused: see the class comment
    int windowsReceived = 0;
    int acksReceived = 0;
    int staleAcks = 0;
    int resetsReceived = 0;
    int pingsReceived = 0;
    int messagesReceived = 0;
    int messagesUndecodable = 0;  // unacknowledged ones that did not inflate
    int partialMessagesDropped = 0;
};

class PacketEngineDelegate {
public:
    // One whole message, inflated.
    virtual void messageReceived(platform::Bytes message, bool acknowledged) = 0;
    virtual void resetReceived() {}
    virtual void pingReceived() {}

protected:
    ~PacketEngineDelegate() = default;
};

// The watch's side of the packet protocol. Messages are compressed and cut into packets;
// acknowledged ones go in windows of up to eight in alternating window sets, are acknowledged
// with a bit mask and resent until complete, and a reset clears both sides when a window
// cannot be completed. Received packets are checked, acknowledged, joined and inflated.
//
// The CRC covers the payload only, so a header bit changed on the way would pass it. The
// receiver therefore takes control packets only in their exact shape, keeps neither of two
// different packets for one slot, and acknowledges a window only when its positions chain and
// every message ending in it inflates; otherwise the sender sends it again.
//
// Runs on the loop's thread: every call, the link's answers and the timers. A reset drops the
// message in flight on both sides, never a later one, so nothing arrives twice. Delegate
// calls come once the step that caused them is over, so the delegate may send from them; it
// must not destroy the engine there.
class PacketEngine {
public:
    PacketEngine(platform::RunLoop& loop, PacketLink& link, PacketEngineDelegate& delegate,
                 EngineTimings timings = {});
    ~PacketEngine();
    PacketEngine(const PacketEngine&) = delete;
    PacketEngine& operator=(const PacketEngine&) = delete;

    // Queues one whole message (header byte included).
    void send(std::span<const std::uint8_t> message, bool acknowledged);
    // One packet from the peer.
    void receive(std::span<const std::uint8_t> packet);
    // The link's answers: the pending packet went through; a busy link has room again.
    void packetSent();
    void linkReady();
    // The link is gone: everything queued, in flight or half received is dropped unsent.
    void linkLost();

    // Fault switches: reset both sides now; stop (or resume) acknowledging received windows.
    void sendReset();
    void setAcknowledging(bool acknowledging) { acknowledging_ = acknowledging; }
    [[nodiscard]] bool isAcknowledging() const { return acknowledging_; }

    // Nothing queued, in flight or waiting for an acknowledgement.
    [[nodiscard]] bool isIdle() const;
    [[nodiscard]] const EngineCounters& counters() const { return counters_; }

private:
    enum class Kind { control, window, unacknowledged };

    struct Outgoing {
        std::deque<platform::Bytes> packets;
        bool acknowledged = false;
        bool started = false;
    };
    struct Window {
        int set = 0;
        std::vector<platform::Bytes> packets;
        std::size_t nextNew = 0;
        std::deque<std::size_t> resend;
        std::uint16_t lastMask = 0;
        int sameMask = 0;
        int timeouts = 0;
        bool endsMessage = false;
    };
    struct Transmission {
        platform::Bytes packet;
        Kind kind = Kind::control;
    };
    struct Slot {
        Position position = Position::first;
        platform::Bytes payload;
    };
    struct Partial {
        platform::Bytes payload;
        bool open = false;
    };
    struct Upcall {
        enum class Kind { message, reset, ping } kind = Kind::message;
        platform::Bytes message;
        bool acknowledged = false;
    };

    // Sending.
    void pump();
    std::optional<Transmission> nextTransmission();
    void openWindow();
    void offer(Transmission transmission);
    void transmitted(Kind kind);
    void onAck(std::uint16_t mask);
    void scheduleResend(std::uint16_t mask);
    void completeWindow();
    void onSendTimeout();
    void giveUp();
    // Drops what is in flight both ways; true when a message of ours was cut off.
    bool clearTransfer();

    // Receiving.
    void onControl(std::span<const std::uint8_t> packet);
    void onData(std::span<const std::uint8_t> packet);
    [[nodiscard]] bool receiveWindowComplete() const;
    [[nodiscard]] bool receiveWindowChains() const;
    void completeReceiveWindow();
    // The window's payloads joined onto the open message; false, with nothing changed, when a
    // message ending in it does not inflate.
    bool joinReceiveWindow(std::vector<platform::Bytes>& messages);
    void collectUnacknowledged(Position position, std::span<const std::uint8_t> payload);
    void sendAck(std::uint16_t mask);
    void onReceiveIdle();
    void onAckRepeat();
    void onCompletedAckRepeat();
    void flushUpcalls();

    // Timers.
    void restart(std::shared_ptr<platform::Timer>& timer, double interval,
                 void (PacketEngine::*expiry)());
    static void stop(std::shared_ptr<platform::Timer>& timer);
    static bool running(const std::shared_ptr<platform::Timer>& timer);

    platform::RunLoop& loop_;
    PacketLink& link_;
    PacketEngineDelegate& delegate_;
    const EngineTimings timings_;
    EngineCounters counters_;

    std::deque<Outgoing> outbox_;
    std::deque<platform::Bytes> controlQueue_;
    std::optional<Window> window_;
    int lastSendSet_ = -1;
    // Refused by a busy link, offered again when it has room.
    std::optional<Transmission> held_;
    // Handed to the link, which has not said yet that it went through. Its kind counts only
    // if nothing was reset meanwhile.
    bool awaitingSent_ = false;
    Kind inFlightKind_ = Kind::control;
    std::uint64_t inFlightEpoch_ = 0;
    std::uint64_t epoch_ = 0;
    bool pumping_ = false;

    int receiveSet_ = -1;
    std::array<std::optional<Slot>, kWindowSize> slots_;
    std::uint16_t receiveMask_ = 0;
    std::uint16_t lastCompletedMask_ = 0;
    int ackRepeatCount_ = 0;
    int completedRepeats_ = 0;
    // Copies of the last completed window are answered again from this time on.
    double quietUntil_ = 0;
    Partial acknowledgedPartial_;
    Partial unacknowledgedPartial_;
    bool acknowledging_ = true;
    std::vector<Upcall> upcalls_;

    std::shared_ptr<platform::Timer> sendTimer_;
    std::shared_ptr<platform::Timer> idleTimer_;
    std::shared_ptr<platform::Timer> ackTimer_;
    std::shared_ptr<platform::Timer> completedTimer_;
};

}  // namespace kavowatch
