#include "platform/foundation/Dispatch.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/ContinueHere.h"
#include "platform/foundation/RunLoop.h"

namespace platform {

namespace {

using Task = std::function<void()>;
using Priority = DispatchQueue::Priority;

constexpr std::size_t kPriorityCount = 4;
constexpr unsigned kMaxThreadsPerBaseThread = 16;
// Tasks a serial queue runs before handing its worker back to the pool.
constexpr int kSerialBatch = 16;

std::chrono::steady_clock::time_point deadlineAfter(double seconds) {
    // About a century: far enough to mean "never", near enough not to overflow.
    constexpr double kLongest = 3.0e9;
    const auto delay = std::chrono::duration<double>(std::clamp(seconds, 0.0, kLongest));
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay);
}

class ThreadPool {
public:
    static ThreadPool& shared() {
        static ThreadPool pool(std::max(4u, std::thread::hardware_concurrency()));
        return pool;
    }

    // The pool whose worker is the calling thread, if any.
    static ThreadPool* current() { return currentPool; }

    explicit ThreadPool(unsigned baseThreads) : baseThreads_(baseThreads) {}

    // Waits for the workers so none outlives the statics its tasks may use. Work queued before
    // exit still runs: a running task may be waiting for it (a sync into another queue), and
    // dropping it would leave that task, and exit, waiting for ever. A task blocked on
    // something that never comes still blocks exit.
    ~ThreadPool() {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        workAvailable_.notify_all();
        allExited_.wait(lock, [this] { return liveThreads_ == 0; });
    }

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    void submit(Priority priority, Task task) {
        std::lock_guard lock(mutex_);
        queues_[static_cast<std::size_t>(priority)].push_back(std::move(task));
        ++queuedCount_;
        spawnIfStarvedLocked();
        // Under the lock: the shared pool is destroyed at exit, and a thread outside it that
        // submits then must not notify once the destructor has seen the workers go.
        workAvailable_.notify_one();
    }

    void blockingBegin() {
        std::lock_guard lock(mutex_);
        ++blockedThreads_;
        spawnIfStarvedLocked();
    }

    void blockingEnd() {
        std::lock_guard lock(mutex_);
        --blockedThreads_;
    }

private:
    unsigned runnableThreadsLocked() const { return liveThreads_ - blockedThreads_; }

    void spawnIfStarvedLocked() {
        if (queuedCount_ > idleThreads_ && runnableThreadsLocked() < baseThreads_ &&
            liveThreads_ < baseThreads_ * kMaxThreadsPerBaseThread) {
            ++liveThreads_;
            try {
                std::thread([this] { work(); }).detach();
            } catch (...) {
                // Out of threads: carry on with those we have unless there are none at all.
                if (--liveThreads_ == 0) {
                    throw;
                }
            }
        }
    }

    Task takeLocked() {
        for (auto& queue : queues_) {
            if (!queue.empty()) {
                Task task = std::move(queue.front());
                queue.pop_front();
                --queuedCount_;
                return task;
            }
        }
        return nullptr;
    }

    void work() {
        currentPool = this;
        std::unique_lock lock(mutex_);
        while (runnableThreadsLocked() <= baseThreads_) {
            Task task = takeLocked();
            if (!task) {
                if (stopping_) {
                    break;
                }
                ++idleThreads_;
                workAvailable_.wait(lock);
                --idleThreads_;
                continue;
            }
            lock.unlock();
            task();
            task = nullptr;  // captured state dies outside the lock
            lock.lock();
        }
        --liveThreads_;
        // Under the lock: the destructor may free the pool as soon as it sees the count drop.
        allExited_.notify_all();
    }

    static thread_local ThreadPool* currentPool;

