#include "store/TQKavoAppAutoUpdate.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "http/HCHTTPRequestOperation.h"
#include "http/HCURLRequestSerialization.h"
#include "link/TQAP.h"
#include "listener/TQCoreManager.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/host/AppHost.h"
#include "store/TQAppManager.h"
#include "store/TQKavoAppSequence.h"
#include "utils/TQUtils.h"
#include "utils/XMLDictParser.h"

namespace fs = std::filesystem;
using platform::Value;

namespace {

constexpr TQInstalledAppIcon::Lines kIconLines{
    "TQKavoAppAutoUpdate: iconFilePath : %@",
    "TQKavoAppAutoUpdate: saveInstalledAppIcon: extractedIconPath is nil",
    "TQKavoAppAutoUpdate: saveInstalledAppIcon: Error attempting to write create directory %@",
    "TQKavoAppAutoUpdate: saveInstalledAppIcon: Saving appIcon to file: %@",
    "TQKavoAppAutoUpdate: saveInstalledAppIcon: Saving appIcon failed",
    "TQKavoAppAutoUpdate: saveInstalledAppIcon: extract folder removed",
};

std::string joinedNames(const std::vector<TQUpdateEntry>& entries) {
    std::string names;
    for (const TQUpdateEntry& entry : entries) {
        names += (names.empty() ? "" : ", ") + entry.productName.value_or("");
    }
    return names;
}

void notify(std::string title, std::string body) {
    platform::LocalNotification notification;
    notification.title = std::move(title);
    notification.body = std::move(body);
    platform::AppHost::current().scheduleLocalNotification(notification);
}

}  // namespace

TQKavoAppAutoUpdate::TQKavoAppAutoUpdate(Environment environment)
    : environment_(std::move(environment)),
      self_(std::make_shared<TQKavoAppAutoUpdate*>(this)) {}

TQKavoAppAutoUpdate::~TQKavoAppAutoUpdate() {
    stopAutoUpdate();
    *self_ = nullptr;
}

std::function<void()> TQKavoAppAutoUpdate::forRun(
    std::function<void(TQKavoAppAutoUpdate&)> step) {
    return [weak = std::weak_ptr<TQKavoAppAutoUpdate*>(self_), run = run_,
            step = std::move(step)] {
        const auto self = weak.lock();
        if (self && *self != nullptr && (*self)->isUpdateInProgress_ && (*self)->run_ == run) {
            step(**self);
        }
    };
}

void TQKavoAppAutoUpdate::checkUpdate() {
    if (isUpdateInProgress_) {
        LG_VERBOSE("%s : Auto update already in progress...", "checkUpdate");
        return;
    }
    const std::int64_t pref = environment_.defaults.integer(kPrefKey).value_or(kPrefOff);
    if (pref == kPrefOff) {
        LG_VERBOSE("%s : No need to check since download pref is turned off.", "checkUpdate");
        return;
    }
    const Status status = environment_.networkStatus();
    if (status == notReachable) {
        LG_VERBOSE("%s : No need to check since no net connection.", "checkUpdate");
        return;
    }
    if (pref == kPrefWiFiOnly && status != wifi) {
        LG_VERBOSE("%s : No need to check since network is not reachable via WiFi and user "
                   "prefers via WIFI only download",
                   "checkUpdate");
        return;
    }
    // The watch takes one install exchange at a time; the store's goes first.
    if (environment_.storeInstallRunning()) {
        LG_VERBOSE("%s : No need to check while a store download installs", "checkUpdate");
        return;
    }
    initAutoUpdate();
    isUpdateInProgress_ = true;
    ++run_;

    const auto model = TQAppManager::modelNumber();
    const auto xml = model ? TQUtils::retrieveXml(*model, TQAppManager::kAppListFile) : std::nullopt;
    const platform::Array installed = TQKavoAppUpdateRequests::installedList(xml.value_or(""));
    LG_VERBOSE("%s : Installed App List in Kavo: \n%@", "checkUpdate", Value(installed).description());
    const TQStoreDevice device = environment_.device();
    const platform::Dictionary preloadMap = TQKavoAppUpdateRequests::buildApplistDictOnType(installed);
    request_ = send("http://" + environment_.host + TQKavoAppUpdateRequests::kUpdateCheckPath,
                    TQKavoAppUpdateRequests::buildCheckUpdateParameter(installed, device),
                    [preloadMap](TQKavoAppAutoUpdate& self, const platform::Dictionary& answer) {
                        self.onCheckAnswer(preloadMap, answer);
                    });
}

