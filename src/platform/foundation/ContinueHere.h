#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "platform/foundation/Dispatch.h"

namespace platform {

// Open on a thread while it does work that will soon leave it free: short work that this work
// hands to a global queue through async() runs on this thread when the scope ends, in the order
// handed and as that queue's task (isCurrent holds), instead of waking another thread for it.
// Scopes nest; each takes what was handed while it was the innermost, and what its tasks hand
// on goes to the scope around it, or is queued.
class ContinueHereScope {
public:
    ContinueHereScope();
    // A kept task that throws terminates the process, as it would on the queue.
    ~ContinueHereScope();
    ContinueHereScope(const ContinueHereScope&) = delete;
    ContinueHereScope& operator=(const ContinueHereScope&) = delete;

    // Keeps the task when a scope is open on the calling thread and the queue is a global one;
    // otherwise the same as queue.async(task). A serial queue never runs a task outside its turn.
    static void async(DispatchQueue& queue, std::function<void()> task);

private:
    ContinueHereScope* outer_;
    std::vector<std::pair<DispatchQueue*, std::function<void()>>> kept_;
};

}  // namespace platform
