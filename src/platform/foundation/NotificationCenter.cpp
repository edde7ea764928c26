#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    return installedOr([]() -> NotificationCenter& {
        static NotificationCenter made;
        return made;
    });
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Observer observer,
                                                          const void* owner, const void* sender) {
    std::lock_guard lock(mutex_);
    const Token token = nextToken_++;
    entries_.push_back(
        std::make_shared<Entry>(Entry{token, std::move(name), owner, sender, std::move(observer)}));
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [token](const std::shared_ptr<Entry>& entry) {
        if (entry->token != token) {
            return false;
        }
        entry->alive = false;
        return true;
    });
}

void NotificationCenter::removeAll(const void* owner) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [owner](const std::shared_ptr<Entry>& entry) {
        if (entry->owner != owner) {
            return false;
        }
        entry->alive = false;
        return true;
    });
}

void NotificationCenter::post(Notification notification) {
    // Observers run without the lock so that they may add, remove and post themselves.
    std::vector<std::shared_ptr<Entry>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : entries_) {
            if ((entry->name.empty() || entry->name == notification.name) &&
                (entry->sender == nullptr || entry->sender == notification.sender)) {
                matching.push_back(entry);
            }
        }
    }
    for (const auto& entry : matching) {
        bool alive = false;
        {
            std::lock_guard lock(mutex_);
            alive = entry->alive;
        }
        if (alive) {
            entry->observer(notification);
        }
    }
}

void NotificationCenter::post(std::string name, const void* sender, Value object, Value userInfo) {
    post(Notification{std::move(name), sender, std::move(object), std::move(userInfo)});
}

}  // namespace platform
