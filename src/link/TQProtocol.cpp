#include "link/TQProtocol.h"

#include <algorithm>
#include <string>
#include <utility>

#include "link/TQCrc16.h"
#include "logging/LGLog.h"
#include "platform/foundation/LoopThread.h"
#include "utils/DataCompression.h"

namespace {

using platform::Bytes;

constexpr const char* kCurrentSendWindowSetKey = "currentSendWindowSet";

// The acknowledgement that means all n packets of a window arrived, by window set and n.
constexpr std::uint16_t kExpectedMasks[2][TQProtocol::kWindowSize + 1] = {
    {0x0000, 0x8000, 0xC000, 0xE000, 0xF000, 0xF800, 0xFC00, 0xFE00, 0xFF00},
    {0x0000, 0x0080, 0x00C0, 0x00E0, 0x00F0, 0x00F8, 0x00FC, 0x00FE, 0x00FF},
};

// Deflate grows incompressible data by a few bytes per 16 KiB block, so the payloads of a
// message that inflates within the link's bound never come near this.
constexpr std::size_t kMaxJoinedPayload =
    compression::kMaxLinkMessage + compression::kMaxLinkMessage / 64;
// Deflate expands at most 1032-fold: a shorter input cannot reach the bound.

int readPos(std::uint8_t header) {
    return (header >> 4) & 0x03;
}
int readSeq(std::uint8_t header) {
    return header & 0x0F;
}
bool readArq(std::uint8_t header) {
    return (header & 0x40) != 0;
}
// Only and last packets have the low position bit set.
bool endsMessage(std::uint8_t header) {
    return (header & 0x10) != 0;
}

std::size_t countMessageEnds(const auto& packets) {
    return static_cast<std::size_t>(
        std::count_if(packets.begin(), packets.end(),
                      [](const Bytes& packet) { return endsMessage(packet[0]); }));
}

// The payload of a well-formed data packet: 4 to 152 bytes whose length byte, 1 or more,
// fits in what arrived.
std::optional<std::span<const std::uint8_t>> payloadOf(std::span<const std::uint8_t> packet) {
    if (packet.size() < TQProtocol::kPacketHeaderSize ||
        packet.size() > TQProtocol::kMaxPacketSize) {
        return std::nullopt;
    }
    const std::size_t length = packet[1];
    if (length < 1 || length > packet.size() - TQProtocol::kPacketHeaderSize) {
        return std::nullopt;
    }
    return packet.subspan(TQProtocol::kPacketHeaderSize, length);
}

TQProtocol::Position makePos(std::size_t index, std::size_t count) {
    if (count == 1) {
        return TQProtocol::only;
    }
    if (index == 1) {
        return TQProtocol::first;
    }
    return index == count ? TQProtocol::last : TQProtocol::middle;
}

// A packet as the log shows it: its text when it is all ASCII.
// A view of the packet's own bytes: the line is formatted while the packet is there.
std::string_view asciiText(std::span<const std::uint8_t> packet) {
    if (std::any_of(packet.begin(), packet.end(), [](std::uint8_t byte) { return byte >= 0x80; })) {
        return "(null)";
    }
    return {reinterpret_cast<const char*>(packet.data()), packet.size()};
}

const char* packetTypeName(bool control) {
    return control ? "CONTROL_PACKET" : "DATA_PACKET";
}

}  // namespace

// Counts the protocol's entry points on the stack; the outermost one applies the timer changes
// and makes the upward calls that the step queued, once the state is consistent again.
class TQProtocol::EntryScope {
public:
    explicit EntryScope(TQProtocol& protocol,
                        platform::SourceLocation where = platform::SourceLocation::current())
        : protocol_(protocol) {
        platform::assertOnLoopThread(protocol_.loop_, where);
        ++protocol_.depth_;
    }
    ~EntryScope() {
        if (--protocol_.depth_ == 0) {
            protocol_.endStep();
        }
    }
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;

private:
    TQProtocol& protocol_;
};

void TQProtocol::PartialMessage::clear() {
    packets.clear();
    payloadBytes = 0;
}

TQProtocol::TQProtocol(platform::RunLoop& loop, platform::UserDefaults& defaults)
    : loop_(loop), defaults_(defaults) {}

TQProtocol::~TQProtocol() {
    for (auto* timer : {&t_send_, &t_recv_, &t_ack_}) {
        if (*timer) {
            (*timer)->invalidate();
        }
    }
}

