#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class RunLoop;

enum class QueuePriority : int { veryLow = -8, low = -4, normal = 0, high = 4, veryHigh = 8 };

// A unit of work for an OperationQueue. A synchronous operation is finished when main() returns;
// an asynchronous one (constructed with asynchronous = true) starts its work in main() and calls
// finish() later, from any thread, and keeps its queue slot until then.
class Operation : public std::enable_shared_from_this<Operation> {
public:
    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Runs main() unless the operation was cancelled first, in which case it just finishes.
    // Queues call this; calling it twice throws std::logic_error.
    void start();
    // Only marks the operation: running work is expected to check isCancelled() and stop early.
    // An asynchronous operation may stop its work at once too; it calls this one first.
    virtual void cancel();

    bool isCancelled() const { return cancelled_.load(); }
    bool isExecuting() const { return executing_.load(); }
    bool isFinished() const { return finished_.load(); }
    bool isAsynchronous() const { return asynchronous_; }

    // Read when the operation is added to a queue; later changes do not reorder it.
    void setQueuePriority(QueuePriority priority) { priority_.store(priority); }
    QueuePriority queuePriority() const { return priority_.load(); }
    // Runs once, on the thread that finishes the operation, before its queue learns of it.
    void setCompletionBlock(std::function<void()> completion);

protected:
    explicit Operation(bool asynchronous = false) : asynchronous_(asynchronous) {}

    virtual void main() = 0;
    // Idempotent; ignored before start().
    void finish();

private:
    friend class OperationQueue;
    // False if the operation already belongs to a queue or has started.
    bool attachToQueue(std::function<void()> onFinished);

    const bool asynchronous_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> finishing_{false};
    std::atomic<QueuePriority> priority_{QueuePriority::normal};
    std::mutex mutex_;
    bool attached_ = false;
    std::function<void()> completion_;
    std::function<void()> onFinished_;
};

class BlockOperation final : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}

private:
    void main() override;

    std::function<void()> block_;
};

// Starts operations highest queue priority first, FIFO within a priority, at most
// maxConcurrentOperationCount at a time. Operations run on the global dispatch pool, or, for a
// queue built on a RunLoop, as posts to that loop (deterministic on a virtual clock).
//
// Destroying the queue does not wait: operations already started run to completion, those not
// yet started are dropped without running. A RunLoop target must outlive its queue's operations.
class OperationQueue {
public:
    static constexpr int kUnlimited = -1;

    OperationQueue();
    explicit OperationQueue(RunLoop& loop);
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // 1 makes the queue serial; kUnlimited (the default) leaves the limit to the executor;
    // 0 starts nothing.
    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // Throws std::logic_error if the operation was already queued or started.
    void addOperation(std::shared_ptr<Operation> operation);
    void addOperation(std::function<void()> block, QueuePriority priority = QueuePriority::normal);
    // As addOperation, but when the queue has nothing queued or running and may start an
    // operation, the block runs on the calling thread before this returns, as the queue's
    // operation: what is added meanwhile waits behind it. A queue on a RunLoop always queues.
    // Returns whether the block ran here.
    bool addOperationHereWhenIdle(std::function<void()> block);

    // A suspended queue starts nothing new; operations already started carry on.
    void setSuspended(bool suspended);
    bool isSuspended() const;

    // Cancels every queued and running operation; queued ones finish without running main()
    // when their turn comes.
    void cancelAllOperations();

    // Blocks until no operation is queued or running (forever if the queue is suspended with
    // work queued). On a RunLoop queue it drives the loop itself, so call it on the thread that
    // drives that loop or while nobody does. Never call it from one of this queue's operations.
    void waitUntilAllOperationsAreFinished();

    // Queued plus running (started and not finished) operations.
    std::size_t operationCount() const;

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

}  // namespace platform
