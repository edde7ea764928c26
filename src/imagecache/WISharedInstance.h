#pragma once

#include <memory>
#include <mutex>

// The process-wide instance of an image-loading class: the one set (by the composition root
// or a test), else one made on first use. Thread-safe.
template <typename T>
class WISharedInstance {
public:
    template <typename Make>
    static std::shared_ptr<T> get(Make&& make) {
        std::lock_guard lock(mutex_);
        if (!instance_) {
            instance_ = make();
        }
        return instance_;
    }
    static void set(std::shared_ptr<T> instance) {
        std::lock_guard lock(mutex_);
        instance_ = std::move(instance);
    }

private:
    static inline std::mutex mutex_;
    static inline std::shared_ptr<T> instance_;
};
