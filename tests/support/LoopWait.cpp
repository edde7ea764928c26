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
    loop_.setWakeUpHandler([this] {
        {
            std::lock_guard lock(mutex_);
            ++count_;
        }
        arrived_.notify_all();
    });
}

LoopWakes::~LoopWakes() {
    loop_.setWakeUpHandler(nullptr);
}

void LoopWakes::waitBriefly() {
    std::unique_lock lock(mutex_);
    const std::uint64_t seen = count_;
    arrived_.wait_for(lock, std::chrono::milliseconds(5), [&] { return count_ != seen; });
}

}  // namespace testing_support