void TQProtocol::initialize(TQDataDelegate& dataDelegate, TQPacketTransport& transport) {
    platform::assertOnLoopThread(loop_);
    dataDelegate_ = &dataDelegate;
    transport_ = &transport;
    dataPacketQueue_.clear();
    controlPacketQueue_.clear();
    receivedPackets_.clear();
    receivedUnackPackets_.clear();
    resetRetransmission();
}

// ---- Packets ----

std::vector<Bytes> TQProtocol::packetsFromPayload(std::span<const std::uint8_t> payload,
                                                  std::uint32_t arqVal) {
    const std::size_t count = (payload.size() + kMaxPayload - 1) / kMaxPayload;
    std::vector<Bytes> packets;
    packets.reserve(count);
    for (std::size_t index = 1; index <= count; ++index) {
        const std::size_t offset = (index - 1) * kMaxPayload;
        const auto chunk = payload.subspan(offset, std::min(kMaxPayload, payload.size() - offset));
        const std::uint16_t crc = crc16(chunk);
        Bytes packet(kPacketHeaderSize + chunk.size());
        packet[0] = static_cast<std::uint8_t>(makePos(index, count) << 4 | (arqVal & 1U) << 6);
        packet[1] = static_cast<std::uint8_t>(chunk.size());
        packet[2] = static_cast<std::uint8_t>(crc >> 8);
        packet[3] = static_cast<std::uint8_t>(crc & 0xFF);
        std::copy(chunk.begin(), chunk.end(), packet.begin() + kPacketHeaderSize);
        packets.push_back(std::move(packet));
    }
    return packets;
}

std::vector<Bytes> TQProtocol::packetsFromControlModel(const TQControlModel& model) {
    Bytes packet(kControlPacketSize, 0);
    packet[0] =
        static_cast<std::uint8_t>(0x80U | (model.command & 0x03U) << 4 | (model.payload & 0x0FU));
    return {std::move(packet)};
}

std::optional<TQDataModel> TQProtocol::dataModelFromPackets(std::span<const Bytes> packets) {
    if (packets.empty()) {
        return std::nullopt;
    }
    Bytes joined;
    for (const Bytes& packet : packets) {
        if (packet.size() <= kPacketHeaderSize) {
            continue;
        }
        const std::size_t length =
            std::min({std::size_t{packet[1]}, packet.size() - kPacketHeaderSize, kMaxPayload});
        joined.insert(joined.end(), packet.begin() + kPacketHeaderSize,
                      packet.begin() + static_cast<std::ptrdiff_t>(kPacketHeaderSize + length));
    }
    auto inflated = compression::inflateLinkMessage(joined);
    if (auto* bytes = std::get_if<platform::Bytes>(&inflated)) {
        LG_VERBOSE("packetsFromDataModel : data Length [%u, %u]", joined.size(), bytes->size());
        return TQDataModel{std::move(*bytes), 0};
    }
    LG_ERROR("ERROR : Decompress Fail.");
    // What does not inflate goes up as it came, except a stream that would inflate past the
    // bound: that is no uncompressed message, and handing it up raw would pass the bound on.
    if (std::get<compression::InflateFailure>(inflated) == compression::InflateFailure::tooLarge) {
        LG_ERROR("TQProtocol - message dropped: larger than %u bytes",
                 compression::kMaxLinkMessage);
        return std::nullopt;
    }
    return TQDataModel{std::move(joined), 0};
}

// ---- Sending ----

void TQProtocol::packetsFromDataModel(const TQDataModel& model) {
    EntryScope scope(*this);
    if (transport_ == nullptr) {
        LG_ERROR("TQProtocol - packetsFromDataModel before initialize: message dropped");
        return;
    }
    const auto compressed = compression::dataDeflate(model.data);
    if (!compressed) {
        LG_ERROR("TQProtocol - packetsFromDataModel: compression failed, message dropped");
        completeMessages(1, TQSendOutcome::dropped(DropReason::unencodable));
        return;
    }
    LG_VERBOSE("TQProtocol - packetsFromDataModel : data Length [%u, %u]", model.data.size(),
               compressed->size());
    if (!transport_->isConnected()) {
        LG_WARN("TQProtocol - packetsFromDataModel: BLE NOT CONNECTED");
        completeMessages(1, TQSendOutcome::dropped(DropReason::notConnected));
        return;
    }
    auto packets = packetsFromPayload(*compressed, model.arqVal);
    LG_VERBOSE("TQProtocol - Packet Count = %ld\n", packets.size());
    if (packets.empty()) {
        completeMessages(1, TQSendOutcome::dropped(DropReason::unencodable));
        return;
    }
    for (Packet& packet : packets) {
        dataPacketQueue_.push_back(std::move(packet));
    }
    if (!isPacketSendInProgress()) {
        continueSendingPackets();
    }
}

