#include "store/TQDownloadKavoAppOperation.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "link/TQAP.h"
#include "listener/TQCoreManager.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileSystem.h"
#include "platform/host/AppHost.h"
#include "store/TQActivityBar.h"
#include "store/TQAppManager.h"
#include "store/TQInstalledAppIcon.h"
#include "store/TQKavoAppSequence.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

namespace fs = std::filesystem;
using platform::Value;

namespace {

constexpr TQInstalledAppIcon::Lines kIconLines{
    "[Download Kavo App Operation]: iconFilePath : %@",
    "[Download Kavo App Operation]: extractedIconPath is nil",
    "[Download Kavo App Operation]: ERROR: attempting to write create directory %@",
    "[Download Kavo App Operation]: Saving appIcon to file: %@",
    "[Download Kavo App Operation]: Saving appIcon failed",
    "[Download Kavo App Operation]: extract folder removed",
};

std::string displayName(std::string title) {
    std::replace(title.begin(), title.end(), '+', ' ');
    return title;
}

// The localised format with its one "%s" filled in.
std::string filled(std::string_view key, std::string_view name) {
    std::string text = TQLocalization::localizedString(key);
    if (const auto at = text.find("%s"); at != std::string::npos) {
        text.replace(at, 2, name);
    }
    return text;
}

bool inBackground() {
    return platform::AppHost::current().applicationState() ==
           platform::ApplicationState::background;
}

}  // namespace

TQDownloadKavoAppOperation::TQDownloadKavoAppOperation(Environment environment,
                                                       std::string urlToDownload,
                                                       std::string appTitle,
                                                       std::string appFileName, std::string appID,
                                                       TQPackageDownload::Source source)
    : Operation(true),
      environment_(std::move(environment)),
      urlToDownload_(std::move(urlToDownload)),
      appTitle_(std::move(appTitle)),
      appFileName_(std::move(appFileName)),
      appID_(std::move(appID)),
      appName_(displayName(appTitle_)),
      source_(source),
      icon_(kIconLines) {}

TQDownloadKavoAppOperation::~TQDownloadKavoAppOperation() {
    removeObservers();
    stopTimers();
    if (download_) {
        download_->cancel();
    }
}

std::weak_ptr<TQDownloadKavoAppOperation> TQDownloadKavoAppOperation::weakSelf() {
    return std::static_pointer_cast<TQDownloadKavoAppOperation>(shared_from_this());
}

std::string TQDownloadKavoAppOperation::reformatFileName(std::string_view name) {
    std::string cleaned;
    cleaned.reserve(name.size());
    for (const char c : name) {
        if (c == ' ') {
            continue;
        }
        cleaned.push_back(c == '/' ? '_' : c);
    }
    return cleaned;
}

std::optional<std::string> TQDownloadKavoAppOperation::sizeFromURL(std::string_view url) {
    if (url.find("&bsize") == std::string_view::npos) {
        return std::nullopt;
    }
    const auto at = url.find("bsize=");
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const auto value = url.substr(at + 6);
    return std::string(value.substr(0, value.find('&')));
}

void TQDownloadKavoAppOperation::post(const char* name, Value userInfo) {
    platform::NotificationCenter::defaultCenter().post(name, nullptr, {}, std::move(userInfo));
}

void TQDownloadKavoAppOperation::observe() {
    auto& center = platform::NotificationCenter::defaultCenter();
    observers_.push_back(center.addObserver(
        "onDataReceivedNotification", [](const platform::Notification& notification) {
            // The sequence dispatches the answers; here they are only logged.
            const Value& object = notification.object;
            LG_VERBOSE("[Download Kavo App Operation]: dict => %@ (application identifier 1: %@)",
                       object["appId"].description(),
                       object["appId"].intValue().value_or(-1) == 1 ? "YES" : "NO");
        }));
    observers_.push_back(center.addObserver(
        "onDisconnectDeviceNotification",
        [this](const platform::Notification&) { kavoDisconnected(); }));
    observers_.push_back(center.addObserver(
        TQActivityBar::kCancel, [this](const platform::Notification&) { stopOperation(); }));
}

