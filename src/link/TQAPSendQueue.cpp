#include "link/TQAPSendQueue.h"

#include <algorithm>
#include <utility>

#include "platform/foundation/LoopThread.h"

namespace {

template <typename Entry>
bool runsBefore(const Entry& a, const Entry& b) {
    return a.priority != b.priority ? a.priority > b.priority : a.sequence < b.sequence;
}

}  // namespace

TQAPSendQueue::TQAPSendQueue(platform::RunLoop& loop, Operation operation)
    : loop_(loop), operation_(std::move(operation)) {}

TQAPSendQueue::~TQAPSendQueue() = default;

void TQAPSendQueue::add(TQDataModel model, int queuePriority, TQSendCompletion completion) {
    platform::assertOnLoopThread(loop_);
    waiting_.push_back({queuePriority, nextSequence_++, std::move(model), std::move(completion)});
    schedulePump();
}

void TQAPSendQueue::setSuspended(bool suspended) {
    platform::assertOnLoopThread(loop_);
    suspended_ = suspended;
    schedulePump();
}

bool TQAPSendQueue::isSuspended() const {
    platform::assertOnLoopThread(loop_);
    return suspended_;
}

std::vector<TQSendCompletion> TQAPSendQueue::cancelAllOperations() {
    platform::assertOnLoopThread(loop_);
    std::sort(waiting_.begin(), waiting_.end(), runsBefore<Entry>);
    std::vector<TQSendCompletion> cancelled;
    cancelled.reserve(waiting_.size());
    for (Entry& entry : waiting_) {
        cancelled.push_back(std::move(entry.completion));
    }
    waiting_.clear();
    return cancelled;
}

std::size_t TQAPSendQueue::operationCount() const {
    platform::assertOnLoopThread(loop_);
    return waiting_.size();
}

void TQAPSendQueue::schedulePump() {
    if (suspended_ || waiting_.empty() || pumpScheduled_) {
        return;
    }
    pumpScheduled_ = true;
    loop_.post([weak = weak_.weakPtr()] {
        if (weak) {
            weak->pump();
        }
    });
}

void TQAPSendQueue::pump() {
    pumpScheduled_ = false;
    // The operation normally suspends the queue; one that does not lets the next one start.
    while (!suspended_ && !waiting_.empty()) {
        const auto entry = std::min_element(waiting_.begin(), waiting_.end(), runsBefore<Entry>);
        TQDataModel model = std::move(entry->model);
        TQSendCompletion completion = std::move(entry->completion);
        waiting_.erase(entry);
        operation_(std::move(model), std::move(completion));
    }
}
