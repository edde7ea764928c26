#include "sim/FaultyLink.h"

#include <algorithm>

namespace kavowatch {

FaultyLink::FaultyLink(platform::RunLoop& loop, FaultPlan& plan) : loop_(loop), plan_(plan) {}

FaultyLink::~FaultyLink() = default;

void FaultyLink::setUpcalls(std::function<void()> sent,
                            std::function<void(std::span<const std::uint8_t>)> arrived) {
    sent_ = std::move(sent);
    arrived_ = std::move(arrived);
}

PacketLink::Outcome FaultyLink::transmit(std::span<const std::uint8_t> packet) {
    platform::Bytes copy(packet.begin(), packet.end());
    const FaultPlan::Decision decision = plan_.apply(FaultDirection::outgoing, copy);
    if (decision.drop) {
        return Outcome::sent;  // as far as the sender can tell
    }
    copies_.clear();
    copies_.push_back(copy);
    if (decision.duplicate) {
        copies_.push_back(std::move(copy));
    }
    if (decision.delay > 0) {
        later(decision.delay, [this] {
            if (flush()) {
                finishAsync();
            }
        });
        return Outcome::pending;
    }
    return flush() ? Outcome::sent : Outcome::pending;
}

bool FaultyLink::flush() {
    while (!copies_.empty()) {
        const Outcome outcome =
            inner_ != nullptr ? inner_->transmit(copies_.front()) : Outcome::lost;
        switch (outcome) {
            case Outcome::sent:
            case Outcome::lost:
                copies_.pop_front();
                break;
            case Outcome::pending:
                waitingForInner_ = true;
                return false;
            case Outcome::busy:
                waitingForRoom_ = true;
                return false;
        }
    }
    return true;
}

void FaultyLink::finishAsync() {
    if (sent_) {
        sent_();
    }
}

void FaultyLink::innerSent() {
    if (!waitingForInner_) {
        return;
    }
    waitingForInner_ = false;
    if (!copies_.empty()) {
        copies_.pop_front();
    }
    if (flush()) {
        finishAsync();
    }
}

void FaultyLink::innerReady() {
    if (!waitingForRoom_) {
        return;
    }
    waitingForRoom_ = false;
    if (flush()) {
        finishAsync();
    }
}

void FaultyLink::arrived(std::span<const std::uint8_t> packet) {
    platform::Bytes copy(packet.begin(), packet.end());
    const FaultPlan::Decision decision = plan_.apply(FaultDirection::incoming, copy);
    if (decision.drop) {
        return;
    }
    const int copies = decision.duplicate ? 2 : 1;
    const double now = loop_.now();
    const double release = std::max(now + decision.delay, lastRelease_);
    lastRelease_ = release;
    if (release <= now && heldIncoming_ == 0) {
        deliver(copy, copies);
        return;
    }
    ++heldIncoming_;
    later(release - now, [this, copy = std::move(copy), copies] {
        --heldIncoming_;
        deliver(copy, copies);
    });
}

void FaultyLink::later(double delay, std::function<void()> task) {
    loop_.postDelayed(delay,
                      [weak = weak_.weakPtr(), generation = generation_, task = std::move(task)] {
                          if (weak && generation == weak->generation_) {
                              task();
                          }
                      });
}

void FaultyLink::deliver(const platform::Bytes& packet, int copies) {
    for (int i = 0; i < copies && arrived_; ++i) {
        arrived_(packet);
    }
}

void FaultyLink::clear() {
    ++generation_;
    copies_.clear();
    waitingForInner_ = false;
    waitingForRoom_ = false;
    heldIncoming_ = 0;
    lastRelease_ = 0;
}

}  // namespace kavowatch
