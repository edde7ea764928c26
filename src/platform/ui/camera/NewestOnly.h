#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/foundation/RunLoop.h"

namespace platform::camera {

// Hands the newest of a stream of values from another thread to a loop: a value put while an
// earlier one still waits replaces it, and the loop is woken once per value it takes. So a
// producer faster than the loop (a camera's frames) never piles work on it.
template <typename T>
class NewestOnly {
public:
    // `take` runs on the loop, which outlives this.
    NewestOnly(RunLoop& loop, std::function<void(T)> take)
        : state_(std::make_shared<State>(loop, std::move(take))) {}
    // Loop thread. Values put later are dropped; one that waits is never taken.
    ~NewestOnly() {
        const std::lock_guard lock(state_->mutex);
        state_->open = false;
        state_->waiting.reset();
    }
    NewestOnly(const NewestOnly&) = delete;
    NewestOnly& operator=(const NewestOnly&) = delete;

    // What puts a value, from any thread; harmless once this is gone.
    [[nodiscard]] std::function<void(T)> putter() const {
        return [state = state_](T value) { put(state, std::move(value)); };
    }
    // Drops the value that waits, if any.
    void clear() {
        const std::lock_guard lock(state_->mutex);
        state_->waiting.reset();
    }

private:
    struct State {
        State(RunLoop& loop, std::function<void(T)> take) : loop(loop), take(std::move(take)) {}
        RunLoop& loop;
        // Read on the loop only.
        const std::function<void(T)> take;
        std::mutex mutex;
        std::optional<T> waiting;
        bool posted = false;
        bool open = true;
    };

    static void put(const std::shared_ptr<State>& state, T value) {
        const std::lock_guard lock(state->mutex);
        if (!state->open) {
            return;
        }
        state->waiting = std::move(value);
        if (!state->posted) {
            state->posted = true;
            state->loop.post([state] { takeWaiting(*state); });
        }
    }

    static void takeWaiting(State& state) {
        std::optional<T> value;
        {
            const std::lock_guard lock(state.mutex);
            state.posted = false;
            value.swap(state.waiting);
            // Closed on this same thread, so an open state's owner lives while take runs.
            if (!state.open) {
                return;
            }
        }
        if (value) {
            state.take(std::move(*value));
        }
    }

    std::shared_ptr<State> state_;
};

}  // namespace platform::camera
