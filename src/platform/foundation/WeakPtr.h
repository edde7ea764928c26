#pragma once

#include <memory>

#include "platform/foundation/LoopThread.h"
#include "platform/foundation/RunLoop.h"

namespace platform {

template <typename T>
class WeakPtrFactory;

// A non-owning handle on an object that lives on one run loop, for the tasks and timers it
// leaves on that loop: it yields the object while it lives and null once it is gone. Copies
// may be made and carried anywhere; reading one (get, ->, *, bool) belongs on the loop's
// thread, which debug builds check while the object lives.
template <typename T>
class WeakPtr {
public:
    WeakPtr() = default;

    [[nodiscard]] T* get() const {
        const auto anchor = anchor_.lock();
        if (!anchor) {
            return nullptr;
        }
        assertOnLoopThread(*anchor->loop);
        return anchor->object;
    }
    explicit operator bool() const { return get() != nullptr; }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }

private:
    friend class WeakPtrFactory<T>;
    struct Anchor {
        T* object;
        const RunLoop* loop;
    };

    explicit WeakPtr(std::weak_ptr<const Anchor> anchor) : anchor_(std::move(anchor)) {}

    std::weak_ptr<const Anchor> anchor_;
};

// Hands out WeakPtrs to its owner. Make it the owner's last member: it goes first, so no weak
// pointer yields an owner whose other members are being destroyed. The owner lives on `loop`,
// which outlives it.
template <typename T>
class WeakPtrFactory {
public:
    WeakPtrFactory(T& owner, const RunLoop& loop)
        : anchor_(std::make_shared<const typename WeakPtr<T>::Anchor>(
              typename WeakPtr<T>::Anchor{&owner, &loop})) {}
    WeakPtrFactory(const WeakPtrFactory&) = delete;
    WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;

    // Any thread.
    [[nodiscard]] WeakPtr<T> weakPtr() const { return WeakPtr<T>(anchor_); }

private:
    std::shared_ptr<const typename WeakPtr<T>::Anchor> anchor_;
};

}  // namespace platform
