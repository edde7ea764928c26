#include "platform/foundation/OperationQueue.h"

#include <algorithm>
#include <deque>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/foundation/ContinueHere.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"

namespace platform {

namespace {
using Task = std::function<void()>;
}  // namespace

// ---- Operation ----

void Operation::start() {
    if (started_.exchange(true)) {
        throw std::logic_error("Operation started twice");
    }
    if (!cancelled_.load()) {
        executing_.store(true);
        main();
        if (asynchronous_) {
            return;
        }
    }
    finish();
}

void Operation::cancel() {
    cancelled_.store(true);
}

void Operation::setCompletionBlock(Task completion) {
    std::lock_guard lock(mutex_);
    completion_ = std::move(completion);
}

void Operation::finish() {
    if (!started_.load() || finishing_.exchange(true)) {
        return;
    }
    // The queue may drop its reference below while we are still on this object's stack frame.
    const std::shared_ptr<Operation> keepAlive = weak_from_this().lock();
    executing_.store(false);
    finished_.store(true);
    Task completion;
    Task onFinished;
    {
        std::lock_guard lock(mutex_);
        completion.swap(completion_);
        onFinished.swap(onFinished_);
    }
    if (completion) {
        completion();
    }
    if (onFinished) {
        onFinished();
    }
}

bool Operation::attachToQueue(Task onFinished) {
    std::lock_guard lock(mutex_);
    if (attached_ || started_.load()) {
        return false;
    }
    attached_ = true;
    onFinished_ = std::move(onFinished);
    return true;
}

void BlockOperation::main() {
    // Released once run, so whatever the block captured does not live as long as the operation.
    Task block;
    block.swap(block_);
    if (block) {
        block();
    }
}

// ---- OperationQueue ----

struct OperationQueue::Core : std::enable_shared_from_this<Core> {
    Core(std::function<void(Task)> submitToExecutor, RunLoop* targetLoop)
        : submit(std::move(submitToExecutor)), loop(targetLoop) {}

    // With hereWhenIdle, an idle queue's operation starts on the calling thread; true then.
    bool add(std::shared_ptr<Operation> operation, bool hereWhenIdle = false) {
        if (!operation) {
            throw std::invalid_argument("OperationQueue: null operation");
        }
        const Operation* raw = operation.get();
        const bool attached = operation->attachToQueue([weak = weak_from_this(), raw] {
            if (const auto core = weak.lock()) {
                core->finished(raw);
            }
        });
        if (!attached) {
            throw std::logic_error("OperationQueue: operation already queued or started");
        }
        bool here = false;
        {
            std::lock_guard lock(mutex);
            unfinished.enter();
            here = hereWhenIdle && loop == nullptr && !suspended && queuedCount == 0 &&
                   running.empty() && maxConcurrent != 0;
            if (here) {
                running.push_back(operation);
            } else {
                queued[static_cast<int>(operation->queuePriority())].push_back(operation);
                ++queuedCount;
            }
        }
        if (!here) {
            startReady();
            return false;
        }
        // As on a worker, an operation that throws ends the process.
        [&operation]() noexcept {
            ContinueHereScope continuing;
            operation->start();
        }();
        return true;
    }

    void startReady() {
        std::vector<std::shared_ptr<Operation>> starting;
        {
            std::lock_guard lock(mutex);
            while (
                !suspended && queuedCount > 0 &&
                (maxConcurrent < 0 || running.size() < static_cast<std::size_t>(maxConcurrent))) {
                auto highest = queued.begin();
                starting.push_back(std::move(highest->second.front()));
                highest->second.pop_front();
                if (highest->second.empty()) {
                    queued.erase(highest);
                }
                --queuedCount;
                running.push_back(starting.back());
            }
        }
        for (auto& operation : starting) {
            submit([operation] { operation->start(); });
        }
    }

    void finished(const Operation* operation) {
        {
            std::lock_guard lock(mutex);
            std::erase_if(running,
                          [operation](const auto& entry) { return entry.get() == operation; });
        }
        startReady();
        unfinished.leave();
    }

    void cancelAll() {
        // An operation's own cancel may take its locks and stop its work: never under ours.
        std::vector<std::shared_ptr<Operation>> all;
        {
            std::lock_guard lock(mutex);
            for (auto& [priority, operations] : queued) {
                all.insert(all.end(), operations.begin(), operations.end());
            }
            all.insert(all.end(), running.begin(), running.end());
        }
        for (const auto& operation : all) {
            operation->cancel();
        }
    }

    std::size_t count() const {
        std::lock_guard lock(mutex);
        return queuedCount + running.size();
    }

    const std::function<void(Task)> submit;
    RunLoop* const loop;
    DispatchGroup unfinished;
    mutable std::mutex mutex;
    std::map<int, std::deque<std::shared_ptr<Operation>>, std::greater<>> queued;
    std::size_t queuedCount = 0;
    // Started (handed to the executor) and not finished yet.
    std::vector<std::shared_ptr<Operation>> running;
    int maxConcurrent = kUnlimited;
    bool suspended = false;
};

OperationQueue::OperationQueue()
    : core_(std::make_shared<Core>(
          [](Task task) {
              DispatchQueue::global().async([task = std::move(task)] {
                  // The worker is free once the operation ends: short work it hands on
                  // continues here rather than waking another.
                  ContinueHereScope continuing;
                  task();
              });
          },
          nullptr)) {}

OperationQueue::OperationQueue(RunLoop& loop)
    : core_(std::make_shared<Core>([&loop](Task task) { loop.post(std::move(task)); }, &loop)) {}

OperationQueue::~OperationQueue() = default;

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    {
        std::lock_guard lock(core_->mutex);
        core_->maxConcurrent = std::max(count, kUnlimited);
    }
    core_->startReady();
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(core_->mutex);
    return core_->maxConcurrent;
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
    core_->add(std::move(operation));
}

void OperationQueue::addOperation(Task block, QueuePriority priority) {
    auto operation = std::make_shared<BlockOperation>(std::move(block));
    operation->setQueuePriority(priority);
    core_->add(std::move(operation));
}

bool OperationQueue::addOperationHereWhenIdle(Task block) {
    return core_->add(std::make_shared<BlockOperation>(std::move(block)), true);
}

void OperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard lock(core_->mutex);
        core_->suspended = suspended;
    }
    core_->startReady();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(core_->mutex);
    return core_->suspended;
}

void OperationQueue::cancelAllOperations() {
    core_->cancelAll();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    if (core_->loop != nullptr) {
        core_->loop->runUntil([this] { return core_->count() == 0; });
    } else {
        core_->unfinished.wait();
    }
}

std::size_t OperationQueue::operationCount() const {
    return core_->count();
}

}  // namespace platform