void TQKavoAppAutoUpdate::initAutoUpdate() {
    LG_VERBOSE("%s : Init auto update", "initAutoUpdate");
    updateAvailableList_.clear();
    updateSuccessList_.clear();
    updateAvailableQueue_.clear();
    updatingAppInfo_.reset();
}

std::optional<platform::Dictionary> TQKavoAppAutoUpdate::parseAnswer(const platform::Bytes& body) {
    const auto parsed = xmldict::dictionaryWithXMLData(body);
    if (!parsed.ok() || !parsed.dictionary) {
        LG_VERBOSE("%s : Error: %@", "parseAnswer", std::string("the answer is no XML document"));
        return std::nullopt;
    }
    return parsed.dictionary;
}

TQKavoAppAutoUpdate::Request TQKavoAppAutoUpdate::send(
    const std::string& url, const platform::Dictionary& parameters,
    std::function<void(TQKavoAppAutoUpdate&, const platform::Dictionary&)> onAnswer) {
    std::optional<HCError> error;
    auto request = HCHTTPRequestSerializer::serializer()->requestWithMethod("GET", url,
                                                                            Value(parameters), &error);
    if (!request) {
        LG_VERBOSE("%s : Error: %@", "send", error ? error->localizedDescription : url);
        stopAutoUpdate();
        return nullptr;
    }
    auto operation = HCHTTPRequestOperation::make(std::move(*request), environment_.loader);
    operation->setResponseSerializer(HCXMLParserResponseSerializer::serializer());
    // The server's chain is judged against these anchors by the default policy: an
    // unverified server gets no say in what is installed on the watch.
    operation->setAnchorCertificates(environment_.anchors);
    auto body = std::make_shared<platform::Bytes>();
    auto answered = forRun([body, onAnswer = std::move(onAnswer)](TQKavoAppAutoUpdate& self) {
        self.request_.reset();
        const auto answer = parseAnswer(*body);
        if (!answer) {
            self.stopAutoUpdate();
            return;
        }
        LG_VERBOSE("%s : Check update response: \n%@", "send", Value(*answer).description());
        if (!TQKavoAppUpdateRequests::validateResponseResultCode(*answer)) {
            const Value* code = answer->find("resultCode");
            const Value* message = answer->find("resultMsg");
            LG_VERBOSE("%s : Result code validation failed - resultCode: %@ - resultMsg: %@",
                       "validateResponseResultCode", code ? code->description() : "",
                       message ? message->description() : "");
            self.stopAutoUpdate();
            return;
        }
        onAnswer(self, *answer);
    });
    auto failed = std::make_shared<std::string>();
    auto failure = forRun([failed](TQKavoAppAutoUpdate& self) {
        self.request_.reset();
        LG_VERBOSE("%s : Error: %@", "send", *failed);
        self.stopAutoUpdate();
    });
    operation->setCompletionBlockWithSuccess(
        [body, answered](const std::shared_ptr<HCHTTPRequestOperation>& done, const Value&) {
            *body = done->responseData().value_or(platform::Bytes{});
            answered();
        },
        [failed, failure](const std::shared_ptr<HCHTTPRequestOperation>&, const HCError& error) {
            *failed = error.localizedDescription;
            failure();
        });
    operation->start();
    return operation;
}

