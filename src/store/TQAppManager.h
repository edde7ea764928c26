#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listener/handlers/TQStoreHandler.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Value.h"
#include "store/TQPackageDownload.h"

class TQDownloadKavoAppOperation;

// One entry of the watch's application or watch-face list, as the screens show it.
struct TQUninstallObject {
    std::string name;
    std::string packageName;
    std::string classname;
    bool isRemovable = false;
    // Read from "isShown" with a lower-case i: the entries this system writes carry "IsShown",
    // so theirs reads false.
    bool isShown = false;
    bool isPreload = false;

    friend bool operator==(const TQUninstallObject&, const TQUninstallObject&) = default;
};

// What the phone knows of the applications and watch faces on the connected watch: the
// per-watch "wapplist.xml" and "clocklist.xml" (read afresh on every call, since the
// handshake replaces them), the installations and uninstallations recorded between two list
// exchanges, the defaults a new watch starts with, and the download queue on which the
// store's download-and-install operations run one at a time. Main thread only.
class TQAppManager final : public TQStoreHandler {
public:
    static constexpr const char* kAppListFile = "wapplist.xml";
    static constexpr const char* kClockListFile = "clocklist.xml";
    static constexpr const char* kAppsInstalled = "KAVO_APPS_INSTALLED";
    static constexpr const char* kUninstallAppCompleted = "uninstall_app_completed";
    static constexpr const char* kUninstallClockCompleted = "uninstall_clock_completed";
    static constexpr const char* kQueueName = "Download Kavo App Queue";
    static constexpr const char* kAppIconsFolder = "AppIcons";

    // Makes an operation for performDownload; the composition root gives one that knows the
    // link. Arguments: URL (may be empty), title, file name, store identifier, who named the URL.
    using OperationFactory = std::function<std::shared_ptr<TQDownloadKavoAppOperation>(
        std::string url, std::string title, std::string fileName, std::string appID,
        TQPackageDownload::Source source)>;

    TQAppManager();
    ~TQAppManager() override;
    TQAppManager(const TQAppManager&) = delete;
    TQAppManager& operator=(const TQAppManager&) = delete;

    // The current watch's model number ("groupKavoInfo", "kavoModelNumber").
    [[nodiscard]] static std::optional<std::string> modelNumber();

    // Entries of the lists, one dictionary per "item" (child name to {"text": value}); a
    // list of one item is a list of one entry.
    [[nodiscard]] std::vector<platform::Value> appItems() const;
    [[nodiscard]] std::vector<platform::Value> clockItems() const;
    [[nodiscard]] static std::vector<TQUninstallObject> uninstallObjects(
        const std::vector<platform::Value>& items);
    // With filter: only applications the user may remove.
    [[nodiscard]] std::vector<TQUninstallObject> filteredAppItemsUsingPredicate(bool filter) const;
    // With filter: only watch faces that did not come with the watch.
    [[nodiscard]] std::vector<TQUninstallObject> filteredClockItemsWithUsingPredicate(
        bool filter) const;

    // Records the watch's install reply ("appname", "packagename", "version", "classname").
    void installAppWithDict(const platform::Value& record);
    void installClockWithDict(const platform::Value& record);

    // TQStoreHandler
    void uninstallAppWithPackageName(std::string_view packageName) override;
    void uninstallClockWithPackageName(std::string_view packageName) override;
    void defaultBlockAppList() override;
    void defaultWeatherSettings() override;
    void checkUpdate() override;

    void defaultNotifications();

    // The queue that runs one download-and-install operation at a time.
    platform::OperationQueue& getSharedQueue();
    void setOperationFactory(OperationFactory factory) { factory_ = std::move(factory); }
    // Runs after every installation recorded in a list (the featured row drops the app).
    void setOnInstallRecorded(std::function<void()> block) { onInstallRecorded_ = std::move(block); }
    // What checkUpdate starts (the automatic updater); nothing but a log line when unset.
    void setUpdater(std::function<void()> updater) { updater_ = std::move(updater); }
    // Whether another install exchange holds the watch; performDownload then drops requests.
    void setInstallBusy(std::function<bool()> busy) { installBusy_ = std::move(busy); }
    // Whether either list holds the package, letter case and diacritics ignored.
    [[nodiscard]] bool hasPackage(std::string_view packageName) const;
    // Queues one download-and-install operation, unless one is queued or running already. A
    // URL of the store's must be https; one the user gave (Source::user) may be http.
    void performDownload(std::string url, std::string appTitle, std::string appPath,
                         std::string appID,
                         TQPackageDownload::Source source = TQPackageDownload::Source::store);
    // Stops the operation on the queue, if one runs, through its own stop.
    void stopRunningOperation();

private:
    enum class List { apps, clocks };
    [[nodiscard]] std::vector<platform::Value> items(List list) const;
    void install(List list, const platform::Value& record);
    void uninstall(List list, std::string_view packageName);
    static void save(List list, const std::vector<platform::Value>& items);

    std::unique_ptr<platform::OperationQueue> queue_;
    OperationFactory factory_;
    std::function<void()> onInstallRecorded_;
    std::function<void()> updater_;
    std::function<bool()> installBusy_;
    // The operation on the queue, so that a reset stops it through its own stop.
    std::weak_ptr<TQDownloadKavoAppOperation> current_;
};
