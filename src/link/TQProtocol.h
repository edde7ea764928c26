#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "link/TQBlePacketTransferDelegate.h"
#include "link/TQControlModel.h"
#include "link/TQDataDelegate.h"
#include "link/TQDataModel.h"
#include "link/TQPacketTransport.h"
#include "link/TQSendOutcome.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"

// The link's packet protocol: compresses each message, cuts it into CRC-protected packets and
// sends acknowledged messages in windows of up to eight that the watch answers with a bit mask;
// lost packets are resent, three timers watch both directions and a reset clears both sides
// when a window cannot be completed. Received packets are checked, acknowledged, joined and
// inflated back into messages.
//
// Everything runs on the loop given at construction: the transport's callbacks, the timers and
// every call into this class (debug builds check it). Timer starts and stops made during a step
// are held as pending changes and applied, in order, when the outermost entry into the protocol
// ends; within the step, whether a timer runs is answered as the step found it, so a timer
// started earlier in the same step does not count as running yet.
//
// Upward calls are made once the step that caused them has finished, so a delegate may hand
// down its next message from inside any of them. Destroying the protocol from inside one of
// them is not supported.
class TQProtocol final : public TQBlePacketTransferDelegate {
public:
    static constexpr std::size_t kPacketHeaderSize = 4;
    static constexpr std::size_t kMaxPayload = 148;
    static constexpr std::size_t kMaxPacketSize = kPacketHeaderSize + kMaxPayload;
    static constexpr std::size_t kControlPacketSize = 22;
    static constexpr std::size_t kWindowSize = 8;

    static constexpr double kSendTimeout = 2.1;  // T_SEND: acknowledgement of a sent window
    static constexpr double kRecvTimeout = 0.9;  // T_RECV: next packet of a receive window
    static constexpr double kAckTimeout = 3.1;   // T_ACK: completion of a receive window

    // Position of a data packet within its message (header bits 5-4).
    enum Position : std::uint8_t { first = 0, only = 1, middle = 2, last = 3 };
    // Control packet commands (header bits 5-4).
    enum Command : std::uint8_t { ack = 0, ping = 1, disconnect = 2, reset = 3 };
    using DropReason = TQSendOutcome::DropReason;

    // The window set in use is kept in defaults under "currentSendWindowSet". Both are borrowed
    // and outlive the protocol.
    TQProtocol(platform::RunLoop& loop, platform::UserDefaults& defaults);
    ~TQProtocol() override;
    TQProtocol(const TQProtocol&) = delete;
    TQProtocol& operator=(const TQProtocol&) = delete;

    // Both are borrowed and must outlive the protocol. Clears all transfer state.
    void initialize(TQDataDelegate& dataDelegate, TQPacketTransport& transport);

    // Compresses, packetises and queues one message and starts sending it. Every message
    // handed down ends with exactly one onDataSendCompleted, with its outcome: acknowledged by
    // the watch, sent without acknowledgement, or dropped and why.
    void packetsFromDataModel(const TQDataModel& model);

    // One 22-byte control packet.
    [[nodiscard]] static std::vector<platform::Bytes> packetsFromControlModel(
        const TQControlModel& model);
    // The data packets of one compressed message, in order, with sequence number 0.
    [[nodiscard]] static std::vector<platform::Bytes> packetsFromPayload(
        std::span<const std::uint8_t> payload, std::uint32_t arqVal);
    // Joins the payloads of a message's packets and inflates them; bytes that are not a
    // compressed stream come back as they are. Nothing for no packets, or for a stream that
    // ends early or inflates past the link's message bound.
    [[nodiscard]] static std::optional<TQDataModel> dataModelFromPackets(
        std::span<const platform::Bytes> packets);

    // After a connection the platform restored: continue the window sets where they were.
    void restoreCurrentSendWindowSetValue();
    // Clears both directions' transfer state; the messages of the window in flight are dropped
    // for `reason`.
    void resetRetransmission(DropReason reason = DropReason::reset);
    // Drops every queued packet (their messages for `reason`) and any half-received message.
    void abortSending(DropReason reason = DropReason::reset);

    // Queue one control packet each; sent before any further data packet.
    void sendAck(std::uint16_t mask);
    void sendReset();
    void sendDisconnect();

    // TQBlePacketTransferDelegate
    void onDataReceived(std::span<const std::uint8_t> packet) override;
    void onPacketSent(bool success) override;

private:
    using Packet = platform::Bytes;

    // What was last handed to the transport and is not yet confirmed.
    enum class InTransmission { none, control, windowData, unackData, dropped };
    enum class TimerId { send, recv, ack };
    struct TimerChange {
        TimerId id;
        bool start;
    };