void TQProtocol::continueSendingPackets() {
    if (isPacketSendInProgress() || dataPacketQueue_.empty()) {
        return;
    }
    const Packet& head = dataPacketQueue_.front();
    if (!readArq(head[0])) {
        sentPacketArq_ = false;
        transmit(InTransmission::unackData, head);
        return;
    }
    if (currentSendWindow_.empty()) {
        sendWindow(makeWindow());
    }
}

std::vector<TQProtocol::Packet> TQProtocol::makeWindow() {
    LG_VERBOSE("Making new window...");
    if (dataPacketQueue_.empty()) {
        LG_VERBOSE("No packet remaining in packet queue");
        currentSendWindow_.clear();
        return {};
    }
    if (!readArq(dataPacketQueue_.front()[0])) {
        LG_VERBOSE("Packet ARQ in OFF");
        return {};
    }
    currentSendWindowSet_ = currentSendWindowSet_ == 0 ? 1 : 0;
    storeCurrentSendWindowSet();

    std::vector<Packet> window;
    auto sequence = static_cast<std::uint8_t>(currentSendWindowSet_ == 0 ? 0 : kWindowSize);
    while (!dataPacketQueue_.empty() && window.size() < kWindowSize) {
        Packet packet = std::move(dataPacketQueue_.front());
        dataPacketQueue_.pop_front();
        packet[0] = static_cast<std::uint8_t>((packet[0] & 0xF0) | sequence++);
        const bool ends = endsMessage(packet[0]);
        window.push_back(std::move(packet));
        if (ends) {
            LG_VERBOSE("Window Created");
            break;
        }
    }
    LG_VERBOSE("currentSendWindowSet: %d. Total packets in window: %d", currentSendWindowSet_,
               window.size());
    return window;
}

// Left to the defaults' next delayed write: writing the file for every window cost more than
// the window. A crash before that write leaves the other set on disk, which costs one reset of
// the link after the restart.
void TQProtocol::storeCurrentSendWindowSet() {
    defaults_.set(kCurrentSendWindowSetKey, currentSendWindowSet_);
}

void TQProtocol::sendWindow(std::vector<Packet> window) {
    if (window.empty()) {
        return;
    }
    LG_VERBOSE("Sending window...");
    currentSendWindow_ = std::move(window);
    sentIndexOfWindow_ = -1;
    retranPacketIndexQueue_.clear();
    lastRecvSeqMask_ = 0;
    countSameRecvSeqMask_ = 0;
    countTackExpire_ = 0;
    countTsendExpire_ = 0;
    continueSendingWindow();
}

void TQProtocol::continueSendingWindow() {
    // The confirmation of the packet in transmission comes back here.
    if (isPacketSendInProgress()) {
        return;
    }
    startSendTimer_ = false;
    if (currentSendWindow_.empty()) {
        LG_VERBOSE("currentSendWindow has no packet. not sending window...");
        continueSendingPackets();
        return;
    }
    if (!retranPacketIndexQueue_.empty()) {
        const Packet& packet = currentSendWindow_[retranPacketIndexQueue_.front()];
        LG_DEBUG("Retransmitting lost packet of window...with seq: %d", readSeq(packet[0]));
        startSendTimer_ = retranPacketIndexQueue_.size() == 1;
        sentPacketArq_ = true;
        transmit(InTransmission::windowData, packet);
        return;
    }
    const auto next = static_cast<std::size_t>(sentIndexOfWindow_ + 1);
    if (next < kWindowSize && next < currentSendWindow_.size()) {
        const Packet& packet = currentSendWindow_[next];
        startSendTimer_ = next == kWindowSize - 1 || endsMessage(packet[0]);
        ++sentIndexOfWindow_;
        sentPacketArq_ = true;
        transmit(InTransmission::windowData, packet);
    }
}

