#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// A timer scheduled on a RunLoop. Only invalidate() cancels it: the loop keeps the timer alive
// while it is scheduled, so dropping the pointer returned by scheduleTimer() does not.
class Timer {
public:
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Thread-safe. Releases the callback at once so that whatever it captured is freed even if
    // the loop only discards the stale schedule entry later.
    void invalidate();
    bool isValid() const;
    double interval() const { return interval_; }
    bool repeats() const { return repeats_; }

private:
    friend class RunLoop;
    Timer(double interval, bool repeats, std::function<void()> fire);

    // The callback leaves the timer while it runs so that invalidate() from inside it cannot
    // destroy the callable that is executing.
    bool takeForFiring(std::function<void()>& fire);
    bool rearm(std::function<void()>& fire);

    const double interval_;
    const bool repeats_;
    mutable std::mutex mutex_;
    bool valid_ = true;
    std::function<void()> fire_;
};

// The loop that runs everything touching Bluetooth, timers and screens. Its clock is either the
// monotonic steady clock or a virtual one that only moves when driven, so protocol timeouts can
// be tested without waiting. Posts and timers form one schedule ordered by (deadline, sequence):
// a post is due "now", ties go in creation order.
//
// Only one thread drives a loop at a time (run, runUntil, runUntilIdle, advance, processDue);
// posting, scheduling, invalidating and stop() are safe from any thread.
class RunLoop {
public:
    enum class Clock { real, virtualTime };

    explicit RunLoop(Clock clock);
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The process-wide main loop: the one installed by ScopedMainRunLoop, else a real loop
    // created on first use.
    static RunLoop& main();

    // Seconds; a virtual clock starts at 0.
    double now() const;
    bool isVirtual() const { return clock_ == Clock::virtualTime; }
    // This thread is driving the loop right now.
    bool isCurrent() const;
    // This thread is the loop's own: the one driving it, or while nothing drives it, the one
    // that drove it last (before the first drive, the one that made it). A test that drives a
    // virtual loop step by step stays on the loop's thread between the steps.
    bool isLoopThread() const;

    void post(std::function<void()> task);
    void postDelayed(double seconds, std::function<void()> task);
    // A repeating timer is due every `interval` after it was scheduled (deadline k is
    // start + k * interval); with a real clock, fires missed while the loop was busy are skipped
    // rather than replayed. Throws std::invalid_argument for a repeating interval <= 0.
    std::shared_ptr<Timer> scheduleTimer(double interval, bool repeats, std::function<void()> fire);

    // Runs until stop(). A stop() that arrives while nothing drives the loop ends the next run.
    void run();
    void runUntil(const std::function<bool()>& done);
    void stop();
    // Runs everything due now, including what it posts, without moving a virtual clock.
    void runUntilIdle();
    // Virtual clock only (std::logic_error otherwise): fires everything due up to now() + seconds
    // in schedule order, with now() at each entry's deadline, then leaves now() at the target.
    void advance(double seconds);

    // For a host event loop (a GUI toolkit) that drives this one: sleep until nextDeadline()
    // (infinity when nothing is scheduled) or a wake-up, then call processDue().
    double nextDeadline();
    void processDue();
    // Called on the posting thread after anything is posted or scheduled and after stop();
    // it must be thread-safe and must not block. Set it before other threads use the loop.
    void setWakeUpHandler(std::function<void()> handler);
    // Whether stop() came since the last run ended or the last ask, clearing it: how a host
    // event loop that drives this one hears it should end.
    bool takeStopRequest();

private:
    struct Entry {
        double deadline = 0;
        std::uint64_t sequence = 0;
        std::function<void()> task;
        std::shared_ptr<Timer> timer;
        double origin = 0;
        std::uint64_t fireCount = 1;
    };
    class DriverScope;

    static bool runsAfter(const Entry& a, const Entry& b);

    double nowLocked() const;
    void enqueue(double delay, std::function<void()> task, std::shared_ptr<Timer> timer);
    void pushLocked(Entry entry);
    void dropInvalidTimersLocked();
    bool runOne(double limit);
    void fire(Entry& entry);
    void waitForWork();

    const Clock clock_;
    mutable std::mutex mutex_;
    std::condition_variable workArrived_;
    std::vector<Entry> schedule_;  // min-heap on (deadline, sequence)
    std::uint64_t nextSequence_ = 0;
    double virtualNow_ = 0;
    bool stopRequested_ = false;
    std::shared_ptr<const std::function<void()>> wakeUpHandler_;
    std::atomic<std::thread::id> driver_{};
    std::atomic<std::thread::id> home_{std::this_thread::get_id()};
};

// Installs a loop as RunLoop::main() for its lifetime (typically a virtual loop in a test) and
// puts the previous one back afterwards.
class ScopedMainRunLoop {
public:
    explicit ScopedMainRunLoop(RunLoop& loop);
    ~ScopedMainRunLoop();
    ScopedMainRunLoop(const ScopedMainRunLoop&) = delete;
    ScopedMainRunLoop& operator=(const ScopedMainRunLoop&) = delete;

private:
    RunLoop* previous_;
};

}  // namespace platform
