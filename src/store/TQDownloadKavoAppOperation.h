#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "store/TQInstalledAppIcon.h"
#include "store/TQPackageDownload.h"

class TQAP;
class TQKavoAppSequence;
namespace platform::net {
class URLLoader;
}

// Carries one watch application from the store to the watch: downloads the package, saves it
// in Documents, asks the watch to install it, sends the file when the watch asks for it and
// waits for the install result, driving the activity bar all along (TQActivityBar). Holds its
// queue slot until the result arrives or it stops; every stop posts "KAVO_APPS_CANCELED" and
// hides the bar. An asynchronous operation of the application manager's download queue, which
// runs it on the main loop: every step runs there, the transfer on the URL loader's thread
// and the icon unpacking on a global queue.
class TQDownloadKavoAppOperation final : public platform::Operation {
public:
    static constexpr const char* kAppsCanceled = "KAVO_APPS_CANCELED";
    // An install that hears nothing more from the watch for this long fails, and so does a
    // transfer paused by a lost link that is not resumed in time: either would hold the one
    // slot of the queue for ever.
    static constexpr double kSilenceTimeout = 300;
    static constexpr double kPauseTimeout = 600;

    enum Phase : std::int32_t { created = 0, downloading = 1, transferring = 2, installing = 3 };

    struct Environment {
        TQAP& kavoManager;
        TQKavoAppSequence& sequence;
        // The process's when null.
        platform::net::URLLoader* loader = nullptr;
        // The anchors the package's server is judged against; empty: the machine's.
        std::vector<platform::Bytes> anchors = {};
        // Deletes the records of an earlier download under a cleaned file name.
        std::function<void(const std::string& appPath)> removeFromDB = nullptr;
    };

    // A URL of the store's must be https; one the user gave may be http.
    TQDownloadKavoAppOperation(Environment environment, std::string urlToDownload,
                               std::string appTitle, std::string appFileName, std::string appID,
                               TQPackageDownload::Source source = TQPackageDownload::Source::store);
    ~TQDownloadKavoAppOperation() override;

    // The stop of every failure and of the cancel button; nothing once finished.
    void stopOperation();

    [[nodiscard]] Phase operationProcess() const { return phase_; }
    [[nodiscard]] const std::string& appnameValue() const { return appName_; }
    [[nodiscard]] const std::optional<std::string>& downloadSize() const { return downloadSize_; }
    [[nodiscard]] const std::optional<std::filesystem::path>& wgtFullPath() const {
        return wgtFullPath_;
    }
    [[nodiscard]] const std::string& installRequestId() const { return installRequestId_; }

    // "/" becomes "_" and spaces go: "My App/1.wgt" is "MyApp_1.wgt".
    [[nodiscard]] static std::string reformatFileName(std::string_view name);
    // The text after "bsize=" up to the next "&", when the URL holds "&bsize=".
    [[nodiscard]] static std::optional<std::string> sizeFromURL(std::string_view url);

private:
    void main() override;
    std::weak_ptr<TQDownloadKavoAppOperation> weakSelf();
    void observe();
    void removeObservers();
    void post(const char* name, platform::Value userInfo = {});

    void onDownloadProgress(std::uint64_t totalBytes, std::int64_t expected);
    void onDownloadFinished(const platform::Result<std::filesystem::path>& saved);
    // Where the package goes, an earlier file of its name removed; nothing for a name that is
    // no package.
    std::optional<std::filesystem::path> packagePath();
    void sendInstallRequest();
    void sendKavoToInstallApplication(const std::string& requestId);
    void onFileEvent(int code, const platform::Value& info);
    void onFileSendProgress(float percent);
    void onInstallRes(std::int32_t code, const std::string& packageName);
    void finishInstall();
    void removeAppFromDoc();
    void kavoDisconnected();
    void failAndStop();
    void cancelOperation();

    void armSilenceTimer();
    void stopTimers();

    void installSuccess();
    void installFail();
    void notify(const std::string& body, bool alertInForeground);

    Environment environment_;
    const std::string urlToDownload_;
    const std::string appTitle_;
    std::string appFileName_;
    const std::string appID_;
    const std::string appName_;
    const TQPackageDownload::Source source_;

    Phase phase_ = created;
    std::optional<std::string> downloadSize_;
    std::optional<std::filesystem::path> wgtFullPath_;
    std::string installRequestId_;
    std::optional<std::string> modelNumber_;
    bool fileTransferInProgress_ = false;
    bool over_ = false;

    std::shared_ptr<TQPackageDownload> download_;
    std::vector<platform::NotificationCenter::Token> observers_;
    std::shared_ptr<platform::Timer> silenceTimer_;
    std::shared_ptr<platform::Timer> pauseTimer_;

    // The steps after the install result wait for the unpacking: it reads the package they
    // delete.
    TQInstalledAppIcon icon_;
    std::optional<std::pair<std::int32_t, std::string>> result_;
};