// Control packets go first, then what the current window still owes, then the queue.
void TQProtocol::sendNextPacket() {
    if (isPacketSendInProgress()) {
        return;
    }
    if (!controlPacketQueue_.empty()) {
        transmit(InTransmission::control, controlPacketQueue_.front());
        return;
    }
    if (!currentSendWindow_.empty()) {
        continueSendingWindow();
    }
    continueSendingPackets();
}

void TQProtocol::queueControlPacket(Packet packet) {
    controlPacketQueue_.push_back(std::move(packet));
    if (!isPacketSendInProgress()) {
        transmit(InTransmission::control, controlPacketQueue_.front());
    }
}

void TQProtocol::transmit(InTransmission kind, std::span<const std::uint8_t> packet) {
    if (transport_ == nullptr) {
        return;  // not initialised: the packet waits in its queue
    }
    inTransmission_ = kind;
    inTransportCall_ = true;
    transport_->sendData(packet);
    inTransportCall_ = false;
    if (drainingConfirmations_) {
        return;
    }
    drainingConfirmations_ = true;
    while (deferredConfirmation_) {
        const bool success = *deferredConfirmation_;
        deferredConfirmation_.reset();
        handlePacketSent(success);
    }
    drainingConfirmations_ = false;
}

void TQProtocol::onPacketSent(bool success) {
    EntryScope scope(*this);
    if (inTransportCall_) {
        deferredConfirmation_ = success;
        return;
    }
    handlePacketSent(success);
}

void TQProtocol::handlePacketSent(bool success) {
    LG_VERBOSE(
        "onPacketSent: isPacketSendInProgress: %@ - packetType: %@ - sentPacketArq: %@ - "
        "success: %@ - startSendTimer: %@",
        isPacketSendInProgress(), packetTypeName(inTransmission_ == InTransmission::control),
        sentPacketArq_, success, startSendTimer_);
    if (!isPacketSendInProgress()) {
        return;
    }
    const InTransmission kind = inTransmission_;
    inTransmission_ = InTransmission::none;
    switch (kind) {
        case InTransmission::control:
            if (success && !controlPacketQueue_.empty()) {
                controlPacketQueue_.pop_front();
            }
            break;
        case InTransmission::windowData:
            if (success) {
                if (startSendTimer_) {
                    stop_t_send();
                    start_t_send();
                }
                if (!retranPacketIndexQueue_.empty()) {
                    retranPacketIndexQueue_.pop_front();
                }
            } else if (retranPacketIndexQueue_.empty() && sentIndexOfWindow_ >= 0) {
                --sentIndexOfWindow_;  // the same packet goes again
            }
            break;
        case InTransmission::unackData:
            if (success && !dataPacketQueue_.empty()) {
                const bool ends = endsMessage(dataPacketQueue_.front()[0]);
                dataPacketQueue_.pop_front();
                if (ends) {
                    completeMessages(1, TQSendOutcome::sentUnacknowledged());
                }
            }
            break;
        case InTransmission::none:
        case InTransmission::dropped:
            break;
    }
    sendNextPacket();
}

void TQProtocol::addPacketsToRetranQueue(std::uint16_t mask) {
    retranPacketIndexQueue_.clear();
    sentIndexOfWindow_ = static_cast<int>(currentSendWindow_.size());
    const int top = currentSendWindowSet_ == 1 ? 7 : 15;
    for (std::size_t index = 0; index < currentSendWindow_.size(); ++index) {
        if (((mask >> (top - static_cast<int>(index))) & 1U) == 0) {
            retranPacketIndexQueue_.push_back(index);
        }
    }
}

void TQProtocol::completeWindow() {
    const std::size_t finished = countMessageEnds(currentSendWindow_);
    currentSendWindow_.clear();
    if (!isPacketSendInProgress()) {
        continueSendingPackets();
    }
    completeMessages(finished, TQSendOutcome::acknowledged());
}

void TQProtocol::sendAck(std::uint16_t mask) {
    EntryScope scope(*this);
    Packet packet = std::move(packetsFromControlModel({ack, 0}).front());
    packet[1] = static_cast<std::uint8_t>(mask >> 8);
    packet[2] = static_cast<std::uint8_t>(mask & 0xFF);
    queueControlPacket(std::move(packet));
}

void TQProtocol::sendReset() {
    EntryScope scope(*this);
    queueControlPacket(std::move(packetsFromControlModel({reset, 0}).front()));
}

