#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Value.h"

namespace platform {

// A broadcast event. sender identifies who posted (observers may filter on it); object and
// userInfo carry data.
struct Notification {
    std::string name;
    const void* sender = nullptr;
    Value object;
    Value userInfo;
};

// Delivers named notifications to observers, synchronously on the posting thread, in the
// order the observers were added. Thread-safe; an observer removed while a post is running
// is not called after its removal returns (unless it is running on another thread).
class NotificationCenter : public Replaceable<NotificationCenter> {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = std::uint64_t;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The application's centre: the installed one, else one made on first use.
    static NotificationCenter& defaultCenter();

    // Observes name (every name when empty), from sender only when sender is not null.
    // owner groups observers for removeAll.
    Token addObserver(std::string name, Observer observer, const void* owner = nullptr,
                      const void* sender = nullptr);
    void removeObserver(Token token);
    void removeAll(const void* owner);

    void post(Notification notification);
    void post(std::string name, const void* sender = nullptr, Value object = {},
              Value userInfo = {});

private:
    struct Entry {
        Token token;
        std::string name;
        const void* owner;
        const void* sender;
        Observer observer;
        bool alive = true;  // guarded by mutex_
    };

    std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    Token nextToken_ = 1;
};

}  // namespace platform
