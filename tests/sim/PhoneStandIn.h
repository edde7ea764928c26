#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/CentralManager.h"
#include "platform/bluetooth/PeripheralManager.h"
#include "platform/bluetooth/sim/SimulatedAir.h"
#include "platform/foundation/RunLoop.h"
#include "sim/LinkProfile.h"
#include "sim/PacketEngine.h"
#include "sim/Watch.h"

namespace sim_test {

using platform::Bytes;
using platform::bluetooth::Uuid;

// The phone's link service as the watch expects it.
platform::bluetooth::MutableService linkService();

// The phone's handshake response laid out byte by byte: 0x40, "Apple" at 17, the phone's name
// at 33, three lowercase letters at 66, the connected device's UUID bytes at 99.
Bytes phoneResponse(std::string_view phoneName, const std::optional<Uuid>& device,
                    std::string_view tag = "kvo");

// A small scripted GATT server standing in for the phone: publishes the link service and
// advertises it, carries packets with a second watch engine (the watch's engine against
// itself), answers the address characteristic, and can connect to the watch as a central.
class PhoneStandIn final : private platform::bluetooth::PeripheralManagerDelegate,
                           private platform::bluetooth::CentralManagerDelegate,
                           private kavowatch::PacketLink,
                           private kavowatch::PacketEngineDelegate {
public:
    PhoneStandIn(platform::bluetooth::SimulatedAir& air, platform::RunLoop& loop, const Uuid& id);
    ~PhoneStandIn() override;

    [[nodiscard]] const Uuid& identifier() const { return adapter_.identifier(); }
    kavowatch::PacketEngine& engine() { return engine_; }
    [[nodiscard]] const kavowatch::PacketEngine& engine() const { return engine_; }

    // Opens a central connection to the watch, as the phone does to a watch it found.
    void connectTo(const Uuid& watch);
    void send(std::span<const std::uint8_t> message, bool acknowledged = true) {
        engine_.send(message, acknowledged);
    }

    // What the address characteristic answers; nothing gives an application error.
    std::optional<std::string> address = "1A2B";
    // Answers each handshake request with this record, when set.
    std::function<Bytes(std::span<const std::uint8_t> request)> answerHandshake;

    std::optional<platform::bluetooth::Central> subscriber;
    // "connect", "subscribe", "unsubscribe", "disconnect", "read", in order.
    std::vector<std::string> events;
    // When each event came, on the loop's clock.
    std::vector<double> eventTimes;
    // Whole messages as the engine delivered them, header byte first.
    std::vector<Bytes> messages;
    int resetsReceived = 0;
    int writesRefused = 0;

private:
    void peripheralManagerDidUpdateState(platform::bluetooth::PeripheralManager& manager) override;
    void centralDidSubscribe(platform::bluetooth::PeripheralManager& manager,
                             const platform::bluetooth::Central& central,
                             const Uuid& characteristic) override;
    void centralDidUnsubscribe(platform::bluetooth::PeripheralManager& manager,
                               const platform::bluetooth::Central& central,
                               const Uuid& characteristic) override;
    void didReceiveWriteRequests(
        platform::bluetooth::PeripheralManager& manager,
        const std::vector<platform::bluetooth::AttRequest>& requests) override;
    void didReceiveReadRequest(platform::bluetooth::PeripheralManager& manager,
                               const platform::bluetooth::AttRequest& request) override;
    void isReadyToUpdateSubscribers(platform::bluetooth::PeripheralManager& manager) override;
    void centralDidConnect(platform::bluetooth::PeripheralManager& manager,
                           const platform::bluetooth::Central& central) override;
    void centralDidDisconnect(platform::bluetooth::PeripheralManager& manager,
                              const platform::bluetooth::Central& central) override;

    void note(std::string event);
    Outcome transmit(std::span<const std::uint8_t> packet) override;
    void messageReceived(Bytes message, bool acknowledged) override;
    void resetReceived() override { ++resetsReceived; }

    platform::bluetooth::Adapter adapter_;
    platform::bluetooth::PeripheralManager peripheral_;
    platform::bluetooth::CentralManager central_;
    kavowatch::PacketEngine engine_;
};

inline const Uuid kPhoneId = *Uuid::parse("11111111-2222-4333-8444-555555555555");
inline const Uuid kWatchId = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");

// A watch whose link to the stand-in phone is up, on a virtual clock; the handshake is left
// to the test.
class LinkedWatch {
public:
    explicit LinkedWatch(std::uint64_t seed = 17) : air{loop, {.seed = seed}} {
        kavowatch::WatchConfig config;
        config.identifier = kWatchId;
        config.handshake = kavowatch::HandshakeMode::manual;
        config.faultSeed = seed + 4;
        watch = std::make_unique<kavowatch::Watch>(loop, kavowatch::simulatedRadios(air), config);
        watch->powerOn();
        phone.connectTo(kWatchId);
        linked = watch->waitUntil([&] { return watch->isLinkUp(); }, 5);
    }

    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop scoped{loop};
    platform::bluetooth::SimulatedAir air;
    PhoneStandIn phone{air, loop, kPhoneId};
    std::unique_ptr<kavowatch::Watch> watch;
    bool linked = false;
};

}  // namespace sim_test
