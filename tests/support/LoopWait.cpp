#include "support/LoopWait.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace testing_support {

bool runLoopUntil(platform::RunLoop& loop, const std::function<bool()>& done, double boundSeconds) {
    std::mutex mutex;
    std::condition_variable finished;
    bool over = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_for(lock, std::chrono::duration<double>(boundSeconds),
                               [&] { return over; })) {
            lock.unlock();
            loop.stop();
        }
    });
    loop.runUntil(done);
    {
        std::lock_guard lock(mutex);
        over = true;
    }
    finished.notify_one();
    watchdog.join();
    return done();
}

LoopWakes::LoopWakes(platform::RunLoop& loop) : loop_(loop) {
    loop_.setWakeUpHandler([count = count_] {
        {
            std::lock_guard lock(count->mutex);
            ++count->posts;
        }
        count->arrived.notify_all();
    });
}

LoopWakes::~LoopWakes() {
    loop_.setWakeUpHandler(nullptr);
}

void LoopWakes::waitBriefly() {
    std::unique_lock lock(count_->mutex);
    const std::uint64_t seen = count_->posts;
    count_->arrived.wait_for(lock, std::chrono::milliseconds(5),
                             [&] { return count_->posts != seen; });
}

}  // namespace testing_support