void TQKavoAppAutoUpdate::onCheckAnswer(const platform::Dictionary& preloadMap,
                                        const platform::Dictionary& answer) {
    const platform::Dictionary params = TQKavoAppUpdateRequests::buildDownloadAppParameter(
        TQKavoAppUpdateRequests::appInfoList(answer), preloadMap, environment_.device());
    if (params.find("appInfo")->stringValue() == "" &&
        params.find("preloadAppInfo")->stringValue() == "") {
        LG_VERBOSE("%s : No update available... stop auto update...", "onCheckAnswer");
        stopAutoUpdate();
        return;
    }
    LG_VERBOSE("%s: Getting download URLs via WiFi...", "onCheckAnswer");
    getDownloadURL("https://" + environment_.secureHost + TQKavoAppUpdateRequests::kDownloadPath,
                   params);
}

void TQKavoAppAutoUpdate::getDownloadURL(const std::string& url,
                                         const platform::Dictionary& parameters) {
    request_ = send(url, parameters, [](TQKavoAppAutoUpdate& self, const platform::Dictionary& answer) {
        self.onDownloadURLAnswer(answer);
    });
}

void TQKavoAppAutoUpdate::onDownloadURLAnswer(const platform::Dictionary& answer) {
    LG_VERBOSE("TQKavoAppAutoUpdate getDownloadURL: setCompletionBlockWithSuccess");
    for (TQUpdateEntry& entry : TQKavoAppUpdateRequests::updateEntries(answer)) {
        LG_VERBOSE("TQKavoAppAutoUpdate getDownloadURL: Download URI available for app: \n%@",
                   entry.appId.value_or(""));
        updateAvailableList_.push_back(std::move(entry));
    }
    if (updateAvailableList_.empty()) {
        LG_VERBOSE("%s : No update available... stop auto update...", "getDownloadURL");
        stopAutoUpdate();
        return;
    }
    updateAvailableQueue_ = updateAvailableList_;
    continueDownloadingUpdates();
}

void TQKavoAppAutoUpdate::continueDownloadingUpdates() {
    for (;;) {
        if (updateAvailableQueue_.empty()) {
            LG_VERBOSE("%s : No apps in queue for download", "continueDownloadingUpdates");
            LG_VERBOSE("%s : Auto update finished", "continueDownloadingUpdates");
            showUpdateNotifications();
            stopAutoUpdate();
            return;
        }
        const Status status = environment_.networkStatus();
        LG_VERBOSE("%s : Checking reachability before starting download... Network status: %@",
                   "continueDownloadingUpdates",
                   std::string(status == notReachable ? "NotReachable"
                               : status == wifi       ? "ReachableViaWiFi"
                                                      : "ReachableViaWWAN"));
        // The user's Wi-Fi-only choice holds for every download, not only the first.
        const bool wifiOnly =
            environment_.defaults.integer(kPrefKey).value_or(kPrefOff) == kPrefWiFiOnly;
        if (status == notReachable || (wifiOnly && status != wifi)) {
            LG_VERBOSE("%s : Stop auto update because of network status",
                       "continueDownloadingUpdates");
            showUpdateNotifications();
            stopAutoUpdate();
            return;
        }
        if (environment_.storeInstallRunning()) {
            LG_VERBOSE("%s : Stop auto update while a store download installs",
                       "continueDownloadingUpdates");
            showUpdateNotifications();
            stopAutoUpdate();
            return;
        }
        updatingAppInfo_ = updateAvailableQueue_.front();
        const auto& file = updatingAppInfo_->appFileName;
        if (!file || !TQUtils::isSafePathComponent(*file) || !updatingAppInfo_->downloadURI) {
            // Nothing to save the package under: named in the failure notice.
            skipCurrent("no file name to download to");
            continue;
        }
        downloadApp(*file, *updatingAppInfo_->downloadURI);
        return;
    }
}

void TQKavoAppAutoUpdate::skipCurrent(const char* why) {
    LG_VERBOSE("%s : skipped %@: %@", "continueDownloadingUpdates",
               updateAvailableQueue_.front().appId.value_or(""), std::string(why));
    if (const auto& file = updateAvailableQueue_.front().appFileName;
        file && TQUtils::isSafePathComponent(*file)) {
        removeDownloadedApp(*file);
    }
    updateAvailableQueue_.erase(updateAvailableQueue_.begin());
}

