#include "imagecache/WIMemoryCache.h"

AutoPurgeCache::AutoPurgeCache(std::string name, platform::NotificationCenter& center)
    : name_(std::move(name)), center_(center) {
    warningToken_ =
        center_.addObserver(kApplicationDidReceiveMemoryWarningNotification,
                            [this](const platform::Notification&) { removeAllObjects(); });
}

AutoPurgeCache::~AutoPurgeCache() {
    center_.removeObserver(warningToken_);
}

std::optional<platform::image::Image> AutoPurgeCache::objectForKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    const auto found = index_.find(key);
    if (found == index_.end()) {
        return std::nullopt;
    }
    entries_.splice(entries_.begin(), entries_, found->second);
    return found->second->image;
}

void AutoPurgeCache::setObject(std::string_view key, platform::image::Image image,
                               std::uint64_t cost) {
    std::lock_guard lock(mutex_);
    std::string name(key);
    if (const auto found = index_.find(name); found != index_.end()) {
        totalCost_ -= found->second->cost;
        entries_.erase(found->second);
        index_.erase(found);
    }
    entries_.push_front(Entry{name, std::move(image), cost});
    index_.emplace(std::move(name), entries_.begin());
    totalCost_ += cost;
    evictLocked();
}

void AutoPurgeCache::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (const auto found = index_.find(key); found != index_.end()) {
        totalCost_ -= found->second->cost;
        entries_.erase(found->second);
        index_.erase(found);
    }
}

void AutoPurgeCache::removeAllObjects() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    index_.clear();
    totalCost_ = 0;
}

void AutoPurgeCache::setTotalCostLimit(std::uint64_t limit) {
    std::lock_guard lock(mutex_);
    totalCostLimit_ = limit;
    evictLocked();
}

std::uint64_t AutoPurgeCache::totalCostLimit() const {
    std::lock_guard lock(mutex_);
    return totalCostLimit_;
}

void AutoPurgeCache::setCountLimit(std::size_t limit) {
    std::lock_guard lock(mutex_);
    countLimit_ = limit;
    evictLocked();
}

std::size_t AutoPurgeCache::countLimit() const {
    std::lock_guard lock(mutex_);
    return countLimit_;
}

std::uint64_t AutoPurgeCache::totalCost() const {
    std::lock_guard lock(mutex_);
    return totalCost_;
}

std::size_t AutoPurgeCache::count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void AutoPurgeCache::evictLocked() {
    while (!entries_.empty() && ((totalCostLimit_ > 0 && totalCost_ > totalCostLimit_) ||
                                 (countLimit_ > 0 && entries_.size() > countLimit_))) {
        const Entry& oldest = entries_.back();
        totalCost_ -= oldest.cost;
        index_.erase(oldest.key);
        entries_.pop_back();
    }
}