    // Packets of a message being reassembled.
    struct PartialMessage {
        std::vector<Packet> packets;
        std::size_t payloadBytes = 0;
        void clear();
    };

    struct Upcall {
        enum class Kind { sendCompleted, received, ping, reset } kind;
        platform::Bytes message;
        TQSendOutcome outcome;
    };

    class EntryScope;

    // Sending.
    void continueSendingPackets();
    std::vector<Packet> makeWindow();
    void sendWindow(std::vector<Packet> window);
    void continueSendingWindow();
    void sendNextPacket();
    void queueControlPacket(Packet packet);
    void transmit(InTransmission kind, std::span<const std::uint8_t> packet);
    void handlePacketSent(bool success);
    void addPacketsToRetranQueue(std::uint16_t mask);
    void completeWindow();
    void resetAndNotifyPeer();
    void storeCurrentSendWindowSet();
    [[nodiscard]] bool isPacketSendInProgress() const {
        return inTransmission_ != InTransmission::none;
    }

    // Receiving.
    void processReceivedPacket(std::span<const std::uint8_t> packet);
    void processDataPacket(std::span<const std::uint8_t> packet);
    void onControlReceiveCompleted(std::span<const std::uint8_t> packet);
    void onAckReceived(std::uint16_t mask, std::uint8_t high, std::uint8_t low);
    void processReceivedWindow();
    [[nodiscard]] bool isWindowReceiveCompleted(int windowSet) const;
    bool collect(PartialMessage& message, Packet packet);
    void onDataReceiveCompleted(TQDataModel model);

    // Timers.
    void start_t_send() { changeTimer(TimerId::send, true); }
    void start_t_recv() { changeTimer(TimerId::recv, true); }
    void start_t_ack() { changeTimer(TimerId::ack, true); }
    void stop_t_send() { changeTimer(TimerId::send, false); }
    void stop_t_recv() { changeTimer(TimerId::recv, false); }
    void stop_t_ack() { changeTimer(TimerId::ack, false); }
    void changeTimer(TimerId id, bool start);
    void applyTimerChanges();
    void applyTimerChange(TimerId id, bool start);
    std::shared_ptr<platform::Timer>& timerField(TimerId id);
    // As the step found it: changes still pending do not count until the step ends.
    [[nodiscard]] bool isTimerRunning(TimerId id);
    void expire_t_send();
    void expire_t_recv();
    void expire_t_ack();

    // Upward calls, made when the outermost step ends.
    void completeMessages(std::size_t count, const TQSendOutcome& outcome);
    void endStep();
    void flushUpcalls();

    platform::RunLoop& loop_;
    platform::UserDefaults& defaults_;
    TQDataDelegate* dataDelegate_ = nullptr;
    TQPacketTransport* transport_ = nullptr;

    // Send side.
    std::deque<Packet> dataPacketQueue_;
    std::deque<Packet> controlPacketQueue_;
    InTransmission inTransmission_ = InTransmission::none;
    bool sentPacketArq_ = false;
    bool startSendTimer_ = false;
    int currentSendWindowSet_ = -1;
    std::vector<Packet> currentSendWindow_;
    int sentIndexOfWindow_ = -1;
    std::deque<std::size_t> retranPacketIndexQueue_;
    std::uint16_t lastRecvSeqMask_ = 0;
    int countSameRecvSeqMask_ = 0;
    int countTsendExpire_ = 0;

    // Receive side. Acknowledged and unacknowledged messages are reassembled apart, so one
    // sent between the windows of the other cannot break it.
    PartialMessage receivedPackets_;
    PartialMessage receivedUnackPackets_;
    int currentRecvWindowSet_ = -1;
    std::array<std::optional<Packet>, kWindowSize> currentRecvWindow_;
    std::uint16_t currentRecvWindowMask_ = 0;
    std::uint16_t lastProcessedWindowMask_ = 0;
    int countTackExpire_ = 0;
    int countWindowRecvWithRetarn_ = 0;

    std::shared_ptr<platform::Timer> t_send_;
    std::shared_ptr<platform::Timer> t_recv_;
    std::shared_ptr<platform::Timer> t_ack_;
    // Starts and stops of the step in progress, in the order they were made.
    std::vector<TimerChange> pendingTimerChanges_;

    // Re-entrancy. The transport confirms an accepted packet from inside sendData; those
    // confirmations are handled one after another in transmit() instead of nesting, so a whole
    // message never turns into a deep call chain.
    int depth_ = 0;
    std::deque<Upcall> upcalls_;
    bool inTransportCall_ = false;
    bool drainingConfirmations_ = false;
    std::optional<bool> deferredConfirmation_;

    // Timer callbacks hold it weakly, so none outlives the protocol.
    platform::WeakPtrFactory<TQProtocol> weak_{*this, loop_};
};
