#include "link/support/MemoryLink.h"

#include <algorithm>
#include <utility>

namespace link_test {

MemoryLink::MemoryLink(std::uint64_t seed, const LinkConditions& conditions)
    : loop_(platform::RunLoop::main()),
      random_(seed),
      ends_{std::unique_ptr<End>(new End(*this, 0)), std::unique_ptr<End>(new End(*this, 1))} {
    for (auto& end : ends_) {
        end->conditions_ = conditions;
    }
}

MemoryLink::~MemoryLink() = default;

bool MemoryLink::chance(double rate) {
    return rate > 0.0 && fraction() < rate;
}

std::size_t MemoryLink::pick(std::size_t bound) {
    return static_cast<std::size_t>(random_() % bound);
}

double MemoryLink::fraction() {
    return static_cast<double>(random_() >> 11) * 0x1.0p-53;
}

void MemoryLink::later(double delay, std::function<void()> task) {
    loop_.postDelayed(std::max(0.0, delay), [weak = weak_.weakPtr(), task = std::move(task)] {
        if (weak) {
            task();
        }
    });
}

void MemoryLink::End::sendData(std::span<const std::uint8_t> packet) {
    if (observer_) {
        observer_(packet);
    }
    if (!connected_ || delegate_ == nullptr) {
        return;
    }
    // Refused until ready again; the one readiness signal covers this packet too.
    if (refused_) {
        ++stats_.refused;
        return;
    }
    const bool room = inBuffer_ < conditions_.bufferPackets;
    if (!room || link_.chance(conditions_.refuseRate)) {
        refused_ = true;
        ++stats_.refused;
        if (room) {
            link_.later(conditions_.readyDelay, [this] { becomeReady(); });
        }
        return;
    }

    ++stats_.accepted;
    ++inBuffer_;
    const double now = link_.loop_.now();
    const double leaves = std::max(now, channelFreeAt_) + conditions_.airTime;
    channelFreeAt_ = leaves;
    link_.later(leaves - now, [this] { depart(); });

    platform::Bytes copy(packet.begin(), packet.end());
    double arrival = leaves + conditions_.latency;
    if (link_.chance(conditions_.delayRate)) {
        ++stats_.delayed;
        arrival += link_.fraction() * conditions_.maxDelay;
    }
    arrival = std::max(arrival, lastArrival_);
    lastArrival_ = arrival;
    if (link_.chance(conditions_.dropRate)) {
        ++stats_.dropped;
    } else {
        if (copy.size() > conditions_.corruptFrom && link_.chance(conditions_.corruptRate)) {
            ++stats_.corrupted;
            const std::size_t offset =
                conditions_.corruptFrom + link_.pick(copy.size() - conditions_.corruptFrom);
            copy[offset] = static_cast<std::uint8_t>(copy[offset] ^ (1 + link_.pick(255)));
        }
        const int copies = link_.chance(conditions_.duplicateRate) ? 2 : 1;
        stats_.duplicated += static_cast<std::size_t>(copies - 1);
        for (int i = 0; i < copies; ++i) {
            link_.later(arrival - now, [this, copy] {
                ++stats_.delivered;
                link_.other(index_).arrive(copy);
            });
        }
    }
    if (delegate_ != nullptr) {
        delegate_->onPacketSent(true);
    }
}

void MemoryLink::End::depart() {
    --inBuffer_;
    becomeReady();
}

void MemoryLink::End::becomeReady() {
    if (!refused_) {
        return;
    }
    refused_ = false;
    if (delegate_ != nullptr) {
        delegate_->onPacketSent(false);
    }
}

void MemoryLink::End::arrive(const platform::Bytes& packet) {
    if (connected_ && delegate_ != nullptr) {
        delegate_->onDataReceived(packet);
    }
}

}  // namespace link_test
