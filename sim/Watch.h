#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/CentralManager.h"
#include "platform/bluetooth/PeripheralManager.h"
#include "platform/bluetooth/Radio.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "sim/FaultPlan.h"
#include "sim/FaultyLink.h"
#include "sim/Handshake.h"
#include "sim/LinkProfile.h"
#include "sim/MessageLog.h"
#include "sim/PacketEngine.h"
#include "sim/PhoneLink.h"
#include "sim/WatchFiles.h"

namespace platform::bluetooth {
class SimulatedAir;
class SocketAir;
}  // namespace platform::bluetooth

namespace kavowatch {

// Makes the watch's radio, for its identifier, each time the watch powers on.
using RadioFactory =
    std::function<std::unique_ptr<platform::bluetooth::Radio>(const platform::bluetooth::Uuid&)>;

// Radios on an in-process air; the air must outlive the watch.
[[nodiscard]] RadioFactory simulatedRadios(platform::bluetooth::SimulatedAir& air);
// Radios on the local-socket air; the air must outlive the watch. When the device cannot
// attach (a folder it cannot make, a socket it cannot bind) `failed` hears why, and the watch
// gets a radio that stays off.
[[nodiscard]] RadioFactory socketRadios(
    platform::bluetooth::SocketAir& air,
    std::function<void(const platform::Error&)> failed = nullptr);

enum class HandshakeMode {
    complete,  // answers a good response with a completion
    reject,    // answers every response with a rejection
    manual,    // waits for startHandshake()
};

enum class HandshakeState {
    none,       // not started on this connection
    requested,  // the request is out, no response yet
    completed,
    rejected,  // by the watch: scripted, or a response that fails its checks
    refused,   // by the phone: a disconnect request instead of a response
    failed,    // no response after every attempt
};

struct WatchConfig {
    // The watch's identifier on the air; the phone knows the watch by it across connections.
    platform::bluetooth::Uuid identifier;
    AdvertisingIdentity advertising;
    HandshakeMode handshake = HandshakeMode::complete;
    // A phone's central connection makes the watch connect to that phone's link service.
    bool followPhoneConnection = true;
    EngineTimings timings;
    std::uint64_t faultSeed = 1;
    // The request goes again after this long without a response, at most this many times in
    // all: a reset on the way may have taken the response.
    double handshakeRetry = 10;
    int handshakeAttempts = 3;
};

struct WatchCounters {
    int powerOns = 0;
    int vanishes = 0;
    int phoneCentralConnections = 0;
    int linksUp = 0;
    int connectionsEnded = 0;
    int handshakeRequests = 0;
    int handshakesCompleted = 0;
    int handshakesRejected = 0;
    int invalidResponses = 0;
    int disconnectRequests = 0;
    int fileSegmentsReceived = 0;
    int messagesSent = 0;
    int repliesSent = 0;
};

// The simulated watch, link level: advertises, follows the phone's central connection by
// subscribing to the phone's link service, runs its side of the packet protocol and of the
// pairing handshake, and exchanges JSON messages that tests script. Lives on the loop's thread;
// the wait calls drive the loop and must not be made from inside a watch callback (a rule).
class Watch final : private platform::bluetooth::PeripheralManagerDelegate,
                    private PhoneLinkListener,
                    private PacketEngineDelegate {
public:
    // Answers a request: the reply to send on the request's application identifier and
    // priority, or nothing.
    using Rule = std::function<std::optional<platform::Value>(const ReceivedMessage&)>;
    // A message a rule sends: on the request's application identifier and priority unless the
    // rule names others.
    struct Outgoing {
        platform::Value message;
        std::optional<std::uint8_t> appId;
        std::optional<std::uint8_t> priority;
    };
    using Replies = std::vector<Outgoing>;
    // Answers a request with any number of messages, sent in order once the rule returned.
    using RepliesRule = std::function<Replies(const ReceivedMessage&)>;

    Watch(platform::RunLoop& loop, RadioFactory radios, WatchConfig config);
    ~Watch() override;
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    [[nodiscard]] const platform::bluetooth::Uuid& identifier() const { return config_.identifier; }
    [[nodiscard]] const WatchConfig& config() const { return config_; }
    [[nodiscard]] platform::RunLoop& loop() const { return loop_; }

    // Comes onto the air with a fresh radio.
    void powerOn();
    // Drops off the air, as a watch that walks away or dies: no unsubscription, no goodbye.
    // The watch forgets its connection at once and its radio leaves the air on the loop's next
    // turn. Everything in flight is lost; the counts and the received messages stay.
    void vanish();
    [[nodiscard]] bool isOn() const { return stack_ != nullptr; }

    // Advertises with the purpose byte (see Purpose) until stopped or off the air.
    void advertise(std::uint8_t purpose);
    void stopAdvertising();
    [[nodiscard]] bool isAdvertising() const;

    // Looks for the phone's link service (from that phone only, when named) and subscribes.
    void connectToPhone(std::optional<platform::bluetooth::Uuid> phone = std::nullopt);
    // Unsubscribes, then ends the connection.
    void disconnect();
    // Subscribed to the phone and the address characteristic read: packets flow.
    [[nodiscard]] bool isLinkUp() const { return phoneLink_.state() == PhoneLink::State::up; }
    [[nodiscard]] PhoneLink::State linkState() const { return phoneLink_.state(); }
    // The handshake of this connection completed.
    [[nodiscard]] bool isPaired() const {
        return handshake_ == HandshakeState::completed && isLinkUp();
    }
    // The last connection's handshake, kept after the connection ends.
    [[nodiscard]] HandshakeState handshakeState() const { return handshake_; }
    [[nodiscard]] const std::optional<HandshakeResponse>& handshakeResponse() const {
        return response_;
    }
    // What the phone's address characteristic answered on this connection.
    [[nodiscard]] const std::optional<platform::Result<platform::Bytes>>& addressRead() const {
        return phoneLink_.addressRead();
    }
    void startHandshake();

    // One message: the header byte (priority, application identifier), then the body. Refused
    // while the link is down: nothing would carry it.
    platform::Result<void> sendMessage(std::uint8_t appId, std::uint8_t priority,
                                       std::span<const std::uint8_t> body,
                                       bool acknowledged = true);
    platform::Result<void> sendJson(const platform::Value& message, std::uint8_t appId = 1,
                                    std::uint8_t priority = 1, bool acknowledged = true);

    // Rules run for every message with that "msgId"; a later rule replaces an earlier one.
    // What a rule sends itself (sendJson) leaves before the messages it returns: a rule whose
    // reply must go first returns the later messages too (answerAll).
    void answer(std::string msgId, Rule rule);
    void answer(std::string msgId, platform::Value reply);
    void answerAll(std::string msgId, RepliesRule rule);

    // Told after the watch's own handling whenever the link to the phone comes up (true) or
    // goes down (false), every observer in the order added, until it is removed.
    int observeLink(std::function<void(bool up)> observer) {
        linkObservers_.emplace(++lastLinkObserver_, std::move(observer));
        return lastLinkObserver_;
    }
    void stopObservingLink(int observer) { linkObservers_.erase(observer); }
    // Told of every message on this application identifier that carries no "msgId", after it
    // is logged; it may send. A null observer stops it.
    void observeChannel(std::uint8_t appId, std::function<void(const ReceivedMessage&)> observer) {
        if (!observer) {
            channelObservers_.erase(appId);
            return;
        }
        channelObservers_[appId] = std::move(observer);
    }

    // Files both ways; they survive a vanish, for a resume when the watch is back.
    [[nodiscard]] WatchFiles& files() { return files_; }

    [[nodiscard]] const MessageLog& messages() const { return messages_; }
    // Drives the loop until a message with this "msgId" that no earlier wait returned is there,
    // or the timeout (on the loop's clock) passes.
    std::optional<ReceivedMessage> waitForMessage(std::string_view msgId, double timeout = 30);
    // Drives the loop until the condition holds or the timeout passes; the condition's value.
    bool waitUntil(const std::function<bool()>& condition, double timeout = 30);

    // Fault switches. Drop, corrupt, duplicate and delay go through the plan, both ways.
    [[nodiscard]] FaultPlan& faults() { return faults_; }
    void stopAcknowledging(bool stop = true) { engine_.setAcknowledging(!stop); }
    void sendReset() { engine_.sendReset(); }

    [[nodiscard]] const WatchCounters& counters() const { return counters_; }
    [[nodiscard]] const EngineCounters& engineCounters() const { return engine_.counters(); }
    // Nothing of ours queued or waiting for an acknowledgement.
    [[nodiscard]] bool isIdle() const { return engine_.isIdle(); }

private:
    // One power cycle's Bluetooth stack.
    struct Stack {
        Stack(std::unique_ptr<platform::bluetooth::Radio> radio, platform::RunLoop& loop,
              platform::bluetooth::PeripheralManagerDelegate* peripheralDelegate,
              platform::bluetooth::CentralManagerDelegate* centralDelegate)
            : adapter(std::move(radio), loop),
              peripheral(adapter, peripheralDelegate),
              central(adapter, centralDelegate) {}
        platform::bluetooth::Adapter adapter;
        platform::bluetooth::PeripheralManager peripheral;
        platform::bluetooth::CentralManager central;
    };

    // PeripheralManagerDelegate
    void peripheralManagerDidUpdateState(platform::bluetooth::PeripheralManager& manager) override;
    void centralDidConnect(platform::bluetooth::PeripheralManager& manager,
                           const platform::bluetooth::Central& central) override;
    // PhoneLinkListener
    void phoneLinkUp() override;
    void phoneLinkDown() override;
    void packetArrived(std::span<const std::uint8_t> packet) override;
    void packetWritten() override;
    // PacketEngineDelegate
    void messageReceived(platform::Bytes message, bool acknowledged) override;

    void startAdvertising();
    platform::Result<void> send(std::uint8_t appId, std::uint8_t priority,
                                std::span<const std::uint8_t> body, bool acknowledged);
    void sendHandshakeRequest();
    void onHandshakeTimeout();
    void onHandshakeRecord(std::span<const std::uint8_t> record);
    void endSession();
    void tellLinkObservers(bool up);

    platform::RunLoop& loop_;
    RadioFactory radios_;
    const WatchConfig config_;
    WatchCounters counters_;

    FaultPlan faults_;
    FaultyLink faultyLink_;
    PacketEngine engine_;
    PhoneLink phoneLink_;
    MessageLog messages_;
    WatchFiles files_;
    std::map<std::string, RepliesRule, std::less<>> rules_;
    std::map<int, std::function<void(bool up)>> linkObservers_;
    int lastLinkObserver_ = 0;
    std::map<std::uint8_t, std::function<void(const ReceivedMessage&)>> channelObservers_;

    std::optional<std::uint8_t> advertisingPurpose_;
    HandshakeState handshake_ = HandshakeState::none;
    std::optional<HandshakeResponse> response_;
    int handshakeAttempts_ = 0;
    std::shared_ptr<platform::Timer> handshakeTimer_;

    // Stacks that vanished go away on the loop, never inside one of their own callbacks.
    std::vector<std::unique_ptr<Stack>> retired_;
    std::unique_ptr<Stack> stack_;
    // Posted work checks it, so none reaches a destroyed watch.
    platform::WeakPtrFactory<Watch> weak_{*this, loop_};
};

}  // namespace kavowatch
