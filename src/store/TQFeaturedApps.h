#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "store/TQStoreDevice.h"

class HCHTTPRequestOperation;
namespace platform::net {
class URLLoader;
}

// One featured application, as the home screen's row shows it.
struct TQFeaturedAppObject {
    std::string productID;
    std::string productName;
    std::string kavoAppId;  // the watch's package name
    std::string hostAppId;
    std::string productIconImgURL;
    bool isInstalledFlag = false;  // stored only; installed-ness is computed afresh

    // From one parsed "appInfo" element (TQXMLParser's form).
    [[nodiscard]] static TQFeaturedAppObject initWithDictionary(const platform::Value& appInfo);
    // The keyed archive kept in the user defaults.
    [[nodiscard]] platform::Bytes encoded() const;
    // Nothing for data that is not such an archive.
    [[nodiscard]] static std::optional<TQFeaturedAppObject> decodedWithObject(
        const platform::Value& data);

    friend bool operator==(const TQFeaturedAppObject&, const TQFeaturedAppObject&) = default;
};

// The home screen's featured applications: fetched page by page from the store back end,
// keeping only those the watch does not have, until at least four are gathered or the server
// has no more; saved in the user defaults with the server's hash of the list and the time of
// the next fetch. One paging pass at a time. Main thread.
class TQFeaturedApps {
public:
    static constexpr const char* kPath = "/product/getRecommendAppList.as";
    static constexpr const char* kUpdatedNotification = "NOTI_FEATURED_APPS_UPDATED";
    static constexpr const char* kStartNumKey = "FEATURED_START_NUM";
    static constexpr const char* kEndNumKey = "FEATURED_END_NUM";
    static constexpr const char* kRefreshTimestampKey = "FEATURED_REFRESH_TIMESTAMP";
    static constexpr const char* kCountKey = "FEATURED_COUNT";
    static constexpr const char* kTotalCountKey = "FEATURED_TOTAL_COUNT";
    static constexpr const char* kAppListKey = "FEATURED_APP_LIST";
    static constexpr const char* kHashValueKey = "FEATURED_HASH_VALUE";
    static constexpr std::int64_t kPageSize = 12;
    static constexpr std::size_t kEnough = 4;

    struct Environment {
        platform::UserDefaults& defaults;
        platform::NotificationCenter& center;
        // The back end's host (and port): "http://" + host + kPath.
        std::string host;
        // Whether the watch has the package (case and diacritics ignored).
        std::function<bool(std::string_view packageName)> isInstalled;
        std::function<TQStoreDevice()> device = TQStoreDevice::current;
        // The process's when null.
        platform::net::URLLoader* loader = nullptr;
    };

    explicit TQFeaturedApps(Environment environment);
    ~TQFeaturedApps();
    TQFeaturedApps(const TQFeaturedApps&) = delete;
    TQFeaturedApps& operator=(const TQFeaturedApps&) = delete;

    // Requests page n. A page-0 request while a pass runs is dropped.
    void getFeaturedListWithCount(std::int64_t n);
    // The saved archives; nothing before the first save.
    [[nodiscard]] std::optional<platform::Array> featuredApps() const;
    // Drops what the watch now has; asks the next page when three or fewer remain.
    void refreshFeaturedAppData();
    [[nodiscard]] bool passRunning() const { return request_ != nullptr; }

    // The request's URL, values as they stand.
    [[nodiscard]] static std::string featuredListURL(std::string_view host,
                                                     const TQStoreDevice& device,
                                                     std::int64_t startNum, std::int64_t endNum);
    // The package names of the entries (applications, then faces) joined by "@".
    [[nodiscard]] static std::string getFeaturedAppList(const std::vector<platform::Value>& apps,
                                                        const std::vector<platform::Value>& clocks);
    // Letters compared without case or the diacritics of Latin letters.
    [[nodiscard]] static bool sameIgnoringCaseAndDiacritics(std::string_view a, std::string_view b);

private:
    void makeRequest(std::string url);
    void onFailure(std::string_view reason);
    void saveFeaturedAppResponseData(const platform::Bytes& body);
    void updateFeaturedAppObjectFromDictionary(const platform::Value& result);
    void save(const platform::Value& result);
    [[nodiscard]] bool isInstalled(const TQFeaturedAppObject& app) const;

    Environment environment_;
    std::int64_t startNum_ = 0;
    std::int64_t endNum_ = 0;
    std::int64_t featuredCount_ = 0;
    std::vector<TQFeaturedAppObject> featuredAppsServerData_;
    std::shared_ptr<HCHTTPRequestOperation> request_;
    // Tells the request's blocks whether this object still exists.
    std::shared_ptr<TQFeaturedApps*> self_;
};