fs::path TQKavoAppAutoUpdate::createAppDownloadFilePath(const std::string& name) {
    const fs::path path = platform::Container::current().documents() / name;
    std::error_code error;
    if (fs::exists(fs::symlink_status(path, error))) {
        LG_VERBOSE("%s : Old app file exist at file path: %@", "createAppDownloadFilePath",
                   path.string());
        fs::remove(path, error);
    } else {
        LG_VERBOSE("%s : Old app file not exists at file path: %@", "createAppDownloadFilePath",
                   path.string());
    }
    return path;
}

void TQKavoAppAutoUpdate::removeDownloadedApp(const std::string& name) {
    const fs::path path = platform::Container::current().documents() / name;
    std::error_code error;
    if (fs::exists(fs::symlink_status(path, error))) {
        LG_VERBOSE("TQKavoAppAutoUpdate: remove installed app %@", path.string());
        fs::remove(path, error);
    }
}

void TQKavoAppAutoUpdate::downloadApp(const std::string& fileName, const std::string& url) {
    const fs::path path = createAppDownloadFilePath(fileName);
    appFileName_.clear();
    wgtFullPath_.reset();
    auto saved = std::make_shared<std::optional<platform::Result<fs::path>>>();
    auto ended = forRun([saved, fileName](TQKavoAppAutoUpdate& self) {
        self.download_.reset();
        self.onDownloaded(**saved, fileName);
    });
    // A store's address: https only, judged against the store's anchors.
    download_ =
        TQPackageDownload::start({.url = url,
                                  .destination = path,
                                  .source = TQPackageDownload::Source::store,
                                  .anchors = environment_.anchors,
                                  .loader = environment_.loader},
                                 nullptr, [saved, ended](platform::Result<fs::path> result) {
                                     saved->emplace(std::move(result));
                                     ended();
                                 });
}

void TQKavoAppAutoUpdate::onDownloaded(const platform::Result<fs::path>& saved,
                                       const std::string& fileName) {
    if (!saved.ok()) {
        LG_VERBOSE("%s : Error: %@", "downloadApp", saved.error().message);
        skipCurrent("the download failed");
        continueDownloadingUpdates();
        return;
    }
    const fs::path& path = saved.value();
    const std::string name = path.filename().string();
    if (name.ends_with(".wgt") || name.ends_with(".npk")) {
        wgtFullPath_ = path;
        appFileName_ = fileName;
    }
    if (!wgtFullPath_) {
        LG_VERBOSE("%s : wgtFullPath is NIL.", "downloadApp");
        skipCurrent("no package");
        continueDownloadingUpdates();
        return;
    }
    if (!TQCoreManager::isWMSConnected()) {
        LG_VERBOSE("%s : isWMSConnected: %d", "downloadApp", 0);
        LG_VERBOSE("%s : Auto update cancelled because of WMS disconnected", "downloadApp");
        removeDownloadedApp(fileName);
        showUpdateNotifications();
        stopAutoUpdate();
        return;
    }
    installRequestId_ = std::to_string(TQWallClock::current().millisecondsSince1970());
    icon_ = std::make_unique<TQInstalledAppIcon>(kIconLines);
    registerNotification();
    installing_ = true;
    armInstallTimer();
    // Each block belongs to this run and this request: a late answer of an ended run, or of
    // an earlier request, never reaches the current one.
    const std::string requestId = installRequestId_;
    auto onRes = std::make_shared<std::pair<std::int32_t, std::string>>();
    auto result = forRun([onRes, requestId](TQKavoAppAutoUpdate& self) {
        if (self.installRequestId_ == requestId) {
            self.onInstallRes(onRes->first, onRes->second);
        }
    });
    auto asked = std::make_shared<std::string>();
    auto dataRequest = forRun([asked](TQKavoAppAutoUpdate& self) {
        self.sendKavoToInstallApplication(*asked);
    });
    environment_.sequence.startInstallation(
        requestId, wgtFullPath_->string(),
        [asked, dataRequest](const std::string& id) {
            *asked = id;
            dataRequest();
        },
        [onRes, result](std::int32_t code, const std::string& packageName) {
            *onRes = {code, packageName};
            result();
        });
}

