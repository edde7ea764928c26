#include "listener/TQCoreManager.h"

#include <limits>
#include <string>

#include "link/TQAP.h"
#include "link/TQKMCommand.h"
#include "link/TQPeripheral.h"
#include "listener/TQCommandListener.h"
#include "listener/TQHandlers.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/DeviceInfo.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

constexpr const char* kIsWMSConnected = "isWMSConnected";

void post(const char* name, Value object = {}) {
    platform::NotificationCenter::defaultCenter().post(name, nullptr, std::move(object));
}

void synchronizeDefaults() {
    TQUtils::synchronizeDefaults("[Core Manager]");
}

}  // namespace

TQCoreManager& TQCoreManager::sharedManager() {
    return installedInstance("TQCoreManager");
}

std::shared_ptr<TQCoreManager> TQCoreManager::create(TQAP& kavoManager,
                                                     const TQHandlers& handlers) {
    std::shared_ptr<TQCoreManager> manager(new TQCoreManager(kavoManager, handlers));
    manager->setup();
    return manager;
}

void TQCoreManager::setup() {
    kavoManager_.setDelegate(shared_from_this());
}

bool TQCoreManager::isWMSConnected() {
    return platform::UserDefaults::standard().boolean(kIsWMSConnected).value_or(false);
}

std::int32_t TQCoreManager::powerSavingStatus() {
    const std::int64_t status =
        platform::UserDefaults::standard().integer("POWER_SAVING_STATUS").value_or(0);
    if (status < std::numeric_limits<std::int32_t>::min() ||
        status > std::numeric_limits<std::int32_t>::max()) {
        return 0;
    }
    return static_cast<std::int32_t>(status);
}

void TQCoreManager::sendCurrentLocaleOnly(std::string_view locale) {
    LG_VERBOSE("Only Locale Changed : sending MGR_WAPPS_LIST_REQ");
    TQKMCommand::processOutCommand(
        &kavoManager_, Value{{"msgId", "mgr_wapps_list_req"}, {"result", ""}, {"locale", locale}},
        TQKMCommand::kGeneralAppId, TQKMCommand::kNormalPriority);
}

void TQCoreManager::onDiscoverDevices(
    const std::vector<platform::bluetooth::RemotePeripheral*>& devices) {
    LG_INFO("[Core Manager]: Device Discover");
    platform::Array found;
    for (const auto* device : devices) {
        Value entry{{"identifier", device->identifier().toLongString()}};
        if (const auto name = device->name()) {
            entry["name"] = *name;
        }
        found.push_back(std::move(entry));
    }
    post("onDiscoverDevicesNotification", std::move(found));
}

void TQCoreManager::onConnectDevice() {
    LG_INFO("[Core Manager]: Device Connected");
    if (TQPeripheral::willRestore()) {
        resumeRestoredConnection();
    } else if (!isWMSConnected()) {
        startFreshConnection();
    }
    post("onConnectDeviceNotification");
}

// The watch is still set up from before the relaunch: no handshake.
void TQCoreManager::resumeRestoredConnection() {
    auto& defaults = platform::UserDefaults::standard();
    defaults.set(kIsWMSConnected, 1);
    const std::string locale = platform::DeviceInfo::current().localeIdentifier();
    if (defaults.string("currentLocale") != locale) {
        defaults.set("currentLocale", locale);
        sendCurrentLocaleOnly(locale);
    }
    synchronizeDefaults();
    LG_VERBOSE("WillRestore registerMediaPlayerNotifications");
    if (auto* music = TQHandlers::require(handlers_.musicControl, "TQMusicControlHandler",
                                          "registerMediaPlayerNotifications")) {
        music->registerMediaPlayerNotifications();
    }
    LG_DEBUG("[TQCoreManager]onConnectDevice: willRestore & IS_WMS_CONNECTED TRUE");
}