void TQDownloadKavoAppOperation::removeObservers() {
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const auto token : observers_) {
        center.removeObserver(token);
    }
    observers_.clear();
}

void TQDownloadKavoAppOperation::main() {
    LG_VERBOSE("[Download Kavo App Operation]: %s post notification to show activity bar!",
               "start");
    observe();
    post(TQActivityBar::kShow);
    if (urlToDownload_.empty()) {
        LG_ERROR("[Download Kavo App Operation]: no URL to download");
        failAndStop();
        return;
    }
    modelNumber_ = TQAppManager::modelNumber();
    downloadSize_ = sizeFromURL(urlToDownload_);
    if (downloadSize_) {
        LG_VERBOSE("[Download Kavo App Operation]: Size obtained: %@", *downloadSize_);
    }

    const auto path = packagePath();
    if (!path) {
        failAndStop();
        return;
    }
    const auto weak = weakSelf();
    // The download holds the operation until it has said how it ended, a cancelled one too.
    auto held = std::static_pointer_cast<TQDownloadKavoAppOperation>(shared_from_this());
    download_ = TQPackageDownload::start(
        {.url = urlToDownload_,
         .destination = *path,
         .source = source_,
         .anchors = environment_.anchors,
         .loader = environment_.loader},
        [weak](std::uint64_t received, std::int64_t expected) {
            if (auto self = weak.lock()) {
                self->onDownloadProgress(received, expected);
            }
        },
        [held](const platform::Result<fs::path>& saved) {
            held->download_.reset();
            held->onDownloadFinished(saved);
        });
}

void TQDownloadKavoAppOperation::onDownloadProgress(std::uint64_t totalBytes,
                                                    std::int64_t expected) {
    if (over_) {
        return;
    }
    phase_ = downloading;
    // The size the store put in the URL, else the answer's length; without either the bar
    // stays at 0 rather than dividing by nothing.
    double size = 0;
    if (downloadSize_) {
        size = static_cast<double>(platform::stringIntValue(*downloadSize_));
    }
    if (size <= 0 && expected > 0) {
        size = static_cast<double>(expected);
    }
    const float fraction =
        size > 0 ? static_cast<float>(static_cast<double>(totalBytes) / size) : 0.0F;
    const Value info =
        TQActivityBar::progressInfo(TQActivityBar::kDownloading, fraction, appName_);
    LG_VERBOSE("[Download Kavo App Operation]: %s post notification for progress bar with user "
               "info: %@",
               "didReceiveData", info.description());
    post(TQActivityBar::kShowCancelButton);
    post(TQActivityBar::kProgress, info);
}

void TQDownloadKavoAppOperation::onDownloadFinished(const platform::Result<fs::path>& saved) {
    if (over_) {
        // The transfer may have ended just as it was cancelled: nobody installs that package,
        // so it does not stay behind.
        if (saved.ok()) {
            std::error_code removed;
            fs::remove(saved.value(), removed);
        }
        return;
    }
    if (!saved.ok()) {
        LG_VERBOSE("[Download Kavo App Operation]: download failed: %@ (%@)", saved.error().message,
                   saved.error().code);
        failAndStop();
        return;
    }
    wgtFullPath_ = saved.value();
    LG_VERBOSE("[Download Kavo App Operation]: %s, appFileName: %@, wgtFullPath: %@",
               "connectionDidFinishLoading", appFileName_, wgtFullPath_->string());
    LG_VERBOSE("[Download Kavo App Operation]: call start install init...");
    LG_VERBOSE("[Download Kavo App Operation]: WMS status: %d",
               TQCoreManager::isWMSConnected() ? 1 : 0);
    if (!TQCoreManager::isWMSConnected()) {
        failAndStop();
        return;
    }
    sendInstallRequest();
}