void TQKavoAppAutoUpdate::sendKavoToInstallApplication(const std::string& requestId) {
    LG_VERBOSE("%s : Install request Id: %@", "sendKavoToInstallApplication", requestId);
    if (requestId != installRequestId_ || !wgtFullPath_) {
        LG_VERBOSE("%s : Install request id is not matched", "sendKavoToInstallApplication");
        return;
    }
    const auto file = platform::fs::readFile(*wgtFullPath_, TQPackageDownload::kMaxPackageBytes);
    if (!file.ok()) {
        LG_VERBOSE("%s : %@ not exists", "sendKavoToInstallApplication", wgtFullPath_->string());
        return;
    }
    icon_->unpack(*wgtFullPath_, TQAppManager::modelNumber(), installRequestId_);
    const std::string& bytes = file.value();
    armInstallTimer();
    fileSending_ = true;
    auto event = std::make_shared<std::pair<int, Value>>();
    auto heard = forRun(
        [event](TQKavoAppAutoUpdate& self) { self.onFileEvent(event->first, event->second); });
    environment_.kavoManager.sendFile(platform::Bytes(bytes.begin(), bytes.end()), appFileName_, 1,
                                      [event, heard](int code, const Value& info) {
                                          *event = {code, info};
                                          heard();
                                      });
}

void TQKavoAppAutoUpdate::onFileEvent(int code, const Value& info) {
    switch (code) {
        case 1:
            LG_VERBOSE("TQKavoAppAutoUpdate : Install App File Accepted");
            break;
        case 2:
            LG_VERBOSE("TQKavoAppAutoUpdate : Install App File Rejected");
            break;
        case 3:
            LG_VERBOSE("TQKavoAppAutoUpdate : Install App File Progress - %lf",
                       info["progress"].doubleValue().value_or(0));
            break;
        case 5:
            LG_VERBOSE("TQKavoAppAutoUpdate : Install App File Error");
            break;
        case 6:
            LG_VERBOSE("TQKavoAppAutoUpdate : Resume Installing App File Accepted");
            break;
        case 7:
            LG_VERBOSE("TQKavoAppAutoUpdate : Resume Installing App File Rejected");
            break;
        default:
            break;
    }
    if (code == 2 || code == 5 || code == 7 ||
        (code == 3 && info["progress"].doubleValue().value_or(0) >= 100)) {
        fileSending_ = false;
    }
    // The watch is still at it: the silence starts again.
    if (installing_) {
        armInstallTimer();
    }
}

void TQKavoAppAutoUpdate::armInstallTimer() {
    if (installTimer_) {
        installTimer_->invalidate();
    }
    installTimer_ = platform::RunLoop::main().scheduleTimer(
        kInstallSilenceTimeout, false,
        forRun([](TQKavoAppAutoUpdate& self) { self.onInstallSilence(); }));
}

void TQKavoAppAutoUpdate::onInstallSilence() {
    installTimer_.reset();
    if (!installing_) {
        return;
    }
    LG_VERBOSE("%s : no install result for %@ in %@ s", "onInstallSilence",
               updatingAppInfo_ ? updatingAppInfo_->appId.value_or("") : std::string(),
               std::to_string(static_cast<int>(kInstallSilenceTimeout)));
    if (fileSending_) {
        environment_.kavoManager.cancelFile();
        fileSending_ = false;
    }
    // A late answer finds no requester; the entry counts as not installed.
    environment_.sequence.cancelInstallation(installRequestId_);
    onInstallRes(0, updatingAppInfo_ ? updatingAppInfo_->appId.value_or("") : std::string());
}

