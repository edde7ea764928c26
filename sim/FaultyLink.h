#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "sim/FaultPlan.h"
#include "sim/PacketLink.h"

namespace kavowatch {

// Stands between the packet engine and the link that really carries the packets and lets the
// fault plan drop, corrupt, duplicate or delay them, both ways. Delays keep the order: nothing
// overtakes a packet that is held back. Lives on the loop's thread.
class FaultyLink final : public PacketLink {
public:
    FaultyLink(platform::RunLoop& loop, FaultPlan& plan);
    ~FaultyLink();
    FaultyLink(const FaultyLink&) = delete;
    FaultyLink& operator=(const FaultyLink&) = delete;

    // The link below; none means every packet is lost.
    void setInner(PacketLink* inner) { inner_ = inner; }
    // `sent` ends a transmit() that answered pending; `arrived` takes what gets through inward.
    void setUpcalls(std::function<void()> sent,
                    std::function<void(std::span<const std::uint8_t>)> arrived);

    Outcome transmit(std::span<const std::uint8_t> packet) override;

    // From the link below: its pending packet went through, or it has room again.
    void innerSent();
    void innerReady();
    // A packet from the peer.
    void arrived(std::span<const std::uint8_t> packet);
    // The connection ended: what is held back or half handed on is forgotten.
    void clear();

private:
    // Hands the copies of the current packet down; true once all are through.
    bool flush();
    void finishAsync();
    // Runs task after delay unless this object or the connection is gone by then.
    void later(double delay, std::function<void()> task);
    void deliver(const platform::Bytes& packet, int copies);

    platform::RunLoop& loop_;
    FaultPlan& plan_;
    PacketLink* inner_ = nullptr;
    std::function<void()> sent_;
    std::function<void(std::span<const std::uint8_t>)> arrived_;

    std::deque<platform::Bytes> copies_;
    bool waitingForInner_ = false;
    bool waitingForRoom_ = false;

    double lastRelease_ = 0;
    int heldIncoming_ = 0;
    // Posted work checks both, so none outlives this object or a clear().
    std::uint64_t generation_ = 0;
    platform::WeakPtrFactory<FaultyLink> weak_{*this, loop_};
};

}  // namespace kavowatch