void TQCoreManager::startFreshConnection() {
    auto& defaults = platform::UserDefaults::standard();
    if (const auto* device = kavoManager_.getConnectedDevice()) {
        defaults.set("deviceUUID", device->identifier().toLongString());
        // A watch whose name was never seen has none to store.
        defaults.set("connectedDeviceName", device->name() ? Value(*device->name()) : Value());
    }

    bool needDelete = false;
    if (auto* database = TQHandlers::require(handlers_.databaseSetup, "TQDatabaseSetup",
                                             "checkIfNeedToDeleteOrInsertTemplateData")) {
        const auto decision = database->checkIfNeedToDeleteOrInsertTemplateData();
        if (const Value* flag = decision.find("needDeleteForThisModelNumber")) {
            needDelete = flag->boolValue().value_or(false);
        }
    }
    if (needDelete) {
        // Another watch of the same model was used before: its data goes.
        if (auto* templates = TQHandlers::require(handlers_.textTemplates, "TQTextTemplateHandler",
                                                  "deleting the model's texts")) {
            templates->initializeCallRejectionDataToKavo(kavoManager_, true, false);
            templates->initializeGeneralMessageDataToKavo(kavoManager_, true, false);
        }
        defaults.remove("IS_DB_INITIALIZATION_DONE");
        if (auto* weather = TQHandlers::require(handlers_.weather, "TQWeatherHandler",
                                                "resetting the weather settings")) {
            weather->initializeWeatherDataIfIsNeedToDelete(true);
        }
    }

    LG_INFO("[Core Manager]: Device Connected and start init");
    initializationSeq_ =
        TQHandlers::require(handlers_.initSequence, "TQInitSequenceHandler", "startInit");
    if (initializationSeq_ != nullptr) {
        initializationSeq_->setDelegate(this);
        initializationSeq_->startInit();
    }
}

void TQCoreManager::onDisconnectDevice() {
    LG_INFO("[Core Manager]: Device Disconnected");
    recordConnectionUsage();
    // Observers still see the watch as in use.
    post("onDisconnectDeviceNotification");
    platform::UserDefaults::standard().set(kIsWMSConnected, 0);
    synchronizeDefaults();
    if (auto* music = TQHandlers::require(handlers_.musicControl, "TQMusicControlHandler",
                                          "unregisterMediaPlayerNotifications")) {
        music->unregisterMediaPlayerNotifications();
    }
    LG_INFO("[Core Manager]: TQAppDelegate IS_WMS_CONNECTED FALSE");
}

void TQCoreManager::onBleManagerStateChange(bool enabled) {
    LG_INFO("[Core Manager]: Manager Change");
    post("onBleManagerStateChangeNotification", enabled);
}

void TQCoreManager::onDataReceiveCompleted(std::span<const std::uint8_t> data,
                                           std::uint32_t appId) {
    LG_INFO("[Core Manager]: Data Received");
    TQCommandListener(kavoManager_, handlers_).processReceivedData(data, appId);
    const Value message{{"data", platform::Bytes(data.begin(), data.end())}, {"appId", appId}};
    LG_DEBUG("[Core Manager]: %s post notification with user info => %@", __func__,
             lg::redacted(message));
    post("onDataReceivedNotification", message);
}

void TQCoreManager::onError(const TQError& error) {
    LG_INFO("[Core Manager]: Error");
    post("onErrorNotification",
         Value{{"errorCode", error.errorCode()}, {"errorDescription", error.errorDescription()}});
}

void TQCoreManager::autoConnectionInProgress() {
    LG_INFO("[Core Manager]: Auto Connect");
    post("autoConnectionProgress");
}

void TQCoreManager::onSyncInitSettingRes(bool isReconnecting) {
    LG_INFO("[Core Manager]: TQCoreManager - onSyncInitSettingRes");
    recordConnectionUsage();
    post("onSyncInitSettingResNotification", isReconnecting);
}

void TQCoreManager::recordConnectionUsage() {
    if (auto* usageLog =
            TQHandlers::require(handlers_.usageLog, "TQUsageLogHandler", "connection usage log")) {
        usageLog->generateJSONForConnByUsr();
    }
}
