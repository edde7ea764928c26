#include "sim/FaultPlan.h"

namespace kavowatch {

void FaultPlan::inject(FaultDirection direction, Fault fault) {
    if (fault.count > 0) {
        ways_[index(direction)].scripted.push_back(fault);
    }
}

void FaultPlan::setRates(FaultDirection direction, FaultRates rates) {
    ways_[index(direction)].rates = rates;
}

void FaultPlan::clear() {
    for (Way& way : ways_) {
        way.scripted.clear();
        way.rates = {};
    }
}

bool FaultPlan::chance(double probability) {
    return probability > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < probability;
}

void FaultPlan::corrupt(platform::Bytes& packet) {
    if (packet.empty()) {
        return;
    }
    const std::size_t at = random_() % packet.size();
    packet[at] ^= static_cast<std::uint8_t>(1u << (random_() % 8));
}

FaultPlan::Decision FaultPlan::apply(FaultDirection direction, platform::Bytes& packet) {
    Way& way = ways_[index(direction)];
    Decision decision;
    bool corrupted = false;
    if (!way.scripted.empty()) {
        Fault& fault = way.scripted.front();
        switch (fault.kind) {
            case FaultKind::drop:
                decision.drop = true;
                break;
            case FaultKind::corrupt:
                corrupted = true;
                break;
            case FaultKind::duplicate:
                decision.duplicate = true;
                break;
            case FaultKind::delay:
                decision.delay = fault.delay;
                break;
        }
        if (--fault.count <= 0) {
            way.scripted.pop_front();
        }
    }
    decision.drop = decision.drop || chance(way.rates.drop);
    corrupted = corrupted || chance(way.rates.corrupt);
    decision.duplicate = decision.duplicate || chance(way.rates.duplicate);
    if (decision.drop) {
        ++way.counts.dropped;
        return Decision{.drop = true};
    }
    if (corrupted) {
        corrupt(packet);
        ++way.counts.corrupted;
    }
    way.counts.duplicated += decision.duplicate ? 1 : 0;
    way.counts.delayed += decision.delay > 0 ? 1 : 0;
    return decision;
}

}  // namespace kavowatch
