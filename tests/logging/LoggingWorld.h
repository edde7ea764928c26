#pragma once

#include <memory>

#include "logging/LGClock.h"
#include "logging/LGLog.h"
#include "logging/LGLogger.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"

namespace logging_testing {

// 2016-03-02 09:05:00 GMT.
inline constexpr double kEpoch = 1456909500;

// A fresh hub whose records and timers read a virtual loop's clock, at kEpoch when the loop
// starts. Loggers the test registers go with the hub, after its clock.
struct LoggingWorld {
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop installLoop{loop};
    LGRunLoopClock clock{loop, kEpoch};
    platform::ScopedInstall<const LGClock> installClock{&clock};
    LGLogHub hub;
    platform::ScopedInstall<LGLogHub> installHub{&hub};

    // Moves the clock and waits until what its timers handed the loggers is done.
    void advance(double seconds) {
        loop.advance(seconds);
        settle();
    }
    // Waits until everything queued on the logging queue reached the loggers' queues.
    static void settle() {
        LGLog::syncOnLoggingQueue([] {});
    }
    static void settle(LGLogger& logger) {
        settle();
        logger.loggerQueue()->sync([] {});
    }
};

}  // namespace logging_testing