void TQProtocol::sendDisconnect() {
    EntryScope scope(*this);
    queueControlPacket(std::move(packetsFromControlModel({disconnect, 0}).front()));
}

// Our own state goes first, so the reset is the first packet that leaves afterwards.
void TQProtocol::resetAndNotifyPeer() {
    resetRetransmission(DropReason::reset);
    abortSending(DropReason::reset);
    sendReset();
}

void TQProtocol::resetRetransmission(DropReason reason) {
    EntryScope scope(*this);
    LG_INFO("Resetting transmission...");
    stop_t_send();
    stop_t_recv();
    stop_t_ack();
    inTransmission_ = InTransmission::none;
    startSendTimer_ = false;
    const std::size_t dropped = countMessageEnds(currentSendWindow_);
    currentSendWindow_.clear();
    currentSendWindowSet_ = -1;
    sentIndexOfWindow_ = -1;
    retranPacketIndexQueue_.clear();
    lastRecvSeqMask_ = 0;
    countSameRecvSeqMask_ = 0;
    countTsendExpire_ = 0;
    currentRecvWindowSet_ = -1;
    currentRecvWindow_.fill(std::nullopt);
    currentRecvWindowMask_ = 0;
    lastProcessedWindowMask_ = 0;
    countTackExpire_ = 0;
    completeMessages(dropped, TQSendOutcome::dropped(reason));
}

void TQProtocol::abortSending(DropReason reason) {
    EntryScope scope(*this);
    const std::size_t dropped = countMessageEnds(dataPacketQueue_);
    dataPacketQueue_.clear();
    controlPacketQueue_.clear();
    receivedPackets_.clear();
    receivedUnackPackets_.clear();
    // Its confirmation must not take a queue entry that came later.
    if (inTransmission_ == InTransmission::control ||
        inTransmission_ == InTransmission::unackData) {
        inTransmission_ = InTransmission::dropped;
    }
    completeMessages(dropped, TQSendOutcome::dropped(reason));
}

void TQProtocol::restoreCurrentSendWindowSetValue() {
    platform::assertOnLoopThread(loop_);
    const auto stored = defaults_.integer(kCurrentSendWindowSetKey);
    if (!stored) {
        return;
    }
    if (*stored != 0 && *stored != 1) {
        LG_WARN("TQProtocol - stored currentSendWindowSet %@ ignored", *stored);
        return;
    }
    currentSendWindowSet_ = static_cast<int>(*stored);
    LG_VERBOSE("TQProtocol - restoreCurrentSendWindowSetValue - %u", *stored);
}

// ---- Receiving ----

void TQProtocol::onDataReceived(std::span<const std::uint8_t> packet) {
    EntryScope scope(*this);
    processReceivedPacket(packet);
}

void TQProtocol::processReceivedPacket(std::span<const std::uint8_t> packet) {
    if (packet.empty()) {
        LG_WARN("TQProtocol - empty packet dropped");
        return;
    }
    if ((packet[0] & 0x80) != 0) {
        onControlReceiveCompleted(packet);
        return;
    }
    processDataPacket(packet);
}

