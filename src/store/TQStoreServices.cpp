#include "store/TQStoreServices.h"

#include <utility>

#include "db/TQDBRecords.h"
#include "listener/TQHandlers.h"
#include "platform/foundation/NotificationCenter.h"
#include "store/TQDownloadKavoAppOperation.h"

TQStoreServices::TQStoreServices(platform::net::URLLoader* loader) : loader_(loader) {}

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
        appManager_.setOnInstallRecorded([this] { featured_->refreshFeaturedAppData(); });
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
                                                         std::string fileName, std::string appID) {
        return std::make_shared<TQDownloadKavoAppOperation>(
            TQDownloadKavoAppOperation::Environment{
                .kavoManager = kavoManager,
                .sequence = *sequence_,
                .loader = loader_,
                .removeFromDB =
                    [](const std::string& appPath) {
                        TQDBKavoApp::remove(std::string_view("appPath = ?"),
                                            TQDBQueryBuilder::Args{appPath});
                    }},
            std::move(url), std::move(title), std::move(fileName), std::move(appID));
    });
}

void TQStoreServices::detachLink() {
    if (!sequence_) {
        return;
    }
    // The running operation goes before the link it sends through.
    appManager_.stopRunningOperation();
    appManager_.setOperationFactory(nullptr);
    sequence_.reset();
}
