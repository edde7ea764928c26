#pragma once

#include <deque>
#include <mutex>
#include <optional>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Value.h"

// The application's first-in first-out list of objects, emptied by the screens when the watch
// disconnects.
class TQMessageQueue : public platform::Replaceable<TQMessageQueue> {
public:
    // The application's list, which its composition root made and installed.
    static TQMessageQueue& getInstance();

    TQMessageQueue() = default;
    TQMessageQueue(const TQMessageQueue&) = delete;
    TQMessageQueue& operator=(const TQMessageQueue&) = delete;

    void enqueue(platform::Value object);
    // The oldest object, removed; nothing when the list is empty.
    std::optional<platform::Value> dequeue();
    [[nodiscard]] bool empty() const;

private:
    mutable std::mutex mutex_;
    std::deque<platform::Value> msgQueue_;
};
