#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <random>

#include "platform/foundation/Value.h"

namespace kavowatch {

enum class FaultKind {
    drop,
    corrupt,    // one bit of the packet flipped
    duplicate,  // handed on twice
    delay,      // held back, and everything behind it with it
};

enum class FaultDirection { outgoing, incoming };

// The next `count` packets one way get this fault.
struct Fault {
    FaultKind kind = FaultKind::drop;
    int count = 1;
    double delay = 0;
};

// Chances per packet, drawn from the plan's seed.
struct FaultRates {
    double drop = 0;
    double corrupt = 0;
    double duplicate = 0;
};

struct FaultCounts {
    int dropped = 0;
    int corrupted = 0;
    int duplicated = 0;
    int delayed = 0;
};

// What befalls the watch's packets on their way out and in, scripted or at random. Scripted
// faults come first, in the order injected.
class FaultPlan {
public:
    struct Decision {
        bool drop = false;
        bool duplicate = false;
        double delay = 0;
    };

    explicit FaultPlan(std::uint64_t seed = 1) : random_(seed) {}

    void inject(FaultDirection direction, Fault fault);
    void setRates(FaultDirection direction, FaultRates rates);
    // Forgets scripted faults and rates; the counts stay.
    void clear();

    // Decides the packet's fate; corruption is done in place.
    Decision apply(FaultDirection direction, platform::Bytes& packet);
    [[nodiscard]] const FaultCounts& counts(FaultDirection direction) const {
        return ways_[index(direction)].counts;
    }

private:
    struct Way {
        std::deque<Fault> scripted;
        FaultRates rates;
        FaultCounts counts;
    };

    static std::size_t index(FaultDirection direction) {
        return direction == FaultDirection::outgoing ? 0 : 1;
    }
    bool chance(double probability);
    void corrupt(platform::Bytes& packet);

    std::array<Way, 2> ways_;
    std::mt19937_64 random_;
};

}  // namespace kavowatch