std::optional<fs::path> TQDownloadKavoAppOperation::packagePath() {
    const std::string cleaned = reformatFileName(appFileName_);
    // A title from the store becomes a path only as one safe component.
    if (!TQUtils::isSafePathComponent(cleaned)) {
        LG_WARN("[Download Kavo App Operation]: file name %@ is not a file name",
                TQUtils::printableForLog(cleaned));
        return std::nullopt;
    }
    if (!cleaned.ends_with(".wgt")) {
        LG_ERROR("[Download Kavo App Operation]: %@ is no package name: WGT full path is nil!",
                 TQUtils::printableForLog(cleaned));
        return std::nullopt;
    }
    const fs::path path = platform::Container::current().documents() / cleaned;
    std::error_code error;
    if (fs::exists(fs::symlink_status(path, error))) {
        fs::remove(path, error);
        LG_VERBOSE("[Download Kavo App Operation]: %s", "removeFromDB");
        if (environment_.removeFromDB) {
            environment_.removeFromDB(cleaned);
        }
    }
    appFileName_ = cleaned;
    LG_VERBOSE("[Download Kavo App Operation]: .wgt Full File Path: %@", path.string());
    return path;
}

void TQDownloadKavoAppOperation::sendInstallRequest() {
    post(TQActivityBar::kProgress, TQActivityBar::installStartInfo(appName_));
    phase_ = installing;
    installRequestId_ = std::to_string(
        static_cast<std::uint64_t>(TQWallClock::current().millisecondsSince1970()));
    const auto weak = weakSelf();
    armSilenceTimer();
    environment_.sequence.startInstallation(
        installRequestId_, wgtFullPath_->string(),
        [weak](const std::string& requestId) {
            if (auto self = weak.lock(); self && !self->over_) {
                self->phase_ = transferring;
                self->armSilenceTimer();
                self->sendKavoToInstallApplication(requestId);
            }
        },
        [weak](std::int32_t code, const std::string& packageName) {
            if (auto self = weak.lock()) {
                self->onInstallRes(code, packageName);
            }
        });
}

void TQDownloadKavoAppOperation::sendKavoToInstallApplication(const std::string& requestId) {
    LG_VERBOSE("%s, Install Request Id: %@", "sendKavoToInstallApplication", requestId);
    if (requestId != installRequestId_) {
        LG_ERROR("[Download Kavo App Operation]: App path is not equal");
        failAndStop();
        return;
    }
    LG_VERBOSE("[Download Kavo App Operation]: call send file...");
    const auto file = platform::fs::readFile(*wgtFullPath_, TQPackageDownload::kMaxPackageBytes);
    if (!file.ok()) {
        LG_ERROR("[Download Kavo App Operation]: package unreadable: %@", file.error().message);
        failAndStop();
        return;
    }
    // Unpacked into a folder of this operation's own, removed by it alone.
    icon_.unpack(*wgtFullPath_, modelNumber_, installRequestId_);
    const auto weak = weakSelf();
    const std::string& bytes = file.value();
    environment_.kavoManager.sendFile(platform::Bytes(bytes.begin(), bytes.end()), appFileName_,
                                      1, [weak](int code, const Value& info) {
                                          if (auto self = weak.lock()) {
                                              self->onFileEvent(code, info);
                                          }
                                      });
}

void TQDownloadKavoAppOperation::onFileEvent(int code, const Value& info) {
    if (over_) {
        return;
    }
    if (!pauseTimer_) {
        armSilenceTimer();
    }
    switch (code) {
        case 1:
            LG_VERBOSE("[Download Kavo App Operation]: Install App File Accepted");
            break;
        case 2:
            LG_VERBOSE("[Download Kavo App Operation]: Install App File Rejected");
            LG_ERROR("[Download Kavo App Operation]: %s filename: %@", "onFileReject",
                     info["fileName"].stringValue().value_or(""));
            fileTransferInProgress_ = false;
            failAndStop();
            break;
        case 3: {
            const double percent = info["progress"].doubleValue().value_or(0);
            LG_VERBOSE("[Download Kavo App Operation]: Install App File Progress - %lf", percent);
            onFileSendProgress(static_cast<float>(percent));
            break;
        }
        case 5:
            LG_VERBOSE("[Download Kavo App Operation]: Install App File Error");
            fileTransferInProgress_ = false;
            failAndStop();
            break;
        case 6:
            LG_VERBOSE("[Download Kavo App Operation]: Resume Installing App File Accepted");
            if (pauseTimer_) {
                pauseTimer_->invalidate();
                pauseTimer_.reset();
            }
            armSilenceTimer();
            break;
        case 7:
            // Nothing more would come: the transfer cannot go on.
            LG_VERBOSE("[Download Kavo App Operation]: Resume Installing App File Rejected");
            fileTransferInProgress_ = false;
            failAndStop();
            break;
        default:
            break;
    }
}

