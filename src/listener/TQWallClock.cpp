#include "listener/TQWallClock.h"

#include <chrono>

namespace {

class SystemWallClock final : public TQWallClock {
public:
    std::int64_t millisecondsSince1970() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};

}  // namespace

TQWallClock& TQWallClock::current() {
    return installedOr([]() -> TQWallClock& {
        static SystemWallClock system;
        return system;
    });
}