void TQProtocol::processDataPacket(std::span<const std::uint8_t> packet) {
    LG_VERBOSE("Received data - %@", asciiText(packet));
    const std::uint8_t header = packet[0];
    const auto payload = payloadOf(packet);
    const unsigned lengthByte = packet.size() > 1 ? packet[1] : 0;
    if (!readArq(header)) {
        if (!payload) {
            LG_WARN("TQProtocol - malformed packet dropped: %u bytes, payload length %u",
                    packet.size(), lengthByte);
            return;
        }
        collect(receivedUnackPackets_,
                Packet(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(
                                                            kPacketHeaderSize + payload->size())));
        return;
    }

    stop_t_recv();
    LG_VERBOSE("Processing Packet -- Seq: %d -- Pos: %d", readSeq(header), readPos(header));
    if (!payload) {
        LG_WARN("CRC fail");
        LG_WARN("TQProtocol - packet of %u bytes with payload length %u", packet.size(),
                lengthByte);
        start_t_recv();
        return;
    }
    const std::uint16_t calculated = crc16(*payload);
    if (calculated != (packet[2] << 8 | packet[3])) {
        LG_WARN("CRC fail");
        LG_WARN("Received CRC: %x %x", packet[2], packet[3]);
        LG_WARN("Calculated CRC: %x", calculated);
        start_t_recv();
        return;
    }

    const int sequence = readSeq(header);
    if ((sequence >= 8 && currentRecvWindowSet_ == 0) ||
        (sequence < 8 && currentRecvWindowSet_ == 1)) {
        LG_VERBOSE("Seq didn't satisfy current accept window - currentRecvWindowSet: %u - seq: %u",
                   currentRecvWindowSet_, sequence);
        sendAck(lastProcessedWindowMask_);
        return;
    }
    if (currentRecvWindowSet_ == -1) {
        LG_VERBOSE("No choice of window");
        currentRecvWindowSet_ = sequence >= 8 ? 1 : 0;
    }

    const auto slot = static_cast<std::size_t>(sequence % 8);
    currentRecvWindow_[slot] =
        Packet(packet.begin(),
               packet.begin() + static_cast<std::ptrdiff_t>(kPacketHeaderSize + payload->size()));
    currentRecvWindowMask_ =
        static_cast<std::uint16_t>(currentRecvWindowMask_ | 1U << (15 - sequence));
    const auto filled = [this](std::size_t index) { return currentRecvWindow_[index] ? 1 : 0; };
    LG_VERBOSE("recvWindow: -------- [ %d - %d - %d - %d - %d - %d - %d - %d]", filled(0),
               filled(1), filled(2), filled(3), filled(4), filled(5), filled(6), filled(7));

    if (currentRecvWindowMask_ == lastProcessedWindowMask_) {
        LG_VERBOSE("Sending Recv Mask: %x", currentRecvWindowMask_);
        sendAck(currentRecvWindowMask_);
        return;
    }

    countTackExpire_ = 0;
    if (isWindowReceiveCompleted(currentRecvWindowSet_)) {
        LG_VERBOSE("Window receive completed");
        if (isTimerRunning(TimerId::ack)) {
            LG_VERBOSE("T_ACK is running...");
            LG_VERBOSE("currentRecvWindowMask: %x", currentRecvWindowMask_);
            stop_t_ack();
            LG_VERBOSE("Window receive completed with re-transmission");
            ++countWindowRecvWithRetarn_;
        }
        LG_VERBOSE("Sending Recv Mask: %x", currentRecvWindowMask_);
        sendAck(currentRecvWindowMask_);
        lastProcessedWindowMask_ = currentRecvWindowMask_;
        processReceivedWindow();
        currentRecvWindowSet_ = currentRecvWindowSet_ == 0 ? 1 : 0;
        currentRecvWindowMask_ = 0;
        currentRecvWindow_.fill(std::nullopt);
        return;
    }

    const bool ends = endsMessage(header);
    if (slot == kWindowSize - 1 || ends) {
        stop_t_ack();
        start_t_ack();
        LG_VERBOSE("Sending Recv Mask: %x", currentRecvWindowMask_);
        sendAck(currentRecvWindowMask_);
    }
    if (!ends && !isTimerRunning(TimerId::ack)) {
        start_t_recv();
    }
}

bool TQProtocol::isWindowReceiveCompleted(int windowSet) const {
    const int top = windowSet == 1 ? 7 : 15;
    bool gap = false;
    int highest = -1;
    for (int slot = 0; slot < static_cast<int>(kWindowSize); ++slot) {
        if (((currentRecvWindowMask_ >> (top - slot)) & 1U) == 0) {
            gap = true;
        } else if (gap) {
            LG_VERBOSE("Window not completed");
            return false;
        } else {
            highest = slot;
        }
    }
    const auto& packet = highest >= 0 ? currentRecvWindow_[static_cast<std::size_t>(highest)]
                                      : std::optional<Packet>{};
    if (!packet) {
        LG_VERBOSE("Window not completed");
        return false;
    }
    LG_VERBOSE("lastPktIndexWindow: %d - pos: %d", highest, readPos((*packet)[0]));
    if (highest == static_cast<int>(kWindowSize) - 1 || endsMessage((*packet)[0])) {
        return true;
    }
    LG_VERBOSE("Window not completed");
    return false;
}

