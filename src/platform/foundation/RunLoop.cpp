#include "platform/foundation/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace platform {

namespace {

using Task = std::function<void()>;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::chrono::steady_clock::time_point steadyTimePoint(double seconds) {
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(seconds)));
}

// Longest single wait in real mode; a far-away deadline is re-examined rather than converted
// into a time_point that would overflow.
constexpr double kMaxRealWait = 3600.0;

struct MainLoopSlot {
    // Guards the fallback and changes of installed.
    std::mutex mutex;
    // Read without the lock: every log line asks for the main loop.
    std::atomic<RunLoop*> installed{nullptr};
    std::unique_ptr<RunLoop> fallback;
};

MainLoopSlot& mainLoopSlot() {
    static MainLoopSlot slot;
    return slot;
}

}  // namespace

// ---- Timer ----

Timer::Timer(double interval, bool repeats, Task fire)
    : interval_(interval), repeats_(repeats), fire_(std::move(fire)) {}

void Timer::invalidate() {
    Task released;
    {
        std::lock_guard lock(mutex_);
        valid_ = false;
        released.swap(fire_);
    }
}

bool Timer::isValid() const {
    std::lock_guard lock(mutex_);
    return valid_;
}

bool Timer::takeForFiring(Task& fire) {
    std::lock_guard lock(mutex_);
    if (!valid_) {
        return false;
    }
    fire.swap(fire_);
    if (!repeats_) {
        valid_ = false;
    }
    return true;
}

bool Timer::rearm(Task& fire) {
    std::lock_guard lock(mutex_);
    if (!valid_) {
        return false;
    }
    fire_.swap(fire);
    return true;
}

// ---- RunLoop ----

class RunLoop::DriverScope {
public:
    explicit DriverScope(RunLoop& loop)
        : loop_(loop), outermost_(loop.driver_.load() != std::this_thread::get_id()) {
        if (outermost_) {
            // Home first: a thread that sees the driver set also sees it at home.
            loop_.home_.store(std::this_thread::get_id());
            loop_.driver_.store(std::this_thread::get_id());
        }
    }
    ~DriverScope() {
        if (outermost_) {
            loop_.driver_.store(std::thread::id());
        }
    }
    DriverScope(const DriverScope&) = delete;
    DriverScope& operator=(const DriverScope&) = delete;

private:
    RunLoop& loop_;
    const bool outermost_;
};

RunLoop::RunLoop(Clock clock) : clock_(clock) {}

RunLoop::~RunLoop() {
    // Timers held elsewhere must not keep reporting themselves as scheduled.
    for (Entry& entry : schedule_) {
        if (entry.timer) {
            entry.timer->invalidate();
        }
    }
}

RunLoop& RunLoop::main() {
    MainLoopSlot& slot = mainLoopSlot();
    if (RunLoop* installed = slot.installed.load()) {
        return *installed;
    }
    std::lock_guard lock(slot.mutex);
    if (slot.installed.load() == nullptr) {
        if (!slot.fallback) {
            slot.fallback = std::make_unique<RunLoop>(Clock::real);
        }
        slot.installed.store(slot.fallback.get());
    }
    return *slot.installed.load();
}

double RunLoop::now() const {
    if (clock_ == Clock::real) {
        return steadySeconds();
    }
    std::lock_guard lock(mutex_);
    return virtualNow_;
}

double RunLoop::nowLocked() const {
    return clock_ == Clock::real ? steadySeconds() : virtualNow_;
}

bool RunLoop::isCurrent() const {
    return driver_.load() == std::this_thread::get_id();
}

bool RunLoop::isLoopThread() const {
    const std::thread::id driver = driver_.load();
    const std::thread::id self = std::this_thread::get_id();
    return driver != std::thread::id() ? driver == self : home_.load() == self;
}

void RunLoop::post(Task task) {
    enqueue(0, std::move(task), nullptr);
}

void RunLoop::postDelayed(double seconds, Task task) {
    enqueue(std::max(0.0, seconds), std::move(task), nullptr);
}

std::shared_ptr<Timer> RunLoop::scheduleTimer(double interval, bool repeats, Task fire) {
    if (repeats && !(interval > 0)) {
        throw std::invalid_argument("RunLoop: a repeating timer needs a positive interval");
    }
    std::shared_ptr<Timer> timer(new Timer(std::max(0.0, interval), repeats, std::move(fire)));
    enqueue(timer->interval(), nullptr, timer);
    return timer;
}

void RunLoop::enqueue(double delay, Task task, std::shared_ptr<Timer> timer) {
    std::shared_ptr<const Task> handler;
    {
        std::lock_guard lock(mutex_);
        const double origin = nowLocked();
        Entry entry;
        entry.deadline = origin + delay;
        entry.sequence = nextSequence_++;
        entry.task = std::move(task);
        entry.timer = std::move(timer);
        entry.origin = origin;
        pushLocked(std::move(entry));
        // Notified under the lock: the loop may be destroyed as soon as its driver sees the work.
        workArrived_.notify_one();
        handler = wakeUpHandler_;
    }
    if (handler) {
        (*handler)();
    }
}

