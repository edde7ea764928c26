#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "platform/foundation/RunLoop.h"

namespace platform {

// Stops a run loop when the process receives SIGINT or SIGTERM, so that a program ends through
// its destructors instead of dying with its files in place.
//
// Both signals are blocked in the constructing thread, and a thread of its own takes them with
// sigwait(). A process-directed signal goes only to a thread that does not block it, so make
// this before any other thread starts (threads inherit the mask); a thread started earlier
// would still die of the signal. Destroy it on the thread that made it: the destructor joins
// its thread and gives that thread its previous mask back.
class StopOnSignals {
public:
    explicit StopOnSignals(RunLoop& loop);
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

    // The last signal that stopped the loop, 0 while none came.
    [[nodiscard]] int received() const { return received_.load(); }

private:
    void wait();

    RunLoop& loop_;
    sigset_t signals_{};
    sigset_t previousMask_{};
    std::atomic<int> received_{0};
    std::atomic<bool> ending_{false};
    std::thread waiter_;
};

}  // namespace platform
