#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/foundation/RunLoop.h"

namespace testing_support {

// Drives the loop until done() holds. Work from other threads (a network thread, a pool)
// wakes it; if done() still fails after `boundSeconds` of real time, a watchdog stops the
// loop so the test fails instead of hanging. Returns done().
bool runLoopUntil(platform::RunLoop& loop, const std::function<bool()>& done,
                  double boundSeconds = 30);

// Hears every post to a virtual loop, so that a driver stepping the loop's clock can wait for
// news from another thread (a server, a socket thread) instead of moving the clock meanwhile.
// Installs the loop's wake-up handler for its lifetime: make it before those threads start.
// A thread that posted just before it went may still be calling the handler afterwards, so the
// handler holds the count it raises, not this object.
class LoopWakes {
public:
    explicit LoopWakes(platform::RunLoop& loop);
    ~LoopWakes();
    LoopWakes(const LoopWakes&) = delete;
    LoopWakes& operator=(const LoopWakes&) = delete;

    // Until the next post or a few milliseconds of real time.
    void waitBriefly();

private:
    struct Count {
        std::mutex mutex;
        std::condition_variable arrived;
        std::uint64_t posts = 0;
    };

    platform::RunLoop& loop_;
    const std::shared_ptr<Count> count_ = std::make_shared<Count>();
};

}  // namespace testing_support
