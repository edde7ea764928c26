#include "link/TQAPSendQueue.h"

#include <algorithm>
#include <utility>

TQAPSendQueue::TQAPSendQueue(platform::RunLoop& loop, Operation operation)
    : loop_(loop),
      operation_(std::move(operation)),
      self_(std::make_shared<TQAPSendQueue*>(this)) {}

TQAPSendQueue::~TQAPSendQueue() = default;

void TQAPSendQueue::add(TQDataModel model, int queuePriority) {
    std::lock_guard lock(mutex_);
    waiting_.push_back({queuePriority, nextSequence_++, std::move(model)});
    schedulePumpLocked();
}

void TQAPSendQueue::setSuspended(bool suspended) {
    std::lock_guard lock(mutex_);
    suspended_ = suspended;
    schedulePumpLocked();
}

bool TQAPSendQueue::isSuspended() const {
    std::lock_guard lock(mutex_);
    return suspended_;
}

std::size_t TQAPSendQueue::cancelAllOperations() {
    std::lock_guard lock(mutex_);
    const std::size_t cancelled = waiting_.size();
    waiting_.clear();
    return cancelled;
}

std::size_t TQAPSendQueue::operationCount() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

void TQAPSendQueue::schedulePumpLocked() {
    if (suspended_ || waiting_.empty() || pumpScheduled_) {
        return;
    }
    pumpScheduled_ = true;
    loop_.post([weak = std::weak_ptr<TQAPSendQueue*>(self_)] {
        if (const auto self = weak.lock()) {
            (*self)->pump();
        }
    });
}

void TQAPSendQueue::pump() {
    std::unique_lock lock(mutex_);
    pumpScheduled_ = false;
    // The operation normally suspends the queue; one that does not lets the next one start.
    while (!suspended_ && !waiting_.empty()) {
        const auto next =
            std::min_element(waiting_.begin(), waiting_.end(), [](const Entry& a, const Entry& b) {
                return a.priority != b.priority ? a.priority > b.priority : a.sequence < b.sequence;
            });
        TQDataModel model = std::move(next->model);
        waiting_.erase(next);
        lock.unlock();
        operation_(model);
        lock.lock();
    }
}
