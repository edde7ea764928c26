#pragma once

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"

// The time of log records and the loop whose timers roll log files and save batches. Records
// and timers read one clock, so a virtual run loop moves both.
class LGClock : public platform::Replaceable<const LGClock> {
public:
    virtual ~LGClock() = default;
    // Seconds since 1970.
    [[nodiscard]] virtual double now() const = 0;
    [[nodiscard]] virtual platform::RunLoop& loop() const = 0;

    // The installed clock, else the system's time with the main run loop.
    static const LGClock& current();
};

// Wall time that moves with a run loop: `epochAtZero` when the loop's clock reads 0. Must
// outlive the loggers that use it.
class LGRunLoopClock final : public LGClock {
public:
    LGRunLoopClock(platform::RunLoop& loop, double epochAtZero)
        : loop_(loop), epochAtZero_(epochAtZero) {}
    // Reads the system's time now and follows the loop from there.
    static LGRunLoopClock following(platform::RunLoop& loop);

    [[nodiscard]] double now() const override { return epochAtZero_ + loop_.now(); }
    [[nodiscard]] platform::RunLoop& loop() const override { return loop_; }

private:
    platform::RunLoop& loop_;
    const double epochAtZero_;
};
