#include "store/TQStoreServices.h"

#include <utility>

#include "db/TQDBRecords.h"
#include "listener/TQHandlers.h"
#include "logging/LGLog.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "store/TQDownloadKavoAppOperation.h"
#include "utils/Reachability.h"

TQStoreServices::TQStoreServices(platform::net::URLLoader* loader) : loader_(loader) {
    appManager_.setUpdater([this] {
        if (updater_) {
            updater_->checkUpdate();
        } else {
            LG_INFO("TQStoreServices: no watch linked, no update check");
        }
    });
    appManager_.setInstallBusy([this] { return updater_ && updater_->isInstalling(); });
    // From the start, not from the first look at the list: an install before anyone looked
    // must still drop the app from the saved list.
    appManager_.setOnInstallRecorded([this] { featured().refreshFeaturedAppData(); });
}

std::vector<platform::Bytes> TQStoreServices::storeAnchors() {
    const auto file = platform::UserDefaults::standard().string(kTestAnchorFileKey);
    if (!file) {
        return {};
    }
    const auto read = platform::fs::readFile(*file);
    if (!read.ok()) {
        LG_WARN("TQStoreServices: the test anchor %@ is unreadable", *file);
        return {};
    }
    return {platform::Bytes(read.value().begin(), read.value().end())};
}

TQStoreServices::~TQStoreServices() {
    detachLink();
}

TQFeaturedApps& TQStoreServices::featured() {
    if (!featured_) {
        platform::UserDefaults& defaults = platform::UserDefaults::standard();
        featured_ = std::make_unique<TQFeaturedApps>(TQFeaturedApps::Environment{
            .defaults = defaults,
            .center = platform::NotificationCenter::defaultCenter(),
            .host = defaults.string(kBackendHostKey).value_or(kDefaultBackendHost),
            .isInstalled = [this](std::string_view name) { return appManager_.hasPackage(name); },
            .loader = loader_});
    }
    return *featured_;
}

void TQStoreServices::fillHandlers(TQHandlers& handlers) {
    TQHandlers::fillIn(handlers.store, &appManager_);
}

void TQStoreServices::takeBack(TQHandlers& handlers) {
    TQHandlers::takeBack(handlers.store, &appManager_);
}

void TQStoreServices::attachLink(TQAP& kavoManager) {
    detachLink();
    sequence_ = std::make_unique<TQKavoAppSequence>(kavoManager, appManager_,
                                                    platform::NotificationCenter::defaultCenter());
    appManager_.setOperationFactory([this, &kavoManager](std::string url, std::string title,
                                                         std::string fileName, std::string appID,
                                                         TQPackageDownload::Source source) {
        return std::make_shared<TQDownloadKavoAppOperation>(
            TQDownloadKavoAppOperation::Environment{
                .kavoManager = kavoManager,
                .sequence = *sequence_,
                .loader = loader_,
                .anchors = storeAnchors(),
                .removeFromDB =
                    [](const std::string& appPath) {
                        TQDBKavoApp::remove(std::string_view("appPath = ?"),
                                            TQDBQueryBuilder::Args{appPath});
                    }},
            std::move(url), std::move(title), std::move(fileName), std::move(appID), source);
    });
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const std::string host = defaults.string(kBackendHostKey).value_or(kDefaultBackendHost);
    updater_ = std::make_unique<TQKavoAppAutoUpdate>(TQKavoAppAutoUpdate::Environment{
        .kavoManager = kavoManager,
        .sequence = *sequence_,
        .center = platform::NotificationCenter::defaultCenter(),
        .defaults = defaults,
        .host = host,
        .secureHost = defaults.string(kSecureBackendHostKey).value_or(host),
        .anchors = storeAnchors(),
        .networkStatus =
            [] {
                auto reachability = Reachability::reachabilityForInternetConnection();
                if (!reachability) {
                    return TQKavoAppAutoUpdate::notReachable;
                }
                reachability->startNotifier();
                return static_cast<TQKavoAppAutoUpdate::Status>(
                    reachability->currentReachabilityStatus());
            },
        .storeInstallRunning = [this] { return appManager_.getSharedQueue().operationCount() > 0; },
        .loader = loader_});
}

void TQStoreServices::detachLink() {
    if (!sequence_) {
        return;
    }
    // The running operation goes before the link it sends through.
    appManager_.stopRunningOperation();
    appManager_.setOperationFactory(nullptr);
    updater_.reset();
    sequence_.reset();
}
