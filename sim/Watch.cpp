#include "sim/Watch.h"

#include "logging/LGLog.h"
#include "platform/bluetooth/sim/SimulatedAir.h"
#include "platform/foundation/Json.h"

namespace kavowatch {

using platform::Bytes;
using platform::bluetooth::ManagerState;

namespace {

// The link facade's request to end the link: application identifier 60, one byte.
constexpr std::uint8_t kDisconnectAppId = 60;
constexpr std::uint8_t kDisconnectBody = 0x3C;
// Every file segment travels at this priority.
constexpr std::uint8_t kFilePriority = 3;

}  // namespace

RadioFactory simulatedRadios(platform::bluetooth::SimulatedAir& air) {
    return [&air](const platform::bluetooth::Uuid& identifier) {
        return air.attach({.identifier = identifier});
    };
}

Watch::Watch(platform::RunLoop& loop, RadioFactory radios, WatchConfig config)
    : loop_(loop),
      radios_(std::move(radios)),
      config_(std::move(config)),
      faults_(config_.faultSeed),
      faultyLink_(loop, faults_),
      engine_(loop, faultyLink_, *this, config_.timings),
      phoneLink_(*this),
      files_(loop, [this](std::uint8_t appId, Bytes segment) {
          if (!send(appId, kFilePriority, segment, true)) {
              LG_DEBUG("kavowatch: a file segment found the link down");
          }
      }) {
    faultyLink_.setInner(&phoneLink_);
    faultyLink_.setUpcalls(
        [this] { engine_.packetSent(); },
        [this](std::span<const std::uint8_t> packet) { engine_.receive(packet); });
}

Watch::~Watch() {
    if (handshakeTimer_) {
        handshakeTimer_->invalidate();
    }
    phoneLink_.attach(nullptr);
    stack_.reset();
    retired_.clear();
}

// ---- Presence ----

void Watch::powerOn() {
    if (stack_) {
        return;
    }
    // A radio that vanished must be off the air before its identifier comes back.
    retired_.clear();
    platform::bluetooth::PeripheralManagerDelegate* self = this;
    stack_ = std::make_unique<Stack>(radios_(config_.identifier), loop_, self, &phoneLink_);
    phoneLink_.attach(&stack_->central);
    ++counters_.powerOns;
}

void Watch::vanish() {
    if (!stack_) {
        return;
    }
    ++counters_.vanishes;
    phoneLink_.attach(nullptr);
    stack_->peripheral.setDelegate(nullptr);
    stack_->central.setDelegate(nullptr);
    endSession();
    advertisingPurpose_.reset();
    retired_.push_back(std::move(stack_));
    loop_.post([weak = weak_.weakPtr()] {
        if (weak) {
            weak->retired_.clear();
        }
    });
}

void Watch::advertise(std::uint8_t purpose) {
    advertisingPurpose_ = purpose;
    startAdvertising();
}

void Watch::stopAdvertising() {
    advertisingPurpose_.reset();
    if (stack_) {
        stack_->peripheral.stopAdvertising();
    }
}

bool Watch::isAdvertising() const {
    return stack_ && stack_->peripheral.isAdvertising();
}

void Watch::startAdvertising() {
    // Until the radio is on, its state update starts it.
    if (stack_ && advertisingPurpose_ && stack_->peripheral.state() == ManagerState::poweredOn) {
        stack_->peripheral.startAdvertising(
            watchAdvertisement(config_.advertising, *advertisingPurpose_));
    }
}

void Watch::peripheralManagerDidUpdateState(platform::bluetooth::PeripheralManager& /*manager*/) {
    startAdvertising();
}

void Watch::centralDidConnect(platform::bluetooth::PeripheralManager& /*manager*/,
                              const platform::bluetooth::Central& central) {
    ++counters_.phoneCentralConnections;
    if (config_.followPhoneConnection && phoneLink_.state() == PhoneLink::State::idle) {
        phoneLink_.connect(central.identifier);
    }
}

// ---- The link ----

void Watch::connectToPhone(std::optional<platform::bluetooth::Uuid> phone) {
    phoneLink_.connect(phone);
}

void Watch::disconnect() {
    phoneLink_.disconnect();
}

void Watch::phoneLinkUp() {
    ++counters_.linksUp;
    LG_INFO("kavowatch: the link to the phone is up");
    handshake_ = HandshakeState::none;
    response_.reset();
    if (config_.handshake != HandshakeMode::manual) {
        startHandshake();
    }
    tellLinkObservers(true);
}

void Watch::phoneLinkDown() {
    ++counters_.connectionsEnded;
    LG_INFO("kavowatch: the link to the phone is down");
    endSession();
    tellLinkObservers(false);
}

void Watch::tellLinkObservers(bool up) {
    // An observer may remove itself or others while told.
    const auto observers = linkObservers_;
    for (const auto& [id, observer] : observers) {
        if (linkObservers_.contains(id)) {
            observer(up);
        }
    }
}

void Watch::endSession() {
    engine_.linkLost();
    files_.linkLost();
    faultyLink_.clear();
    if (handshakeTimer_) {
        handshakeTimer_->invalidate();
        handshakeTimer_.reset();
    }
}

void Watch::packetArrived(std::span<const std::uint8_t> packet) {
    faultyLink_.arrived(packet);
}

void Watch::packetWritten() {
    faultyLink_.innerSent();
}

// ---- Handshake ----

void Watch::startHandshake() {
    if (!isLinkUp()) {
        return;
    }
    handshake_ = HandshakeState::requested;
    response_.reset();
    handshakeAttempts_ = 0;
    sendHandshakeRequest();
}

void Watch::sendHandshakeRequest() {
    ++handshakeAttempts_;
    ++counters_.handshakeRequests;
    engine_.send(handshakeRequest(config_.advertising.name), true);
    if (handshakeTimer_) {
        handshakeTimer_->invalidate();
    }
    handshakeTimer_ =
        loop_.scheduleTimer(config_.handshakeRetry, false, [this] { onHandshakeTimeout(); });
}

void Watch::onHandshakeTimeout() {
    if (handshake_ != HandshakeState::requested) {
        return;
    }
    if (handshakeAttempts_ < config_.handshakeAttempts) {
        sendHandshakeRequest();
        return;
    }
    LG_WARN("kavowatch: no handshake response after %d requests; leaving", handshakeAttempts_);
    handshake_ = HandshakeState::failed;
    disconnect();
}

void Watch::onHandshakeRecord(std::span<const std::uint8_t> record) {
    if (record[0] != static_cast<std::uint8_t>(HandshakeType::response) ||
        handshake_ != HandshakeState::requested) {
        return;  // not for the watch, or a late copy of an answered request
    }
    if (handshakeTimer_) {
        handshakeTimer_->invalidate();
        handshakeTimer_.reset();
    }
    auto checked = checkHandshakeResponse(record, config_.identifier);
    if (!checked) {
        LG_WARN("kavowatch: handshake response refused: %s", checked.error().message);
        ++counters_.invalidResponses;
    } else {
        response_ = std::move(checked).value();
    }
    if (checked && config_.handshake != HandshakeMode::reject) {
        engine_.send(handshakeRecord(HandshakeType::complete), true);
        handshake_ = HandshakeState::completed;
        ++counters_.handshakesCompleted;
        LG_INFO("kavowatch: paired with %s", response_->phoneName);
    } else {
        engine_.send(handshakeRecord(HandshakeType::reject), true);
        handshake_ = HandshakeState::rejected;
        ++counters_.handshakesRejected;
        LG_INFO("kavowatch: handshake rejected");
    }
}

// ---- Messages ----

void Watch::messageReceived(Bytes message, bool acknowledged) {
    if (message.empty()) {
        return;  // no header byte, no route
    }
    const std::uint8_t header = message[0];
    const std::uint8_t appId = header & 0x3F;
    const std::span<const std::uint8_t> body = std::span(message).subspan(1);
    if (appId == 0) {
        onHandshakeRecord(message);
        return;
    }
    if (appId == kDisconnectAppId && body.size() == 1 && body[0] == kDisconnectBody) {
        // The phone leaves dropping the link to the watch.
        ++counters_.disconnectRequests;
        if (handshake_ == HandshakeState::requested) {
            handshake_ = HandshakeState::refused;
        }
        disconnect();
        return;
    }
    const ReceivedMessage& received = messages_.record(header, body, acknowledged, loop_.now());
    if ((header >> 6) == kFilePriority) {
        ++counters_.fileSegmentsReceived;
        LG_DEBUG("kavowatch: received a file segment of %zu bytes", body.size());
        files_.handle(body, appId);
        return;
    }
    if (received.msgId.empty()) {
        LG_INFO("kavowatch: received %zu bytes on application %d", body.size(), int{appId});
        if (const auto observer = channelObservers_.find(appId);
            observer != channelObservers_.end()) {
            // A copy: the observer may send, and the log grows while it runs.
            const ReceivedMessage message = received;
            observer->second(message);
        }
        return;
    }
    LG_INFO("kavowatch: received %s", received.msgId);
    const auto rule = rules_.find(received.msgId);
    if (rule == rules_.end()) {
        return;
    }
    // Copies: the rule may replace itself, and the log grows while it runs.
    const RepliesRule handle = rule->second;
    const ReceivedMessage request = received;
    for (const Outgoing& reply : handle(request)) {
        if (sendJson(reply.message, reply.appId.value_or(request.appId),
                     reply.priority.value_or(request.priority))) {
            ++counters_.repliesSent;
        }
    }
}

platform::Result<void> Watch::sendMessage(std::uint8_t appId, std::uint8_t priority,
                                          std::span<const std::uint8_t> body, bool acknowledged) {
    auto sent = send(appId, priority, body, acknowledged);
    if (sent) {
        LG_INFO("kavowatch: sent %zu bytes on application %d", body.size(), int{appId});
    }
    return sent;
}

platform::Result<void> Watch::send(std::uint8_t appId, std::uint8_t priority,
                                   std::span<const std::uint8_t> body, bool acknowledged) {
    if (!isLinkUp()) {
        return platform::Error{"kavowatch", 1, "the link to the phone is down"};
    }
    Bytes message;
    message.reserve(body.size() + 1);
    message.push_back(static_cast<std::uint8_t>((priority & 0x03) << 6 | (appId & 0x3F)));
    message.insert(message.end(), body.begin(), body.end());
    engine_.send(message, acknowledged);
    ++counters_.messagesSent;
    return {};
}

platform::Result<void> Watch::sendJson(const platform::Value& message, std::uint8_t appId,
                                       std::uint8_t priority, bool acknowledged) {
    const auto text = platform::json::write(message);
    if (!text) {
        return text.error();
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text->data());
    auto sent = send(appId, priority, std::span(bytes, text->size()), acknowledged);
    if (sent) {
        const std::string* msgId = message["msgId"].stringIf();
        LG_INFO("kavowatch: sent %s", msgId != nullptr ? *msgId : std::string("a JSON message"));
    }
    return sent;
}

void Watch::answer(std::string msgId, Rule rule) {
    answerAll(std::move(msgId), [rule = std::move(rule)](const ReceivedMessage& request) {
        Replies replies;
        if (std::optional<platform::Value> reply = rule(request)) {
            replies.push_back({std::move(*reply), std::nullopt, std::nullopt});
        }
        return replies;
    });
}

void Watch::answerAll(std::string msgId, RepliesRule rule) {
    rules_[std::move(msgId)] = std::move(rule);
}

void Watch::answer(std::string msgId, platform::Value reply) {
    answer(std::move(msgId),
           [reply = std::move(reply)](const ReceivedMessage&) -> std::optional<platform::Value> {
               return reply;
           });
}

std::optional<ReceivedMessage> Watch::waitForMessage(std::string_view msgId, double timeout) {
    if (!waitUntil([&] { return messages_.hasNext(msgId); }, timeout)) {
        return std::nullopt;
    }
    return messages_.take(msgId);
}

bool Watch::waitUntil(const std::function<bool()>& condition, double timeout) {
    if (condition()) {
        return true;
    }
    bool expired = false;
    const auto deadline = loop_.scheduleTimer(timeout, false, [&expired] { expired = true; });
    loop_.runUntil([&] { return expired || condition(); });
    deadline->invalidate();
    return condition();
}

}  // namespace kavowatch
