#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/foundation/NotificationCenter.h"
#include "platform/image/Image.h"

// Posted by a host that runs short of memory. Linux hosts have no such signal today; the
// caches still listen, so a host that learns of pressure can free them.
inline constexpr const char* kApplicationDidReceiveMemoryWarningNotification =
    "UIApplicationDidReceiveMemoryWarningNotification";

// Images by key, charged with a cost each, that may be emptied at any time: on a memory
// warning it empties itself. Over its total cost or count limit (0: none) it lets the least
// recently used entries go. Thread-safe.
class AutoPurgeCache {
public:
    explicit AutoPurgeCache(std::string name, platform::NotificationCenter& center =
                                                  platform::NotificationCenter::defaultCenter());
    ~AutoPurgeCache();
    AutoPurgeCache(const AutoPurgeCache&) = delete;
    AutoPurgeCache& operator=(const AutoPurgeCache&) = delete;

    [[nodiscard]] const std::string& name() const { return name_; }

    [[nodiscard]] std::optional<platform::image::Image> objectForKey(std::string_view key);
    void setObject(std::string_view key, platform::image::Image image, std::uint64_t cost);
    void removeObjectForKey(std::string_view key);
    void removeAllObjects();

    void setTotalCostLimit(std::uint64_t limit);
    [[nodiscard]] std::uint64_t totalCostLimit() const;
    void setCountLimit(std::size_t limit);
    [[nodiscard]] std::size_t countLimit() const;
    [[nodiscard]] std::uint64_t totalCost() const;
    [[nodiscard]] std::size_t count() const;

private:
    struct Entry {
        std::string key;
        platform::image::Image image;
        std::uint64_t cost = 0;
    };
    void evictLocked();

    // Looks keys up by view, so a hit allocates no string.
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const {
            return std::hash<std::string_view>{}(key);
        }
    };

    const std::string name_;
    platform::NotificationCenter& center_;
    platform::NotificationCenter::Token warningToken_ = 0;
    mutable std::mutex mutex_;
    // Most recently used first.
    std::list<Entry> entries_;
    std::unordered_map<std::string, std::list<Entry>::iterator, KeyHash, std::equal_to<>> index_;
    std::uint64_t totalCost_ = 0;
    std::uint64_t totalCostLimit_ = 0;
    std::size_t countLimit_ = 0;
};