void TQDownloadKavoAppOperation::onFileSendProgress(float percent) {
    LG_VERBOSE("[Download Kavo App Operation]: Send file progress: %f", percent);
    fileTransferInProgress_ = true;
    if (pauseTimer_) {
        pauseTimer_->invalidate();
        pauseTimer_.reset();
        armSilenceTimer();
    }
    const Value info = TQActivityBar::progressInfo(TQActivityBar::kInstalling, percent / 100.0F,
                                                   appName_);
    LG_VERBOSE("[Download Kavo App Operation]: %s post notification for progress bar with user "
               "info: %@",
               "onFileSendProgress", info.description());
    if (percent < 100) {
        post(TQActivityBar::kShow);
        post(TQActivityBar::kShowCancelButton);
    } else {
        post(TQActivityBar::kHideCancelButton);
    }
    post(TQActivityBar::kProgress, info);
}

void TQDownloadKavoAppOperation::onInstallRes(std::int32_t code, const std::string& packageName) {
    if (over_) {
        return;
    }
    const auto keep = shared_from_this();
    LG_VERBOSE("[Download Kavo App Operation]: %s return code(%zd)", "onInstallRes", code);
    over_ = true;
    stopTimers();
    // A finished operation hears nothing more: a later cancel press belongs to another one.
    removeObservers();
    finish();
    LG_VERBOSE("[Download Kavo App Operation]: %s post notification to hide activity bar!",
               "onInstallRes");
    post(TQActivityBar::kHide);
    if (code != 1) {
        installFail();
        post(kAppsCanceled);
    } else {
        installSuccess();
    }
    result_.emplace(code, packageName);
    // Held until the unpacking ends: the queue lets go of a finished operation.
    icon_.whenUnpacked([self = weakSelf().lock()] { self->finishInstall(); });
}

void TQDownloadKavoAppOperation::finishInstall() {
    if (result_->first == 1) {
        icon_.save(result_->second);
    } else {
        icon_.discard();
    }
    removeAppFromDoc();
}

void TQDownloadKavoAppOperation::removeAppFromDoc() {
    if (!wgtFullPath_) {
        return;
    }
    std::error_code error;
    if (!fs::exists(*wgtFullPath_, error)) {
        LG_VERBOSE("File not exist.");
        return;
    }
    if (fs::remove(*wgtFullPath_, error)) {
        LG_VERBOSE("Successfully removed.");
    } else {
        LG_VERBOSE("Could not delete file -:%@ ", error.message());
    }
}

void TQDownloadKavoAppOperation::kavoDisconnected() {
    if (over_) {
        return;
    }
    LG_VERBOSE("[Download Kavo App Operation] %s", "kavoDisconnected");
    if (phase_ == transferring) {
        LG_VERBOSE("File transfer will resume later...");
        if (fileTransferInProgress_) {
            notify(filled("WDS_WMGR_POP_THE_KAVO_HAS_BEEN_DISCONNECTED_THE_INSTALLATION_OF_PS_HAS_"
                          "BEEN_PAUSED_MSG",
                          appName_),
                   true);
        }
        fileTransferInProgress_ = false;
        LG_VERBOSE("[Download Kavo App Operation]: %s post notification to hide activity bar!",
                   "kavoDisconnected");
        post(TQActivityBar::kHide);
        // The transfer waits for the watch, but not for ever.
        if (silenceTimer_) {
            silenceTimer_->invalidate();
            silenceTimer_.reset();
        }
        if (!pauseTimer_) {
            const auto weak = weakSelf();
            pauseTimer_ = platform::RunLoop::main().scheduleTimer(kPauseTimeout, false, [weak] {
                if (auto self = weak.lock()) {
                    LG_WARN("[Download Kavo App Operation]: transfer paused too long");
                    self->pauseTimer_.reset();
                    self->failAndStop();
                }
            });
        }
        return;
    }
    LG_VERBOSE("Stop download operation...");
    notify(filled("WDS_WMGR_POP_THE_KAVO_HAS_BEEN_DISCONNECTED_THE_DOWNLOAD_OF_PS_HAS_BEEN_"
                  "CANCELLED",
                  appName_),
           true);
    stopOperation();
}

