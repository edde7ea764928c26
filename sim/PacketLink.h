#pragma once

#include <cstdint>
#include <span>

namespace kavowatch {

// What carries the watch's packets, one at a time.
class PacketLink {
public:
    enum class Outcome {
        // Gone now: the next packet may follow at once.
        sent,
        // On its way: the owner calls PacketEngine::packetSent() when it is through.
        pending,
        // Not taken, the link is full: the owner calls PacketEngine::linkReady() when it has
        // room, and the same packet is offered again.
        busy,
        // Not sent and never will be (no peer); the protocol's own recovery applies.
        lost,
    };

    // The packet is copied before the call returns.
    virtual Outcome transmit(std::span<const std::uint8_t> packet) = 0;

protected:
    ~PacketLink() = default;
};

}  // namespace kavowatch