    const unsigned baseThreads_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable allExited_;
    std::array<std::deque<Task>, kPriorityCount> queues_;
    std::size_t queuedCount_ = 0;
    unsigned liveThreads_ = 0;
    unsigned idleThreads_ = 0;
    unsigned blockedThreads_ = 0;
    bool stopping_ = false;
};

thread_local ThreadPool* ThreadPool::currentPool = nullptr;

// Marks a pool worker as waiting so the pool can make up for it.
class BlockingScope {
public:
    BlockingScope() : pool_(ThreadPool::current()) {
        if (pool_ != nullptr) {
            pool_->blockingBegin();
        }
    }
    ~BlockingScope() {
        if (pool_ != nullptr) {
            pool_->blockingEnd();
        }
    }
    BlockingScope(const BlockingScope&) = delete;
    BlockingScope& operator=(const BlockingScope&) = delete;

private:
    ThreadPool* pool_;
};

thread_local const DispatchQueue* currentQueue = nullptr;

class CurrentQueueScope {
public:
    explicit CurrentQueueScope(const DispatchQueue* queue)
        : previous_(std::exchange(currentQueue, queue)) {}
    ~CurrentQueueScope() { currentQueue = previous_; }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

private:
    const DispatchQueue* previous_;
};

class GlobalQueue final : public DispatchQueue {
public:
    GlobalQueue(std::string label, Priority priority)
        : DispatchQueue(std::move(label)), priority_(priority) {}

    void async(Task task) override {
        ThreadPool::shared().submit(priority_, [this, task = std::move(task)] {
            CurrentQueueScope scope(this);
            task();
        });
    }

    bool isCurrent() const override { return currentQueue == this; }

private:
    const Priority priority_;
};

class MainQueue final : public DispatchQueue {
public:
    MainQueue() : DispatchQueue("main") {}

    void async(Task task) override { RunLoop::main().post(std::move(task)); }
    bool isCurrent() const override { return RunLoop::main().isCurrent(); }
};

}  // namespace

// ---- DispatchQueue ----

std::string DispatchQueue::currentLabel() {
    if (currentQueue != nullptr) {
        return currentQueue->label();
    }
    return main().isCurrent() ? main().label() : std::string();
}

DispatchQueue& DispatchQueue::main() {
    static MainQueue queue;
    return queue;
}

DispatchQueue& DispatchQueue::global(Priority priority) {
    // Never destroyed: the pool may have been made first and so outlive them at exit, while a
    // worker's last task still hands work to a global queue.
    static auto& queues = *new std::array<GlobalQueue, kPriorityCount>{
        GlobalQueue("global.high", Priority::high),
        GlobalQueue("global.normal", Priority::normal),
        GlobalQueue("global.low", Priority::low),
        GlobalQueue("global.background", Priority::background),
    };
    return queues[static_cast<std::size_t>(priority)];
}

void DispatchQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    Semaphore done(0);
    std::exception_ptr error;
    async([&] {
        try {
            task();
        } catch (...) {
            error = std::current_exception();
        }
        done.signal();
    });
    done.wait();
    if (error) {
        std::rethrow_exception(error);
    }
}

// ---- SerialQueue ----

SerialQueue::SerialQueue(std::string label, Priority priority)
    : DispatchQueue(std::move(label)), priority_(priority) {}

SerialQueue::~SerialQueue() {
    std::unique_lock lock(mutex_);
    if (scheduled_) {
        BlockingScope blocking;
        drained_.wait(lock, [this] { return !scheduled_; });
    }
}

void SerialQueue::async(Task task) {
    (void)asyncNumbered(std::move(task));
}

std::uint64_t SerialQueue::asyncNumbered(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    const std::uint64_t number = queued_.load() + 1;
    queued_.store(number);
    if (!scheduled_) {
        scheduled_ = true;
        ThreadPool::shared().submit(priority_, [this] { drain(); });
    }
    return number;
}

bool SerialQueue::isCurrent() const {
    return currentQueue == this;
}

void SerialQueue::syncHereWhenIdle(const Task& task) {
    bool idle = false;
    {
        std::lock_guard lock(mutex_);
        // Queued tasks always have a drain scheduled.
        idle = !std::exchange(scheduled_, true);
        if (idle) {
            queued_.store(queued_.load() + 1);
        }
    }
    if (!idle) {
        // Busy: behind what it has, as sync would.
        sync(task);
        return;
    }
    struct Finish {
        SerialQueue& queue;
        ~Finish() { queue.finishHere(); }
    } finish{*this};
    CurrentQueueScope scope(this);
    task();
}

void SerialQueue::finishHere() {
    std::lock_guard lock(mutex_);
    if (tasks_.empty()) {
        scheduled_ = false;
        drained_.notify_all();
    } else {
        ThreadPool::shared().submit(priority_, [this] { drain(); });
    }
}