void TQKavoAppAutoUpdate::onInstallRes(std::int32_t code, const std::string& packageName) {
    installing_ = false;
    fileSending_ = false;
    if (installTimer_) {
        installTimer_->invalidate();
        installTimer_.reset();
    }
    if (code == 1) {
        LG_VERBOSE("TQKavoAppAutoUpdate: %@ installation successful", packageName);
        updateSuccessList_.push_back(*updatingAppInfo_);
    } else {
        LG_VERBOSE("TQKavoAppAutoUpdate: %@ installation unsuccessful", packageName);
    }
    unregisterNotification();
    // The package goes with its entry, so the unpacking that reads it is waited for.
    icon_->whenUnpacked(forRun([code, packageName](TQKavoAppAutoUpdate& self) {
        if (code == 1) {
            self.icon_->save(packageName);
        } else {
            self.icon_->discard();
        }
        if (!self.updateAvailableQueue_.empty()) {
            self.skipCurrent(code == 1 ? "installed" : "not installed");
        }
        self.continueDownloadingUpdates();
    }));
}

void TQKavoAppAutoUpdate::registerNotification() {
    unregisterNotification();
    disconnectDeviceObserver_ = environment_.center.addObserver(
        kDisconnectNotification, [weak = std::weak_ptr<TQKavoAppAutoUpdate*>(self_)](
                                     const platform::Notification&) {
            const auto self = weak.lock();
            if (self && *self != nullptr) {
                (*self)->onDisconnectDevice();
            }
        });
}

void TQKavoAppAutoUpdate::unregisterNotification() {
    if (disconnectDeviceObserver_) {
        environment_.center.removeObserver(*disconnectDeviceObserver_);
        disconnectDeviceObserver_.reset();
    }
}

void TQKavoAppAutoUpdate::onDisconnectDevice() {
    if (!updateAvailableQueue_.empty()) {
        if (const auto& file = updateAvailableQueue_.front().appFileName) {
            removeDownloadedApp(*file);
        }
        updateAvailableQueue_.clear();
    }
    LG_VERBOSE("%s : Auto update cancelled because of kavo disconnected", "onDisconnectDevice");
    showUpdateNotifications();
    stopAutoUpdate();
}

void TQKavoAppAutoUpdate::showUpdateNotifications() {
    showUpdateSuccessNotifications();
    showUpdateFailNotifications();
    updateSuccessList_.clear();
}

void TQKavoAppAutoUpdate::showUpdateSuccessNotifications() {
    const std::size_t n = updateSuccessList_.size();
    if (n < 1) {
        return;
    }
    notify(std::to_string(n) + " app" + (n < 2 ? "" : "s") + " installed on Kavo",
           joinedNames(updateSuccessList_));
}

void TQKavoAppAutoUpdate::showUpdateFailNotifications() {
    std::vector<TQUpdateEntry> failed;
    for (const TQUpdateEntry& entry : updateAvailableList_) {
        const bool installed = std::any_of(
            updateSuccessList_.begin(), updateSuccessList_.end(),
            [&](const TQUpdateEntry& done) { return done.appId == entry.appId; });
        if (!installed) {
            failed.push_back(entry);
        }
    }
    if (!failed.empty()) {
        notify(kFailTitle, joinedNames(failed));
    }
}

void TQKavoAppAutoUpdate::stopAutoUpdate() {
    unregisterNotification();
    if (installing_) {
        environment_.sequence.cancelInstallation(installRequestId_);
        installing_ = false;
    }
    if (fileSending_) {
        environment_.kavoManager.cancelFile();
        fileSending_ = false;
    }
    if (installTimer_) {
        installTimer_->invalidate();
        installTimer_.reset();
    }
    if (request_) {
        request_->cancel();
        request_.reset();
    }
    if (download_) {
        download_->cancel();
        download_.reset();
    }
    // A running unpacking removes its folder when it ends.
    icon_.reset();
    isUpdateInProgress_ = false;
    ++run_;
}
