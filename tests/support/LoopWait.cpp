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

}  // namespace testing_support
