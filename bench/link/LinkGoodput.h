#pragma once

#include <benchmark/benchmark.h>

#include <optional>
#include <random>

#include "link/support/LinkWorld.h"
#include "platform/foundation/Value.h"

// What the link benchmarks measure against: the messages' own goodput on a clean in-memory link.
namespace bench {

inline platform::Bytes noise(std::size_t size) {
    std::mt19937_64 random(size);
    platform::Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// Arguments: the air time of one packet and the acknowledgement latency (from the end of a
// window's last packet on air until its acknowledgement is back at the sender), in microseconds.
inline link_test::LinkConditions conditionsFor(const benchmark::State& state) {
    const double airTime = static_cast<double>(state.range(0)) * 1e-6;
    const double ackLatency = static_cast<double>(state.range(1)) * 1e-6;
    link_test::LinkConditions conditions;
    conditions.airTime = airTime;
    conditions.latency = (ackLatency - airTime) / 2;  // data there, acknowledgement back
    conditions.bufferPackets = 4;
    return conditions;
}

// Bytes per second of messages of incompressible bytes from phone to peer over a clean link,
// acknowledged window by window or not; nothing when they do not arrive.
inline std::optional<double> messageGoodput(const link_test::LinkConditions& conditions,
                                            bool arq = true) {
    constexpr int kMessages = 4;
    const platform::Bytes message = noise(256 << 10);
    link_test::LinkWorld world(1, conditions);
    for (int i = 0; i < kMessages; ++i) {
        world.phone().send(message, arq);
    }
    if (!world.runUntil([&] { return world.phone().idle(); }, 36000, 0.5) ||
        world.peer().received().size() != kMessages) {
        return std::nullopt;
    }
    const auto& sent = world.phone().outgoing();
    return kMessages * static_cast<double>(message.size()) /
           (sent.back().completed - sent.front().handedDown);
}

}  // namespace bench