void TQProtocol::processReceivedWindow() {
    LG_VERBOSE("Processing received window...");
    int walked = 0;
    int finished = 0;
    for (auto& slot : currentRecvWindow_) {
        if (!slot) {
            break;
        }
        ++walked;
        if (collect(receivedPackets_, std::move(*slot))) {
            ++finished;
        }
        slot.reset();
    }
    LG_VERBOSE("Total Packet in window: %d", walked);
    LG_VERBOSE("----------------------------------------------------------------------");
    LG_VERBOSE("---------------------- RECEIVE WINDOW COMPLETED ----------------------");
    if (finished > 0) {
        LG_VERBOSE("Total window received using re-transmission: %d", countWindowRecvWithRetarn_);
        countWindowRecvWithRetarn_ = 0;
    }
}

// A first or only packet always opens a new message, so what a lost last packet or a reset
// on one side left behind is never glued to the next message.
bool TQProtocol::collect(PartialMessage& message, Packet packet) {
    const int position = readPos(packet[0]);
    const bool opens = position == first || position == only;
    if (opens && !message.packets.empty()) {
        LG_WARN("TQProtocol - incomplete message of %u packets discarded", message.packets.size());
        message.clear();
    }
    if (!opens && message.packets.empty()) {
        LG_WARN("TQProtocol - packet without the start of its message dropped");
        return false;
    }
    const std::size_t length = packet[1];
    if (message.payloadBytes + length > kMaxJoinedPayload) {
        LG_WARN("TQProtocol - message of more than %u compressed bytes dropped", kMaxJoinedPayload);
        message.clear();
        return false;
    }
    message.payloadBytes += length;
    message.packets.push_back(std::move(packet));
    if (position != only && position != last) {
        return false;
    }
    auto model = dataModelFromPackets(message.packets);
    message.clear();
    if (model) {
        onDataReceiveCompleted(std::move(*model));
    }
    return true;
}

void TQProtocol::onDataReceiveCompleted(TQDataModel model) {
    upcalls_.push_back({Upcall::Kind::received, std::move(model.data), {}});
}

void TQProtocol::onControlReceiveCompleted(std::span<const std::uint8_t> packet) {
    const std::uint8_t byte = packet[0];
    const int command = (byte >> 4) & 0x03;
    const int payload = byte & 0x0F;
    switch (command) {
        case ping:
            if (payload == 0) {
                upcalls_.push_back({Upcall::Kind::ping, {}, {}});
            }
            return;
        case reset:
            LG_INFO("------ Received RESET from other side ------");
            resetRetransmission(DropReason::peerReset);
            abortSending(DropReason::peerReset);
            upcalls_.push_back({Upcall::Kind::reset, {}, {}});
            return;
        case disconnect:
            return;
        default:
            break;
    }
    if (packet.size() < 3) {
        LG_WARN("TQProtocol - ACK of %u bytes dropped", packet.size());
        return;
    }
    onAckReceived(static_cast<std::uint16_t>(packet[1] << 8 | packet[2]), packet[1], packet[2]);
}

void TQProtocol::onAckReceived(std::uint16_t mask, std::uint8_t high, std::uint8_t low) {
    LG_VERBOSE("Received ACK: %x", mask);
    if ((high == 0 && currentSendWindowSet_ == 0) || (low == 0 && currentSendWindowSet_ == 1)) {
        LG_VERBOSE("Ignoring ACK...Did not satisfy currentSendWindowSet");
        return;
    }
    // Nothing is waiting for it: a late copy of an acknowledgement that was already taken.
    if (currentSendWindow_.empty()) {
        LG_VERBOSE("TQProtocol - ACK without a window in flight ignored");
        return;
    }
    stop_t_send();
    countTsendExpire_ = 0;
    if (mask == lastRecvSeqMask_) {
        ++countSameRecvSeqMask_;
    }
    if (countSameRecvSeqMask_ >= 3) {
        resetAndNotifyPeer();
        return;
    }
    lastRecvSeqMask_ = mask;
    const int set = currentSendWindowSet_ == 1 ? 1 : 0;
    if (mask == kExpectedMasks[set][currentSendWindow_.size()]) {
        LG_VERBOSE("acks[[currentSendWindow count]] == recvSeqBitMask");
        completeWindow();
        return;
    }
    addPacketsToRetranQueue(mask);
    if (!retranPacketIndexQueue_.empty()) {
        continueSendingWindow();
        return;
    }
    completeWindow();
}

// ---- Timers ----

// Every caller is inside an entry scope, whose end applies the change.
void TQProtocol::changeTimer(TimerId id, bool start) {
    pendingTimerChanges_.push_back({id, start});
}

