#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <span>

#include "link/TQBlePacketTransferDelegate.h"
#include "link/TQPacketTransport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"

namespace link_test {

// How one direction of the link behaves. Times are seconds of the run loop's clock.
struct LinkConditions {
    double airTime = 0.0;  // each packet holds the direction's channel this long
    double latency = 0.0;  // from leaving the channel to arriving
    // Packets accepted but not yet on air; one more is refused until a slot frees, and the
    // sender is then told the transport is ready again (onPacketSent(false)).
    std::size_t bufferPackets = 4;

    double dropRate = 0.0;
    double duplicateRate = 0.0;  // the copy arrives right behind the original
    double corruptRate = 0.0;    // one byte at or after corruptFrom gets flipped
    // The header, length and CRC bytes are left alone by default: the protocol cannot detect a
    // damaged header, only a damaged payload.
    std::size_t corruptFrom = 4;
    double delayRate = 0.0;  // a packet arrives up to maxDelay later; order is kept
    double maxDelay = 0.0;
    double refuseRate = 0.0;  // a packet is refused although there is room...
    double readyDelay = 0.0;  // ...and the transport is ready again this much later
};

// Two connected transports on the main run loop's clock, one per device, each delivering to
// the other. Faults are drawn from one seeded generator, so a run repeats exactly.
class MemoryLink {
public:
    struct Stats {
        std::size_t accepted = 0;
        std::size_t refused = 0;
        std::size_t dropped = 0;
        std::size_t duplicated = 0;
        std::size_t corrupted = 0;
        std::size_t delayed = 0;
        std::size_t delivered = 0;
    };

    class End final : public TQPacketTransport {
    public:
        void setDelegate(TQBlePacketTransferDelegate* delegate) { delegate_ = delegate; }
        // A disconnected end takes packets without ever confirming them, like a manager
        // without a subscriber, and receives nothing.
        void setConnected(bool connected) { connected_ = connected; }
        void setConditions(const LinkConditions& conditions) { conditions_ = conditions; }
        [[nodiscard]] const LinkConditions& conditions() const { return conditions_; }
        [[nodiscard]] const Stats& stats() const { return stats_; }
        // Sees every packet handed to sendData, accepted or not.
        void setSendObserver(std::function<void(std::span<const std::uint8_t>)> observer) {
            observer_ = std::move(observer);
        }

        bool isConnected() override { return connected_; }
        void sendData(std::span<const std::uint8_t> packet) override;

    private:
        friend class MemoryLink;
        End(MemoryLink& link, int index) : link_(link), index_(index) {}

        void depart();
        void becomeReady();
        void arrive(const platform::Bytes& packet);

        MemoryLink& link_;
        const int index_;
        TQBlePacketTransferDelegate* delegate_ = nullptr;
        bool connected_ = true;
        LinkConditions conditions_;
        Stats stats_;
        std::function<void(std::span<const std::uint8_t>)> observer_;
        std::size_t inBuffer_ = 0;
        double channelFreeAt_ = 0.0;
        double lastArrival_ = 0.0;
        bool refused_ = false;
    };

    explicit MemoryLink(std::uint64_t seed, const LinkConditions& conditions = {});
    ~MemoryLink();
    MemoryLink(const MemoryLink&) = delete;
    MemoryLink& operator=(const MemoryLink&) = delete;

    End& phone() { return *ends_[0]; }
    End& peer() { return *ends_[1]; }

private:
    End& other(int index) { return *ends_[1 - index]; }
    bool chance(double rate);
    std::size_t pick(std::size_t bound);
    double fraction();
    // Runs task after delay unless the link is gone by then.
    void later(double delay, std::function<void()> task);

    platform::RunLoop& loop_;
    std::mt19937_64 random_;
    std::unique_ptr<End> ends_[2];
    platform::WeakPtrFactory<MemoryLink> weak_{*this, loop_};
};

}  // namespace link_test