bool RunLoop::runsAfter(const Entry& a, const Entry& b) {
    return a.deadline != b.deadline ? a.deadline > b.deadline : a.sequence > b.sequence;
}

void RunLoop::pushLocked(Entry entry) {
    schedule_.push_back(std::move(entry));
    std::push_heap(schedule_.begin(), schedule_.end(), runsAfter);
}

void RunLoop::dropInvalidTimersLocked() {
    // Invalidated timers are removed lazily, when they reach the front.
    while (!schedule_.empty() && schedule_.front().timer && !schedule_.front().timer->isValid()) {
        std::pop_heap(schedule_.begin(), schedule_.end(), runsAfter);
        schedule_.pop_back();
    }
}

bool RunLoop::runOne(double limit) {
    Entry entry;
    {
        std::lock_guard lock(mutex_);
        dropInvalidTimersLocked();
        if (schedule_.empty() || schedule_.front().deadline > limit) {
            return false;
        }
        std::pop_heap(schedule_.begin(), schedule_.end(), runsAfter);
        entry = std::move(schedule_.back());
        schedule_.pop_back();
        if (clock_ == Clock::virtualTime) {
            virtualNow_ = std::max(virtualNow_, entry.deadline);
        }
    }
    if (entry.timer) {
        fire(entry);
    } else {
        entry.task();
    }
    return true;
}

void RunLoop::fire(Entry& entry) {
    Timer& timer = *entry.timer;
    Task callback;
    if (!timer.takeForFiring(callback)) {
        return;
    }
    if (callback) {
        callback();
    }
    if (!timer.repeats() || !timer.rearm(callback)) {
        return;
    }
    std::lock_guard lock(mutex_);
    ++entry.fireCount;
    entry.deadline = entry.origin + static_cast<double>(entry.fireCount) * timer.interval();
    if (clock_ == Clock::real) {
        const double current = steadySeconds();
        if (entry.deadline <= current) {
            entry.fireCount = static_cast<std::uint64_t>(
                                  std::floor((current - entry.origin) / timer.interval())) +
                              1;
            entry.deadline = entry.origin + static_cast<double>(entry.fireCount) * timer.interval();
        }
    }
    pushLocked(std::move(entry));
}

void RunLoop::waitForWork() {
    std::unique_lock lock(mutex_);
    if (stopRequested_) {
        return;
    }
    dropInvalidTimersLocked();
    if (schedule_.empty()) {
        workArrived_.wait(lock);
        return;
    }
    const double deadline = schedule_.front().deadline;
    if (clock_ == Clock::virtualTime) {
        virtualNow_ = std::max(virtualNow_, deadline);
        return;
    }
    const double current = steadySeconds();
    if (deadline > current) {
        workArrived_.wait_until(lock, steadyTimePoint(std::min(deadline, current + kMaxRealWait)));
    }
}

bool RunLoop::takeStopRequest() {
    std::lock_guard lock(mutex_);
    return std::exchange(stopRequested_, false);
}

void RunLoop::run() {
    runUntil([] { return false; });
}

void RunLoop::runUntil(const std::function<bool()>& done) {
    DriverScope scope(*this);
    while (!takeStopRequest() && !done()) {
        if (!runOne(now())) {
            waitForWork();
        }
    }
}

void RunLoop::stop() {
    std::shared_ptr<const Task> handler;
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        workArrived_.notify_one();
        handler = wakeUpHandler_;
    }
    if (handler) {
        (*handler)();
    }
}

void RunLoop::runUntilIdle() {
    processDue();
}

void RunLoop::advance(double seconds) {
    if (clock_ != Clock::virtualTime) {
        throw std::logic_error("RunLoop::advance needs a virtual clock");
    }
    DriverScope scope(*this);
    const double target = now() + std::max(0.0, seconds);
    while (runOne(target)) {
    }
    std::lock_guard lock(mutex_);
    virtualNow_ = std::max(virtualNow_, target);
}

double RunLoop::nextDeadline() {
    std::lock_guard lock(mutex_);
    dropInvalidTimersLocked();
    return schedule_.empty() ? std::numeric_limits<double>::infinity() : schedule_.front().deadline;
}

void RunLoop::processDue() {
    DriverScope scope(*this);
    while (runOne(now())) {
    }
}

void RunLoop::setWakeUpHandler(Task handler) {
    std::lock_guard lock(mutex_);
    wakeUpHandler_ = handler ? std::make_shared<const Task>(std::move(handler)) : nullptr;
}

// ---- ScopedMainRunLoop ----

ScopedMainRunLoop::ScopedMainRunLoop(RunLoop& loop) {
    MainLoopSlot& slot = mainLoopSlot();
    std::lock_guard lock(slot.mutex);
    previous_ = slot.installed.exchange(&loop);
}

ScopedMainRunLoop::~ScopedMainRunLoop() {
    MainLoopSlot& slot = mainLoopSlot();
    std::lock_guard lock(slot.mutex);
    slot.installed.store(previous_);
}

}  // namespace platform