void SerialQueue::drain() {
    CurrentQueueScope scope(this);
    for (int ran = 0; ran < kSerialBatch; ++ran) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) {
                scheduled_ = false;
                // Under the lock: the destructor may free the queue once it sees this.
                drained_.notify_all();
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
    finishHere();
}

// ---- ContinueHereScope ----

namespace {
thread_local ContinueHereScope* innermostScope = nullptr;
}  // namespace

ContinueHereScope::ContinueHereScope() : outer_(std::exchange(innermostScope, this)) {}

ContinueHereScope::~ContinueHereScope() {
    // Closed before its tasks run: what they hand on goes to the scope around this one.
    innermostScope = outer_;
    for (auto& [queue, task] : kept_) {
        CurrentQueueScope scope(queue);
        task();
        task = nullptr;  // captured state dies before the next task runs
    }
}

void ContinueHereScope::async(DispatchQueue& queue, Task task) {
    bool global = false;
    for (const Priority priority :
         {Priority::high, Priority::normal, Priority::low, Priority::background}) {
        global = global || &queue == &DispatchQueue::global(priority);
    }
    if (innermostScope == nullptr || !global) {
        queue.async(std::move(task));
        return;
    }
    innermostScope->kept_.emplace_back(&queue, std::move(task));
}

// ---- DispatchGroup ----

struct DispatchGroup::State {
    void leave() {
        std::vector<std::pair<DispatchQueue*, Task>> ready;
        {
            std::lock_guard lock(mutex);
            if (outstanding == 0) {
                throw std::logic_error("DispatchGroup::leave without enter");
            }
            if (--outstanding == 0) {
                ready.swap(notifications);
                // Under the lock: a waiter may destroy the group as soon as it wakes.
                empty.notify_all();
            }
        }
        for (auto& [queue, task] : ready) {
            queue->async(std::move(task));
        }
    }

    std::mutex mutex;
    std::condition_variable empty;
    long outstanding = 0;
    std::vector<std::pair<DispatchQueue*, Task>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->outstanding;
}

void DispatchGroup::leave() {
    state_->leave();
}

void DispatchGroup::async(DispatchQueue& queue, Task task) {
    enter();
    queue.async([state = state_, task = std::move(task)] {
        task();
        state->leave();
    });
}

void DispatchGroup::wait() {
    std::unique_lock lock(state_->mutex);
    if (state_->outstanding != 0) {
        BlockingScope blocking;
        state_->empty.wait(lock, [this] { return state_->outstanding == 0; });
    }
}

bool DispatchGroup::wait(double timeoutSeconds) {
    const auto deadline = deadlineAfter(timeoutSeconds);
    std::unique_lock lock(state_->mutex);
    if (state_->outstanding == 0) {
        return true;
    }
    BlockingScope blocking;
    return state_->empty.wait_until(lock, deadline, [this] { return state_->outstanding == 0; });
}

void DispatchGroup::notify(DispatchQueue& queue, Task task) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->outstanding != 0) {
            state_->notifications.emplace_back(&queue, std::move(task));
            return;
        }
    }
    queue.async(std::move(task));
}

// ---- Semaphore ----

Semaphore::Semaphore(long initial) : count_(initial) {}

void Semaphore::signal() {
    signal(1);
}

void Semaphore::signal(long count) {
    if (count <= 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    count_ += count;
    // Under the lock: the waiter often owns this semaphore on its stack and returns at once.
    if (count == 1) {
        available_.notify_one();
    } else {
        available_.notify_all();
    }
}

void Semaphore::wait() {
    std::unique_lock lock(mutex_);
    if (count_ <= 0) {
        BlockingScope blocking;
        available_.wait(lock, [this] { return count_ > 0; });
    }
    --count_;
}

bool Semaphore::wait(double timeoutSeconds) {
    const auto deadline = deadlineAfter(timeoutSeconds);
    std::unique_lock lock(mutex_);
    if (count_ <= 0) {
        BlockingScope blocking;
        if (!available_.wait_until(lock, deadline, [this] { return count_ > 0; })) {
            return false;
        }
    }
    --count_;
    return true;
}

}  // namespace platform
