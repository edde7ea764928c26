#include "logging/LGClock.h"

#include <chrono>

namespace {

double systemNow() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(since).count();
}

class SystemClock final : public LGClock {
public:
    [[nodiscard]] double now() const override { return systemNow(); }
    [[nodiscard]] platform::RunLoop& loop() const override { return platform::RunLoop::main(); }
};

}  // namespace

const LGClock& LGClock::current() {
    return installedOr([]() -> const LGClock& {
        static const SystemClock system;
        return system;
    });
}

LGRunLoopClock LGRunLoopClock::following(platform::RunLoop& loop) {
    return LGRunLoopClock(loop, systemNow() - loop.now());
}
