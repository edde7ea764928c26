#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/bluetooth/Radio.h"
#include "platform/foundation/RunLoop.h"

namespace platform::bluetooth {

class ScriptedCentral;

struct SimulatedAirOptions {
    // Everything random (identifiers, corruption, random faults) comes from this seed.
    std::uint64_t seed = 1;
    // One-way time of every PDU and event.
    double latency = 0.005;
    // Packets leave one side of a link in connection events this far apart, at most
    // packetsPerEvent each; the packets of one event arrive together, as one delivery.
    double connectionInterval = 0.0075;
    std::size_t packetsPerEvent = 4;
    // Packets a side may have waiting for a connection event; beyond it notifications and write
    // commands are refused.
    std::size_t transmitQueueCapacity = 16;
    // How long a reset radio stays in the resetting state.
    double resetDuration = 0.1;
};

struct SimulatedDeviceOptions {
    // Drawn from the air's seed when not given.
    std::optional<Uuid> identifier{};
    int rssi = -50;
    bool poweredOn = true;
};

enum class FaultKind {
    drop,
    corrupt,    // one bit of the value flipped
    duplicate,  // delivered twice
    delay,      // held back, and everything behind it with it
};

// Applies to the next `count` data packets from one device to another. Drop and duplicate
// touch only unacknowledged PDUs (notifications, write commands): ATT's request and response
// pairs cannot lose or repeat a packet without breaking the bearer. Corrupt and delay also touch
// write requests.
struct PacketFault {
    FaultKind kind = FaultKind::drop;
    int count = 1;
    double delay = 0;
};

// Probabilities per data packet, drawn from the air's seed.
struct RandomFaults {
    double drop = 0;
    double corrupt = 0;
    double duplicate = 0;
};

// The in-process air: every device's radio on one run loop and its clock, with the air's
// defects under the test's control. Radios keep the air's state alive, so the air object itself
// may go before them; the loop must outlive both.
class SimulatedAir {
public:
    explicit SimulatedAir(RunLoop& loop, SimulatedAirOptions options = {});
    ~SimulatedAir();
    SimulatedAir(const SimulatedAir&) = delete;
    SimulatedAir& operator=(const SimulatedAir&) = delete;

    [[nodiscard]] RunLoop& loop() const;
    // A new device's radio; give it to an Adapter on this air's loop.
    std::unique_ptr<Radio> attach(SimulatedDeviceOptions options = {});
    // A central on its own device that connects to target and discovers its services: the
    // stranger that writes to a peripheral it was never paired with.
    std::unique_ptr<ScriptedCentral> injectForeignCentral(const Uuid& target);

    // The peers of a device that goes off see their links end with peripheralDisconnected.
    void powerOff(const Uuid& device);
    void powerOn(const Uuid& device);
    // Resetting for resetDuration, then powered on; links end as with powerOff.
    void reset(const Uuid& device);
    void setRssi(const Uuid& device, int rssi);
    // Ends the links between the two devices, both ways, with the reason on both sides;
    // connection attempts between them fail with it.
    void dropConnection(const Uuid& a, const Uuid& b, ErrorCode reason);
    // The device's next `packets` flow-controlled sends find the transmit queue full.
    void fillTransmitQueue(const Uuid& device, int packets);
    void injectFault(const Uuid& from, const Uuid& to, PacketFault fault);
    void setRandomFaults(const Uuid& from, const Uuid& to, RandomFaults faults);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace platform::bluetooth
