#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

// Where work runs. Global queues are concurrent and share one process-wide thread pool of
// max(4, hardware threads) workers that always takes the highest-priority work first. A worker
// that blocks in Semaphore::wait, DispatchGroup::wait or sync() lends its slot: the pool may
// start an extra thread so queued work keeps flowing (up to 16 times the base size; beyond that,
// work that everyone waits for can still starve). Surplus threads retire once the waits end.
class DispatchQueue {
public:
    enum class Priority { high, normal, low, background };

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;
    virtual ~DispatchQueue() = default;

    // Posts to RunLoop::main() (whichever loop is installed at the time of the call).
    static DispatchQueue& main();
    static DispatchQueue& global(Priority priority = Priority::normal);

    // A task that throws terminates the process, as it would on the phone.
    virtual void async(std::function<void()> task) = 0;
    // Returns once the task ran; its exception is rethrown here. Called from a task of this same
    // queue (or from the main loop's thread for main()) the task runs inline instead of
    // deadlocking. Waiting in a cycle across serial queues (A -> B -> A) still deadlocks, and
    // sync to main() from a thread that is not driving the main loop waits for whoever does.
    void sync(const std::function<void()>& task);
    virtual bool isCurrent() const = 0;
    const std::string& label() const { return label_; }

    // The label of the queue whose task the calling thread runs: "main" on the thread driving
    // the main loop, "" on a thread that runs no queue's task.
    static std::string currentLabel();

protected:
    explicit DispatchQueue(std::string label) : label_(std::move(label)) {}

private:
    std::string label_;
};

// Runs one task at a time in FIFO order, borrowing a worker of the shared pool while it has
// work (a long backlog is handed back to the pool in batches so it cannot hog a worker).
// The destructor waits until every task queued so far has run; destroying the queue from one
// of its own tasks, or queueing to it during destruction, is a programming error.
class SerialQueue final : public DispatchQueue {
public:
    explicit SerialQueue(std::string label, Priority priority = Priority::normal);
    ~SerialQueue() override;

    void async(std::function<void()> task) override;
    bool isCurrent() const override;
    // Queues the task and returns its number: tasks are numbered 1, 2, ... in the order they
    // are queued (by async and sync as well).
    std::uint64_t asyncNumbered(std::function<void()> task);
    // The number of the task queued last; 0 before any. A caller that queued task n and reads
    // n here knows that nothing was queued behind it since.
    [[nodiscard]] std::uint64_t lastNumber() const { return queued_.load(); }
    // As sync, but when the queue has nothing queued or running the task runs on the calling
    // thread, as the queue's (isCurrent holds there): no thread is woken for it. Tasks queued
    // meanwhile run after it.
    void syncHereWhenIdle(const std::function<void()>& task);

private:
    void drain();
    // After a task run by syncHereWhenIdle: hands what was queued meanwhile to the pool.
    void finishHere();

    const Priority priority_;
    std::mutex mutex_;
    std::condition_variable drained_;
    std::deque<std::function<void()>> tasks_;
    bool scheduled_ = false;
    // Changed under mutex_.
    std::atomic<std::uint64_t> queued_{0};
};

// Tracks a set of outstanding tasks. Safe to destroy while tasks started through async() are
// still running: they keep the shared state alive. Queues passed to notify() must outlive it.
class DispatchGroup {
public:
    DispatchGroup();

    void enter();
    // Throws std::logic_error when there is no matching enter().
    void leave();
    void async(DispatchQueue& queue, std::function<void()> task);
    void wait();
    // False if the group is still busy after the timeout; 0 just checks.
    bool wait(double timeoutSeconds);
    // Runs the task on the queue once the group is empty (at once if it is empty now).
    void notify(DispatchQueue& queue, std::function<void()> task);

private:
    struct State;
    std::shared_ptr<State> state_;
};

class Semaphore {
public:
    explicit Semaphore(long initial = 0);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void signal();
    // As many signals at once.
    void signal(long count);
    void wait();
    // False if no signal arrived within the timeout; 0 just checks.
    bool wait(double timeoutSeconds);

private:
    std::mutex mutex_;
    std::condition_variable available_;
    long count_;
};

}  // namespace platform