void TQDownloadKavoAppOperation::failAndStop() {
    // A download cancelled by a stop still reports its failure: no notice for that one.
    if (over_) {
        return;
    }
    installFail();
    stopOperation();
}

void TQDownloadKavoAppOperation::stopOperation() {
    if (over_) {
        return;
    }
    const auto keep = shared_from_this();
    LG_WARN("[Download Kavo App Operation]: %s", "stopOperation");
    switch (phase_) {
        case downloading:
            LG_VERBOSE("[Download Kavo App Operation] cancel downloading progress...");
            break;
        case transferring:
            LG_VERBOSE("[Download Kavo App Operation] cancel file transfer progress...");
            environment_.kavoManager.cancelFile();
            break;
        case installing:
            LG_VERBOSE("[Download Kavo App Operation] opearation process in init install...");
            break;
        case created:
            break;
    }
    if (download_) {
        // Its answer comes back once, and finds the operation over.
        download_->cancel();
    }
    // A late answer must not reach this operation, nor hide a newer one's bar.
    if (!installRequestId_.empty()) {
        environment_.sequence.cancelInstallation(installRequestId_);
    }
    environment_.kavoManager.setFileTransferDelegate(nullptr);
    LG_VERBOSE("[Download Kavo App Operation] post notification for KAVO_APPS_CANCELED...");
    post(kAppsCanceled);
    cancelOperation();
}

void TQDownloadKavoAppOperation::cancelOperation() {
    LG_VERBOSE("%s", "cancelOperation");
    LG_VERBOSE("[Download Kavo App Operation]: %s post notification to hide activity bar!",
               "cancelOperation");
    over_ = true;
    stopTimers();
    // Only the unpacked folder goes; the package stays.
    icon_.discard();
    post(TQActivityBar::kHide);
    removeObservers();
    cancel();
    finish();
}

void TQDownloadKavoAppOperation::armSilenceTimer() {
    if (silenceTimer_) {
        silenceTimer_->invalidate();
    }
    const auto weak = weakSelf();
    silenceTimer_ = platform::RunLoop::main().scheduleTimer(kSilenceTimeout, false, [weak] {
        if (auto self = weak.lock()) {
            LG_WARN("[Download Kavo App Operation]: no install result from the watch");
            self->silenceTimer_.reset();
            self->failAndStop();
        }
    });
}

void TQDownloadKavoAppOperation::stopTimers() {
    for (auto* timer : {&silenceTimer_, &pauseTimer_}) {
        if (*timer) {
            (*timer)->invalidate();
            timer->reset();
        }
    }
}

void TQDownloadKavoAppOperation::installSuccess() {
    LG_VERBOSE("[Download Kavo App Operation] %s", "installSuccess");
    if (inBackground()) {
        notify(TQLocalization::localizedString("WDS_WMGR_SBODY_INSTALLED"), false);
    }
}

void TQDownloadKavoAppOperation::installFail() {
    LG_VERBOSE("[Download Kavo App Operation] %s", "installFail");
    notify(TQLocalization::localizedString("WDS_WMGR_SBODY_FAILED_TO_INSTALL_APP_ABB"), true);
}

void TQDownloadKavoAppOperation::notify(const std::string& body, bool alertInForeground) {
    auto& host = platform::AppHost::current();
    if (inBackground()) {
        platform::LocalNotification notification;
        notification.title = appName_;
        notification.body = body;
        host.scheduleLocalNotification(notification);
    } else if (alertInForeground) {
        platform::Alert alert;
        alert.title = appName_;
        alert.message = body;
        alert.buttons = {TQLocalization::localizedString("ok")};
        host.showAlert(std::move(alert));
    }
}
