#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "store/TQInstalledAppIcon.h"
#include "store/TQKavoAppUpdateRequests.h"
#include "store/TQPackageDownload.h"
#include "store/TQStoreDevice.h"

class TQAP;
class TQKavoAppSequence;
class HCHTTPRequestOperation;
namespace platform::net {
class URLLoader;
}

// Keeps the watch's applications up to date without the user: asks the store back end which
// installed applications have a newer version, asks for their download addresses (over HTTPS,
// the server's certificate verified), then downloads and installs them one after the other
// through the same exchange with the watch as a store download, and ends with a notice of
// what was updated and what failed. One run at a time; it ends by itself at the end of the
// queue, on a failure, on lost network (or Wi-Fi, when the user asked for Wi-Fi only) and
// when the watch disconnects. Main thread.
class TQKavoAppAutoUpdate {
public:
    static constexpr const char* kPrefKey = "AUTO_UPDATE_DOWNLOAD_PREF";
    static constexpr const char* kDisconnectNotification = "onDisconnectDeviceNotification";
    static constexpr const char* kFailTitle = "Failed to install app";
    static constexpr std::int64_t kPrefOff = 0;
    static constexpr std::int64_t kPrefWiFiOnly = 1;
    // An install that hears nothing from the watch for this long has failed: the watch takes
    // one install at a time, and a store download waits for this one.
    static constexpr double kInstallSilenceTimeout = 300;
    enum Status { notReachable = 0, wifi = 1, cellular = 2 };

    struct Environment {
        TQAP& kavoManager;
        TQKavoAppSequence& sequence;
        platform::NotificationCenter& center;
        platform::UserDefaults& defaults;
        // "http://" + host for the update check, "https://" + secureHost for the addresses.
        std::string host;
        std::string secureHost;
        // The anchors the download-address server is judged against; empty: the machine's.
        std::vector<platform::Bytes> anchors;
        // The internet's reachability now (Reachability's status).
        std::function<Status()> networkStatus;
        // Whether a store download holds the one install exchange with the watch.
        std::function<bool()> storeInstallRunning = [] { return false; };
        std::function<TQStoreDevice()> device = TQStoreDevice::current;
        // The process's when null.
        platform::net::URLLoader* loader = nullptr;
    };

    explicit TQKavoAppAutoUpdate(Environment environment);
    ~TQKavoAppAutoUpdate();
    TQKavoAppAutoUpdate(const TQKavoAppAutoUpdate&) = delete;
    TQKavoAppAutoUpdate& operator=(const TQKavoAppAutoUpdate&) = delete;

    // Starts a run when the preference, the network and the store allow.
    void checkUpdate();
    // Ends the run, withdrawing its pending install; late answers of it change nothing.
    void stopAutoUpdate();

    [[nodiscard]] bool isUpdateInProgress() const { return isUpdateInProgress_; }
    // Between the end of a download and the install result.
    [[nodiscard]] bool isInstalling() const { return installing_; }
    [[nodiscard]] const std::vector<TQUpdateEntry>& updateAvailableList() const {
        return updateAvailableList_;
    }

    // Documents/<file name>, an earlier file of that name removed.
    [[nodiscard]] static std::filesystem::path createAppDownloadFilePath(const std::string& name);
    static void removeDownloadedApp(const std::string& name);

private:
    using Request = std::shared_ptr<HCHTTPRequestOperation>;
    // Calls the member only while the run that asked is the current one.
    std::function<void()> forRun(std::function<void(TQKavoAppAutoUpdate&)> step);

    void initAutoUpdate();
    void onCheckAnswer(const platform::Dictionary& preloadMap, const platform::Dictionary& answer);
    void getDownloadURL(const std::string& url, const platform::Dictionary& parameters);
    void onDownloadURLAnswer(const platform::Dictionary& answer);
    void continueDownloadingUpdates();
    void skipCurrent(const char* why);
    void downloadApp(const std::string& fileName, const std::string& url);
    void onDownloaded(const platform::Result<std::filesystem::path>& saved,
                      const std::string& fileName);
    void sendKavoToInstallApplication(const std::string& requestId);
    void onFileEvent(int code, const platform::Value& info);
    void armInstallTimer();
    void onInstallSilence();
    void onInstallRes(std::int32_t code, const std::string& packageName);
    void onDisconnectDevice();
    void showUpdateNotifications();
    void showUpdateSuccessNotifications();
    void showUpdateFailNotifications();
    void registerNotification();
    void unregisterNotification();
    // The XML answer's root as a dictionary; nothing with the reason logged.
    static std::optional<platform::Dictionary> parseAnswer(const platform::Bytes& body);
    Request send(const std::string& url, const platform::Dictionary& parameters,
                 std::function<void(TQKavoAppAutoUpdate&, const platform::Dictionary&)> onAnswer);

    Environment environment_;
    bool isUpdateInProgress_ = false;
    bool installing_ = false;
    // Tags every answer and block with the run that asked for it.
    std::uint64_t run_ = 0;
    std::vector<TQUpdateEntry> updateAvailableList_;
    std::vector<TQUpdateEntry> updateSuccessList_;
    std::vector<TQUpdateEntry> updateAvailableQueue_;
    std::optional<TQUpdateEntry> updatingAppInfo_;
    std::string installRequestId_;
    std::string appFileName_;
    std::optional<std::filesystem::path> wgtFullPath_;
    // The icon of the entry being installed.
    std::unique_ptr<TQInstalledAppIcon> icon_;
    Request request_;
    std::shared_ptr<TQPackageDownload> download_;
    std::shared_ptr<platform::Timer> installTimer_;
    // Between the file's start and its end, refusal or failure.
    bool fileSending_ = false;
    std::optional<platform::NotificationCenter::Token> disconnectDeviceObserver_;
    std::shared_ptr<TQKavoAppAutoUpdate*> self_;
};
