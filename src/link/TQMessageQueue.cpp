#include "link/TQMessageQueue.h"

#include <utility>

TQMessageQueue& TQMessageQueue::getInstance() {
    return installedInstance("TQMessageQueue");
}

void TQMessageQueue::enqueue(platform::Value object) {
    std::lock_guard lock(mutex_);
    msgQueue_.push_back(std::move(object));
}

std::optional<platform::Value> TQMessageQueue::dequeue() {
    std::lock_guard lock(mutex_);
    if (msgQueue_.empty()) {
        return std::nullopt;
    }
    std::optional<platform::Value> first(std::in_place, std::move(msgQueue_.front()));
    msgQueue_.pop_front();
    return first;
}

bool TQMessageQueue::empty() const {
    std::lock_guard lock(mutex_);
    return msgQueue_.empty();
}