void TQProtocol::applyTimerChanges() {
    // Applying starts no step, so nothing is added while this runs.
    for (const TimerChange& change : std::exchange(pendingTimerChanges_, {})) {
        applyTimerChange(change.id, change.start);
    }
}

std::shared_ptr<platform::Timer>& TQProtocol::timerField(TimerId id) {
    switch (id) {
        case TimerId::send:
            return t_send_;
        case TimerId::recv:
            return t_recv_;
        case TimerId::ack:
            break;
    }
    return t_ack_;
}

bool TQProtocol::isTimerRunning(TimerId id) {
    // The watch's side of the link was built against this meaning: a timer started earlier in
    // the same step does not count yet, so slot 7 after a gap starts T_RECV beside T_ACK.
    const auto& timer = timerField(id);
    return timer && timer->isValid();
}

void TQProtocol::applyTimerChange(TimerId id, bool start) {
    struct Names {
        const char* start;
        const char* stop;
        double interval;
    };
    static constexpr Names kNames[] = {
        {"Start T_SEND", "Stop T_SEND", kSendTimeout},
        {"Start T_RECV", "Stop T_RECV", kRecvTimeout},
        {"Start T_ACK", "Stop T_ACK", kAckTimeout},
    };
    const Names& names = kNames[static_cast<int>(id)];
    auto& timer = timerField(id);
    LG_VERBOSE(start ? names.start : names.stop);
    // The field holds one timer; one left behind would fire on its own.
    if (timer) {
        timer->invalidate();
        timer.reset();
    }
    if (!start) {
        return;
    }
    timer = loop_.scheduleTimer(names.interval, false, [weak = weak_.weakPtr(), id] {
        TQProtocol* self = weak.get();
        if (self == nullptr) {
            return;
        }
        switch (id) {
            case TimerId::send:
                self->expire_t_send();
                break;
            case TimerId::recv:
                self->expire_t_recv();
                break;
            case TimerId::ack:
                self->expire_t_ack();
                break;
        }
    });
}

void TQProtocol::expire_t_send() {
    EntryScope scope(*this);
    LG_DEBUG("Expired T_SEND --- count: %d", countTsendExpire_ + 1);
    if (countTsendExpire_++ < 2) {
        addPacketsToRetranQueue(lastRecvSeqMask_);
        if (!retranPacketIndexQueue_.empty()) {
            continueSendingWindow();
        }
        return;
    }
    LG_INFO("Sending RESET to other side...");
    resetAndNotifyPeer();
}

void TQProtocol::expire_t_recv() {
    EntryScope scope(*this);
    LG_DEBUG("Expire T_RECV");
    sendAck(currentRecvWindowMask_);
    stop_t_ack();
    start_t_ack();
}

void TQProtocol::expire_t_ack() {
    EntryScope scope(*this);
    LG_DEBUG("Expired T_ACK --- count: %d", countTackExpire_ + 1);
    if (countTackExpire_++ < 2) {
        sendAck(currentRecvWindowMask_);
        stop_t_ack();
        start_t_ack();
        return;
    }
    LG_INFO("Sending RESET to other side...");
    resetAndNotifyPeer();
}

// ---- Upward calls ----

void TQProtocol::completeMessages(std::size_t count, const TQSendOutcome& outcome) {
    for (std::size_t i = 0; i < count; ++i) {
        LG_VERBOSE("TQProtocol - CALLBACK TO APAPI");
        upcalls_.push_back({Upcall::Kind::sendCompleted, {}, outcome});
    }
}

void TQProtocol::endStep() {
    applyTimerChanges();
    flushUpcalls();
    // What the delegate handed down from those calls ran as steps nested in this one.
    applyTimerChanges();
}

void TQProtocol::flushUpcalls() {
    // Steps the delegate starts from here queue their own calls behind these.
    ++depth_;
    while (!upcalls_.empty() && dataDelegate_ != nullptr) {
        Upcall call = std::move(upcalls_.front());
        upcalls_.pop_front();
        switch (call.kind) {
            case Upcall::Kind::sendCompleted:
                dataDelegate_->onDataSendCompleted(call.outcome);
                break;
            case Upcall::Kind::received:
                dataDelegate_->onDataReceiveCompleted(call.message);
                break;
            case Upcall::Kind::ping:
                dataDelegate_->onPingReceived();
                break;
            case Upcall::Kind::reset:
                dataDelegate_->onResetCmdReceived();
                break;
        }
    }
    --depth_;
}
