#include "sim/PacketEngine.h"

#include <algorithm>

#include "logging/LGLog.h"
#include "sim/Compression.h"

namespace kavowatch {

using platform::Bytes;

PacketEngine::PacketEngine(platform::RunLoop& loop, PacketLink& link,
                           PacketEngineDelegate& delegate, EngineTimings timings)
    : loop_(loop), link_(link), delegate_(delegate), timings_(timings) {}

PacketEngine::~PacketEngine() {
    stop(sendTimer_);
    stop(idleTimer_);
    stop(ackTimer_);
    stop(completedTimer_);
}

bool PacketEngine::isIdle() const {
    return outbox_.empty() && controlQueue_.empty() && !window_ && !held_ && !awaitingSent_;
}

// ---- Sending ----

void PacketEngine::send(std::span<const std::uint8_t> message, bool acknowledged) {
    Outgoing outgoing;
    for (Bytes& packet : packetise(compressMessage(message), acknowledged)) {
        outgoing.packets.push_back(std::move(packet));
    }
    if (outgoing.packets.empty()) {
        return;  // an empty message has no packets to carry it
    }
    outgoing.acknowledged = acknowledged;
    outbox_.push_back(std::move(outgoing));
    ++counters_.messagesQueued;
    pump();
}

void PacketEngine::pump() {
    if (pumping_) {
        return;  // the loop further up picks up whatever was just queued
    }
    pumping_ = true;
    while (!awaitingSent_ && !held_) {
        std::optional<Transmission> next = nextTransmission();
        if (!next) {
            break;
        }
        offer(std::move(*next));
    }
    pumping_ = false;
}

std::optional<PacketEngine::Transmission> PacketEngine::nextTransmission() {
    if (!controlQueue_.empty()) {
        Transmission control{std::move(controlQueue_.front()), Kind::control};
        controlQueue_.pop_front();
        return control;
    }
    if (!window_ && !outbox_.empty()) {
        if (outbox_.front().acknowledged) {
            openWindow();
        } else {
            Outgoing& message = outbox_.front();
            message.started = true;
            Transmission packet{std::move(message.packets.front()), Kind::unacknowledged};
            message.packets.pop_front();
            if (message.packets.empty()) {
                outbox_.pop_front();
                ++counters_.messagesSent;
            }
            ++counters_.dataPacketsSent;
            return packet;
        }
    }
    if (!window_) {
        return std::nullopt;
    }
    Window& window = *window_;
    std::size_t index = 0;
    if (!window.resend.empty()) {
        index = window.resend.front();
        window.resend.pop_front();
        ++counters_.retransmissions;
    } else if (window.nextNew < window.packets.size()) {
        index = window.nextNew++;
    } else {
        return std::nullopt;  // all out: the acknowledgement is awaited
    }
    ++counters_.dataPacketsSent;
    return Transmission{window.packets[index], Kind::window};
}

void PacketEngine::openWindow() {
    Outgoing& message = outbox_.front();
    message.started = true;
    Window window;
    window.set = lastSendSet_ == 0 ? 1 : 0;
    lastSendSet_ = window.set;
    auto sequence = static_cast<std::uint8_t>(window.set * kWindowSize);
    // A window never reaches into the next message: the receiver takes a window whose last
    // packet ends a message as complete.
    while (window.packets.size() < kWindowSize && !message.packets.empty()) {
        Bytes packet = std::move(message.packets.front());
        message.packets.pop_front();
        packet[0] = static_cast<std::uint8_t>((packet[0] & 0xF0) | sequence++);
        window.packets.push_back(std::move(packet));
    }
    if (message.packets.empty()) {
        window.endsMessage = true;
        outbox_.pop_front();
    }
    window_ = std::move(window);
}

void PacketEngine::offer(Transmission transmission) {
    switch (link_.transmit(transmission.packet)) {
        case PacketLink::Outcome::sent:
        case PacketLink::Outcome::lost:
            transmitted(transmission.kind);
            break;
        case PacketLink::Outcome::pending:
            awaitingSent_ = true;
            inFlightKind_ = transmission.kind;
            inFlightEpoch_ = epoch_;
            break;
        case PacketLink::Outcome::busy:
            held_ = std::move(transmission);
            break;
    }
}

void PacketEngine::transmitted(Kind kind) {
    // The wait for an acknowledgement starts once the last packet of the window (or of the
    // packets being resent) is out.
    if (kind == Kind::window && window_ && window_->resend.empty() &&
        window_->nextNew == window_->packets.size()) {
        restart(sendTimer_, timings_.sendTimeout, &PacketEngine::onSendTimeout);
    }
}

void PacketEngine::packetSent() {
    if (!awaitingSent_) {
        return;
    }
    awaitingSent_ = false;
    if (inFlightEpoch_ == epoch_) {
        transmitted(inFlightKind_);
    }
    pump();
    flushUpcalls();
}

void PacketEngine::linkReady() {
    if (!held_) {
        return;
    }
    Transmission transmission = std::move(*held_);
    held_.reset();
    offer(std::move(transmission));
    pump();
    flushUpcalls();
}

void PacketEngine::onAck(std::uint16_t mask) {
    ++counters_.acksReceived;
    // Only the byte of the window set being sent counts; an acknowledgement for the other set
    // is a late copy for a window that is already done.
    const auto bits =
        static_cast<std::uint8_t>(window_ && window_->set == 0 ? mask >> 8 : mask & 0xFF);
    if (!window_ || bits == 0) {
        ++counters_.staleAcks;
        return;
    }
    Window& window = *window_;
    stop(sendTimer_);
    window.timeouts = 0;
    bool complete = true;
    for (std::size_t i = 0; i < window.packets.size(); ++i) {
        complete = complete && (bits & (0x80u >> i)) != 0;
    }
    if (complete) {
        completeWindow();
        return;
    }
    if (mask == window.lastMask && ++window.sameMask >= timings_.sameMaskRepeats) {
        LG_DEBUG("kavowatch: the same mask %x keeps coming, resetting", unsigned{mask});
        giveUp();
        return;
    }
    window.lastMask = mask;
    scheduleResend(mask);
}

void PacketEngine::scheduleResend(std::uint16_t mask) {
    Window& window = *window_;
    const auto bits = static_cast<std::uint8_t>(window.set == 0 ? mask >> 8 : mask & 0xFF);
    window.resend.clear();
    for (std::size_t i = 0; i < window.packets.size(); ++i) {
        if ((bits & (0x80u >> i)) == 0) {
            window.resend.push_back(i);
        }
    }
    // Packets not sent yet are in the list too; nothing new follows it.
    window.nextNew = window.packets.size();
    pump();
}

void PacketEngine::completeWindow() {
    stop(sendTimer_);
    ++counters_.windowsSent;
    if (window_->endsMessage) {
        ++counters_.messagesSent;
    }
    window_.reset();
    pump();
}

void PacketEngine::onSendTimeout() {
    if (!window_) {
        return;
    }
    ++counters_.sendTimeouts;
    if (++window_->timeouts >= timings_.sendTimeouts) {
        LG_DEBUG("kavowatch: no acknowledgement after %d tries, resetting", window_->timeouts);
        giveUp();
        return;
    }
    scheduleResend(window_->lastMask);
}

void PacketEngine::giveUp() {
    ++counters_.resetsSent;
    if (clearTransfer()) {
        ++counters_.messagesDroppedByReset;
    }
    // Queued after the clearing, so that it survives it.
    controlQueue_.push_back(controlPacket(Command::reset));
    pump();
}

void PacketEngine::sendReset() {
    giveUp();
    flushUpcalls();
}

bool PacketEngine::clearTransfer() {
    stop(sendTimer_);
    stop(idleTimer_);
    stop(ackTimer_);
    stop(completedTimer_);
    ++epoch_;
    held_.reset();
    controlQueue_.clear();
    bool cutOff = window_.has_value();
    window_.reset();
    if (!outbox_.empty() && outbox_.front().started) {
        outbox_.pop_front();
        cutOff = true;
    }
    lastSendSet_ = -1;

    receiveSet_ = -1;
    slots_ = {};
    receiveMask_ = 0;
    lastCompletedMask_ = 0;
    quietUntil_ = 0;
    ackRepeatCount_ = 0;
    for (Partial* partial : {&acknowledgedPartial_, &unacknowledgedPartial_}) {
        if (partial->open) {
            ++counters_.partialMessagesDropped;
        }
        *partial = {};
    }
    return cutOff;
}

void PacketEngine::linkLost() {
    if (clearTransfer()) {
        ++counters_.messagesDroppedByDisconnect;
    }
    counters_.messagesDroppedByDisconnect += static_cast<int>(outbox_.size());
    outbox_.clear();
    awaitingSent_ = false;
    upcalls_.clear();
}

// ---- Receiving ----

void PacketEngine::receive(std::span<const std::uint8_t> packet) {
    if (isControlPacket(packet)) {
        onControl(packet);
    } else {
        onData(packet);
    }
    flushUpcalls();
}

void PacketEngine::onControl(std::span<const std::uint8_t> packet) {
    const auto control = parseControlPacket(packet);
    if (!control) {
        ++counters_.malformedPackets;
        return;
    }
    switch (control->command) {
        case Command::ack:
            onAck(control->mask);
            break;
        case Command::ping:
            // Only a plain ping asks for attention; the phone's own echo carries 1.
            if (control->argument == 0) {
                ++counters_.pingsReceived;
                upcalls_.push_back({Upcall::Kind::ping, {}, false});
            }
            break;
        case Command::disconnect:
            break;
        case Command::reset:
            LG_DEBUG("kavowatch: reset received");
            ++counters_.resetsReceived;
            if (clearTransfer()) {
                ++counters_.messagesDroppedByReset;
            }
            upcalls_.push_back({Upcall::Kind::reset, {}, false});
            pump();
            break;
    }
}

void PacketEngine::onData(std::span<const std::uint8_t> packet) {
    const bool acknowledged = !packet.empty() && (packet[0] & 0x40) != 0;
    const auto data = parseDataPacket(packet);
    if (!data || !data->crcMatches) {
        ++(data ? counters_.crcFailures : counters_.malformedPackets);
        // The sender hears what did arrive soon, rather than at its own timeout.
        if (acknowledged && receiveSet_ != -1 && !running(ackTimer_) && !running(idleTimer_)) {
            restart(idleTimer_, timings_.receiveIdle, &PacketEngine::onReceiveIdle);
        }
        return;
    }
    if (!data->acknowledged) {
        if (data->sequence != 0) {
            // Unacknowledged packets carry sequence 0: this one lost its ARQ bit on the way.
            ++counters_.malformedPackets;
            return;
        }
        ++counters_.dataPacketsReceived;
        collectUnacknowledged(data->position, data->payload);
        return;
    }
    ++counters_.dataPacketsReceived;
    stop(idleTimer_);
    const int set = data->sequence >= kWindowSize ? 1 : 0;
    if (receiveSet_ == -1) {
        receiveSet_ = set;
    }
    if (set != receiveSet_) {
        // A copy from the window completed last: its acknowledgement may have been lost. One
        // answer per resent window will do; a burst of equal masks looks to a sender like a
        // window that cannot complete.
        ++counters_.outOfWindowPackets;
        if (lastCompletedMask_ != 0 && loop_.now() >= quietUntil_) {
            quietUntil_ = loop_.now() + timings_.receiveIdle;
            sendAck(lastCompletedMask_);
        }
        return;
    }
    // Something of the next window: the sender heard that the last one is complete.
    stop(completedTimer_);
    const std::size_t slot = data->sequence % kWindowSize;
    if (slots_[slot] &&
        std::equal(slots_[slot]->payload.begin(), slots_[slot]->payload.end(),
                   data->payload.begin(), data->payload.end()) &&
        slots_[slot]->position == data->position) {
        ++counters_.duplicatePackets;
    } else if (slots_[slot]) {
        // Two different packets for one slot: a header bit changed on the way, which the CRC
        // does not cover. Neither can be trusted; the sender fills the slot again.
        ++counters_.conflictingPackets;
        slots_[slot].reset();
        receiveMask_ = static_cast<std::uint16_t>(receiveMask_ & ~sequenceBit(data->sequence));
    } else {
        slots_[slot] = Slot{data->position, Bytes(data->payload.begin(), data->payload.end())};
        receiveMask_ = static_cast<std::uint16_t>(receiveMask_ | sequenceBit(data->sequence));
        ackRepeatCount_ = 0;
    }
    if (receiveWindowComplete()) {
        completeReceiveWindow();
        return;
    }
    if (slot == kWindowSize - 1 || endsMessage(data->position)) {
        // The window should be complete by now: tell the sender what is missing.
        sendAck(receiveMask_);
        restart(ackTimer_, timings_.ackRepeat, &PacketEngine::onAckRepeat);
    } else if (!running(ackTimer_)) {
        restart(idleTimer_, timings_.receiveIdle, &PacketEngine::onReceiveIdle);
    }
}

bool PacketEngine::receiveWindowComplete() const {
    int highest = -1;
    bool gap = false;
    for (std::size_t i = 0; i < kWindowSize; ++i) {
        if (!slots_[i]) {
            gap = true;
        } else if (gap) {
            return false;
        } else {
            highest = static_cast<int>(i);
        }
    }
    return highest == static_cast<int>(kWindowSize) - 1 ||
           (highest >= 0 && endsMessage(slots_[static_cast<std::size_t>(highest)]->position));
}

bool PacketEngine::receiveWindowChains() const {
    // Each packet must follow the one before it, and the first the message left open.
    bool open = acknowledgedPartial_.open;
    for (const auto& slot : slots_) {
        if (!slot) {
            break;
        }
        const bool starts = slot->position == Position::first || slot->position == Position::only;
        if (starts == open) {
            return false;
        }
        open = !endsMessage(slot->position);
    }
    return true;
}

void PacketEngine::completeReceiveWindow() {
    stop(idleTimer_);
    stop(ackTimer_);
    ackRepeatCount_ = 0;
    std::vector<Bytes> messages;
    if (!receiveWindowChains() || !joinReceiveWindow(messages)) {
        // A header bit changed on the way, which the CRC does not cover: the positions do not
        // chain, or a message ending here does not inflate. Unacknowledged, the window comes
        // again whole.
        ++counters_.brokenWindows;
        slots_ = {};
        receiveMask_ = 0;
        return;
    }
    sendAck(receiveMask_);
    lastCompletedMask_ = receiveMask_;
    quietUntil_ = 0;
    ++counters_.windowsReceived;
    // Should this acknowledgement be lost, the sender would wait out its timeout and try
    // three times at most; telling it again while the link is quiet spares it that.
    completedRepeats_ = 0;
    restart(completedTimer_, timings_.receiveIdle, &PacketEngine::onCompletedAckRepeat);
    for (Bytes& message : messages) {
        ++counters_.messagesReceived;
        upcalls_.push_back({Upcall::Kind::message, std::move(message), true});
    }
    slots_ = {};
    receiveMask_ = 0;
    receiveSet_ = receiveSet_ == 0 ? 1 : 0;
}

bool PacketEngine::joinReceiveWindow(std::vector<Bytes>& messages) {
    // The message left open grows in place and is cut back should the window fail; messages
    // that start here are joined apart, so a failure leaves everything as it was.
    Partial& open = acknowledgedPartial_;
    const std::size_t keptSize = open.payload.size();
    bool openEnded = false;
    Bytes fresh;
    bool inFresh = false;
    bool intact = true;
    for (const auto& slot : slots_) {
        if (!slot || !intact) {
            break;
        }
        if (slot->position == Position::first || slot->position == Position::only) {
            fresh.clear();
            inFresh = true;
        }
        Bytes& target = inFresh ? fresh : open.payload;
        if (target.size() + slot->payload.size() > kMaxMessageSize) {
            intact = false;
            break;
        }
        target.insert(target.end(), slot->payload.begin(), slot->payload.end());
        if (!endsMessage(slot->position)) {
            continue;
        }
        Inflated inflated = inflateMessage(target);
        intact = inflated.status == Inflated::Status::inflated;
        messages.push_back(std::move(inflated.data));
        openEnded = openEnded || !inFresh;
        inFresh = false;
    }
    if (!intact) {
        open.payload.resize(keptSize);
        messages.clear();
        return false;
    }
    if (openEnded || inFresh) {
        open = {};
    }
    if (inFresh) {
        open.payload = std::move(fresh);
        open.open = true;
    }
    return true;
}

void PacketEngine::collectUnacknowledged(Position position, std::span<const std::uint8_t> payload) {
    // Nothing comes again here: what cannot be joined is dropped.
    Partial& partial = unacknowledgedPartial_;
    if (position == Position::first || position == Position::only) {
        if (partial.open) {
            ++counters_.partialMessagesDropped;
        }
        partial = {};
        partial.open = true;
    } else if (!partial.open) {
        ++counters_.partialMessagesDropped;  // the rest of a message whose start was lost
        return;
    }
    if (partial.payload.size() + payload.size() > kMaxMessageSize) {
        ++counters_.partialMessagesDropped;
        partial = {};
        return;
    }
    partial.payload.insert(partial.payload.end(), payload.begin(), payload.end());
    if (!endsMessage(position)) {
        return;
    }
    Inflated inflated = inflateMessage(partial.payload);
    partial = {};
    // Every message is compressed whole; anything else is a message broken on the way.
    if (inflated.status != Inflated::Status::inflated) {
        LG_DEBUG("kavowatch: a received message does not inflate; dropped");
        ++counters_.messagesUndecodable;
        return;
    }
    ++counters_.messagesReceived;
    upcalls_.push_back({Upcall::Kind::message, std::move(inflated.data), false});
}

void PacketEngine::sendAck(std::uint16_t mask) {
    if (!acknowledging_) {
        ++counters_.acksSuppressed;
        return;
    }
    ++counters_.acksSent;
    controlQueue_.push_back(ackPacket(mask));
    pump();
}

void PacketEngine::onReceiveIdle() {
    if (receiveMask_ == 0) {
        return;  // nothing of this window yet: the sender's own timeout covers it
    }
    sendAck(receiveMask_);
    restart(ackTimer_, timings_.ackRepeat, &PacketEngine::onAckRepeat);
}

void PacketEngine::onAckRepeat() {
    if (receiveMask_ == 0) {
        return;
    }
    if (++ackRepeatCount_ >= timings_.ackRepeats) {
        LG_DEBUG("kavowatch: a receive window stays incomplete, resetting");
        giveUp();
        return;
    }
    sendAck(receiveMask_);
    restart(ackTimer_, timings_.ackRepeat, &PacketEngine::onAckRepeat);
}

void PacketEngine::onCompletedAckRepeat() {
    if (lastCompletedMask_ == 0) {
        return;
    }
    sendAck(lastCompletedMask_);
    if (++completedRepeats_ < timings_.completedAckRepeats) {
        restart(completedTimer_, timings_.receiveIdle, &PacketEngine::onCompletedAckRepeat);
    }
}

void PacketEngine::flushUpcalls() {
    while (!upcalls_.empty()) {
        std::vector<Upcall> due = std::move(upcalls_);
        upcalls_.clear();
        for (Upcall& upcall : due) {
            switch (upcall.kind) {
                case Upcall::Kind::message:
                    delegate_.messageReceived(std::move(upcall.message), upcall.acknowledged);
                    break;
                case Upcall::Kind::reset:
                    delegate_.resetReceived();
                    break;
                case Upcall::Kind::ping:
                    delegate_.pingReceived();
                    break;
            }
        }
    }
}

// ---- Timers ----

void PacketEngine::restart(std::shared_ptr<platform::Timer>& timer, double interval,
                           void (PacketEngine::*expiry)()) {
    stop(timer);
    timer = loop_.scheduleTimer(interval, false, [this, expiry] {
        (this->*expiry)();
        flushUpcalls();
    });
}

void PacketEngine::stop(std::shared_ptr<platform::Timer>& timer) {
    if (timer) {
        timer->invalidate();
        timer.reset();
    }
}

bool PacketEngine::running(const std::shared_ptr<platform::Timer>& timer) {
    return timer && timer->isValid();
}

}  // namespace kavowatch
