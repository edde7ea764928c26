#include "listener/TQCommandListener.h"

#include <optional>
#include <string>

#include "link/TQAP.h"
#include "link/TQKMCommand.h"
#include "listener/TQCoreManager.h"
#include "listener/TQGeneralReply.h"
#include "listener/TQHandlers.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/host/URLOpener.h"
#include "platform/system/DeviceInfo.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

constexpr std::string_view kWeatherScreen = "TQWeatherViewController";
constexpr std::string_view kEsimGuideScreen = "TQESimActivationGuideViewController";
constexpr std::string_view kStoreScreen = "TQKavoAppsWebViewController";
constexpr std::string_view kStoreScheme = "quorvelapps://";

// The text under key, when it is one.
std::optional<std::string_view> textOf(const Value& message, std::string_view key) {
    if (const std::string* text = message[key].stringIf()) {
        return *text;
    }
    return std::nullopt;
}

bool textIs(const Value& message, std::string_view key, std::string_view expected) {
    return textOf(message, key) == expected;
}

bool isApplicationActive() {
    return platform::AppHost::current().applicationState() == platform::ApplicationState::active;
}

bool isTopNavigationScreen(std::string_view screen) {
    return platform::ScreenNavigator::current().topNavigationScreen() == screen;
}

void synchronizeDefaults() {
    TQUtils::synchronizeDefaults("TQCommandListener");
}

void post(const char* name) {
    platform::NotificationCenter::defaultCenter().post(name);
}

bool isEsimActivationSettings(const Value& message) {
    return textIs(message, "data", "esimactivation_settings");
}

}  // namespace

struct TQCommandListener::Row {
    std::string_view msgId;
    // Whether the row takes the message; null takes every message with that "msgId". A message
    // a row does not take goes on to the rows below it.
    bool (*takes)(const Value& message);
    void (TQCommandListener::*action)(const Value& message);
};

const TQCommandListener::Row TQCommandListener::kRows[] = {
    {"fmp-startalert-req", nullptr, &TQCommandListener::findMyDevice},
    {"fmp-founddevice-rsp", nullptr, &TQCommandListener::findMyDevice},
    {"fmp-stopalert-req", nullptr, &TQCommandListener::findMyDevice},
    {"msg_notification_block_info_req", nullptr, &TQCommandListener::blockApplicationList},
    {"msg_notification_app_icon_req", nullptr, &TQCommandListener::appIcon},
    {"lbs-tracking-location-req", nullptr, &TQCommandListener::lbsRequest},
    {"lbs-location-setting-check-req", nullptr, &TQCommandListener::lbsRequest},
    {"lbs-exercise-info-req", nullptr, &TQCommandListener::lbsRequest},
    {"contacts-getbuddy-req", nullptr, &TQCommandListener::getBuddy},
    {"contacts-launchbuddy-req", nullptr, &TQCommandListener::launchBuddy},
    {"Request_Initial_Sync_Contact", nullptr, &TQCommandListener::contactSync},
    {"Request_Resume_Sync_Contact", nullptr, &TQCommandListener::contactSync},
    {"mgr_datanetwork_req", nullptr, &TQCommandListener::dataNetwork},
    {"calendar-change-req", nullptr, &TQCommandListener::calendarChange},
    {"calendar-listwithoption-req", nullptr, &TQCommandListener::calendarList},
    {"calendar-update-ack", nullptr, &TQCommandListener::calendarUpdateAck},
    {"calendar-sequence-req", nullptr, &TQCommandListener::calendarSequence},
    {"mgr_gps_changed_res", nullptr, &TQCommandListener::ignore},
    {"mgr_apps_order_res", nullptr, &TQCommandListener::appsOrder},
    {"mgr_wappsicon_res", nullptr, &TQCommandListener::watchAppIcons},
    {"mgr_show_on_device_req", &isEsimActivationSettings, &TQCommandListener::showEsimActivation},
    {"mgr_numbersync_register_result_req", nullptr, &TQCommandListener::numberSyncRegisterResult},
    {"mgr_numbersync_register_res", nullptr, &TQCommandListener::numberSyncRegister},
    {"mgr_numbersync_state_res", nullptr, &TQCommandListener::numberSyncState},
    {"mgr_numbersync_post_setup_res", nullptr, &TQCommandListener::numberSyncPostSetup},
    {"mgr_esim_activation_status_ind", nullptr, &TQCommandListener::esimActivationStatus},
    {"mgr_hfp_connection_ind", nullptr, &TQCommandListener::hfpConnectionIndication},
    {"mgr_hfp_connection_req", nullptr, &TQCommandListener::hfpConnectionRequest},
    {"mgr_app_update_req", nullptr, &TQCommandListener::appUpdate},
    {"mgr_push_km_reg_id_res", nullptr, &TQCommandListener::pushRegistration},
    {"mgr_push_kavo_qppc_token_req", nullptr, &TQCommandListener::ignore},
    {"mgr_sync_time_req", nullptr, &TQCommandListener::syncTime},
    {"mgr_systemtime_req", nullptr, &TQCommandListener::systemTime},
    {"mgr_noti_indicator_req", nullptr, &TQCommandListener::notiIndicatorRequest},
    {"mgr_noti_indicator_res", nullptr, &TQCommandListener::notiIndicatorResult},
    {"mgr_wapps_uninstall_req", nullptr, &TQCommandListener::uninstallRequest},
    {"mgr_wapps_uninstall_res", nullptr, &TQCommandListener::uninstallResult},
    {"context-websearch-req", nullptr, &TQCommandListener::contextWebsearch},
    {"mgr_ups_mode_ind", nullptr, &TQCommandListener::upsMode},
    {"mgr_show_on_device_req", nullptr, &TQCommandListener::showOnDevice},
    {"mgr_show_on_device_res", nullptr, &TQCommandListener::showOnDeviceResult},
    {"mgr_install_host_app_req", nullptr, &TQCommandListener::installHostApp},
};

TQCommandListener::TQCommandListener(TQAP& kavoManager, const TQHandlers& handlers)
    : kavoManager_(kavoManager),
      handlers_(handlers),
      lbsServerProvider_(handlers.lbsServerProvider) {
    platform::AppHost::current().beginReceivingRemoteControlEvents();
}

void TQCommandListener::processReceivedData(std::span<const std::uint8_t> data,
                                            std::uint32_t appId) {
    LG_VERBOSE("DATA received in ui.");
    if (appId == kHealthAppId) {
        LG_VERBOSE("TQCommandListener: Data Recieved for Vitmoor");
        return;
    }
    if (appId == kWebProxyAppId) {
        if (auto* proxy =
                TQHandlers::require(handlers_.webProxy, "TQWebProxyHandler", "web-proxy frame")) {
            proxy->prepareForADPURequest(data, kavoManager_);
        }
        return;
    }

    // Only a JSON object is a message; anything else decodes to nothing.
    const Value message = [&data] {
        auto decoded = TQKMCommand::processInCommand(data);
        return decoded && decoded->isDictionary() ? std::move(*decoded) : Value();
    }();
    LG_VERBOSE("[%@] msgId: %@", "TQCommandListener", message["msgId"]);

    const bool homeScreenIsRoot = platform::ScreenNavigator::current().isHomeScreenRoot();
    const std::optional<std::string_view> msgId = textOf(message, "msgId");
    preDispatch(message, msgId.value_or(""), appId, homeScreenIsRoot);

    if (msgId) {
        dispatchByMsgId(*msgId, message);
    } else if (textIs(message, "cmd", "findMyDevice")) {
        // The watch's find-my-phone commands carry no "msgId"; its stop is one of them.
        findMyDevice(message);
    } else if (message.find("msgId") == nullptr) {
        runWeatherSteps(message);
    }
}

void TQCommandListener::preDispatch(const Value& message, std::string_view msgId,
                                    std::uint32_t appId, bool homeScreenIsRoot) {
    if (!message.isDictionary()) {
        return;
    }
    const std::string_view work = msgId.empty() ? std::string_view("a message") : msgId;
    const bool listAnswer = msgId == "mgr_wapps_list_res" || msgId == "mgr_clocks_list_res";
    // The list answers to a locale-only request reach the sequence while the watch is in use.
    const bool forLocaleChange = listAnswer && TQCoreManager::isWMSConnected();
    if (forLocaleChange) {
        LG_VERBOSE("sequence for locale chanage");
        if (auto* sequence =
                TQHandlers::require(handlers_.initSequence, "TQInitSequenceHandler", work)) {
            sequence->processResponse(message);
        }
    }
    if (appId == kMusicAppId && homeScreenIsRoot) {
        if (auto* music = TQHandlers::require(handlers_.musicControl, "TQMusicControlHandler",
                                              "music message")) {
            music->processMessage(message);
        }
    } else if (appId == kGeneralAppId && homeScreenIsRoot && !forLocaleChange) {
        if (auto* sequence =
                TQHandlers::require(handlers_.initSequence, "TQInitSequenceHandler", work)) {
            sequence->processResponse(message);
        }
    }
}

void TQCommandListener::dispatchByMsgId(std::string_view msgId, const Value& message) {
    for (const Row& row : kRows) {
        if (row.msgId == msgId && (row.takes == nullptr || row.takes(message))) {
            (this->*row.action)(message);
            return;
        }
    }
}

// ---- weather messages, which carry no "msgId" ----

void TQCommandListener::runWeatherSteps(const Value& message) {
    if (message.find("WEATHER_REQUEST") != nullptr) {
        weatherRequest(message);
    }
    if (message.find("WEATHER_RESPONSE") != nullptr) {
        weatherResponse(message);
    } else if (message.find("WEATHER_ACK_SEQ") != nullptr) {
        LG_VERBOSE("WEATHER_ACK_SEQ Response From Kavo");
    }
}

void TQCommandListener::weatherRequest(const Value& message) {
    LG_VERBOSE("WEATHER_REQUEST Request From Kavo %@", lg::redacted(message));
    auto* weather = TQHandlers::require(handlers_.weather, "TQWeatherHandler", "WEATHER_REQUEST");
    if (weather != nullptr) {
        weather->processWeatherAck(kavoManager_);
    }
    const auto sendSettings = [this, weather] {
        if (weather != nullptr) {
            weather->sendSettingData(kavoManager_);
        }
    };
    // A value that is not a dictionary has none of the keys.
    const Value& request = message["WEATHER_REQUEST"];
    const auto isSet = [&request](std::string_view key) {
        return request[key].intValue().value_or(0) == 1;
    };
    if (isSet("FETCH_REQ")) {
        LG_DEBUG("WEATHER_REQUEST : FETCH_REQ");
        sendSettings();
    } else if (isSet("UPDATED_BY_KAVO")) {
        LG_DEBUG("WEATHER_REQUEST : FETCHUPDATED_BY_KAVO_REQ");
        sendSettings();
    } else if (isSet("ADD_CURRENT_CITY")) {
        LG_DEBUG("WEATHER_REQUEST : ADD_CURRENT_CITY");
        sendSettings();
    } else if (isSet("SHOW_SETTING_ON_DEVICE")) {
        LG_DEBUG("WEATHER_REQUEST : SHOW_SETTING_ON_DEVICE");
        if (!isApplicationActive()) {
            if (weather != nullptr) {
                weather->createWeatherNotification();
            }
        } else if (!isTopNavigationScreen(kWeatherScreen)) {
            platform::ScreenNavigator::current().pushScreen(kWeatherScreen, true);
        }
    }
}

void TQCommandListener::weatherResponse(const Value& message) {
    const Value& response = message["WEATHER_RESPONSE"];
    const Value* errorState = response.find("ERROR_STATE");
    LG_VERBOSE("WEATHER_RESPONSE Response From Kavo %@", lg::redacted(message));
    auto& defaults = platform::UserDefaults::standard();
    auto& navigator = platform::ScreenNavigator::current();
    if (const Value* city = response.find("CURRENT_CITY_NAME")) {
        LG_DEBUG("WEATHER_RESPONSE : CURRENT_CITY_NAME");
        if (const std::string* name = city->stringIf(); name != nullptr && !name->empty()) {
            defaults.set("WEATHER_CURRENT_CITY", *name);
            navigator.performOnTopNavigationScreen(kWeatherScreen, "updateCityCell", Value());
        }
    }
    if (errorState == nullptr) {
        return;
    }
    const std::string* state = errorState->stringIf();
    if (state != nullptr && (*state == "GPS_ERROR" || *state == "NETWORK_ERROR")) {
        if (*state == "GPS_ERROR") {
            LG_ERROR("WEATHER_RESPONSE : ERROR_STATE : GPS_ERROR");
        } else {
            LG_ERROR("WEATHER_RESPONSE : ERROR_STATE : NETWORK_ERROR");
        }
        defaults.remove("WEATHER_CURRENT_CITY");
        defaults.set("WEATHER_USE_CURRENT_LOCATION", false);
        synchronizeDefaults();
        navigator.performOnTopNavigationScreen(kWeatherScreen, "showErrorPopupWithType:", *state);
    }
    // Every error state is answered with the settings.
    if (auto* weather =
            TQHandlers::require(handlers_.weather, "TQWeatherHandler", "WEATHER_RESPONSE")) {
        weather->sendSettingData(kavoManager_);
    }
}

// ---- the rows ----

void TQCommandListener::findMyDevice(const Value& message) {
    if (auto* own = TQHandlers::require(handlers_.findMyDevice, "TQFindMyDeviceHandler",
                                        "processFindMyDevice")) {
        own->processFindMyDevice(message);
    }
}

void TQCommandListener::blockApplicationList(const Value& message) {
    if (auto* own = TQHandlers::require(handlers_.notificationApps, "TQNotificationAppHandler",
                                        "processUpdateBlockApplicationList")) {
        own->processUpdateBlockApplicationList(message);
    }
}

void TQCommandListener::appIcon(const Value& message) {
    if (auto* own = TQHandlers::require(handlers_.appIcons, "TQAppIconHandler", "processAppIcon")) {
        own->processAppIcon(message);
    }
}

void TQCommandListener::lbsRequest(const Value& message) {
    if (auto* provider =
            TQHandlers::require(lbsServerProvider_, "TQLbsHandler", "processLbsServerProvider")) {
        provider->processSubCommand(message);
    }
}

void TQCommandListener::getBuddy(const Value& /*message*/) {
    LG_VERBOSE("receive get buddy message from kavo");
    if (auto* sync =
            TQHandlers::require(handlers_.buddySync, "TQBuddySyncHandler", "performNativeSync")) {
        sync->performNativeSync();
    }
}

void TQCommandListener::launchBuddy(const Value& /*message*/) {
    LG_VERBOSE("receive launch buddy message from kavo");
    if (auto* own = TQHandlers::require(handlers_.buddies, "TQBuddyHandler", "launchBuddyView")) {
        own->launchBuddyView();
    }
}

void TQCommandListener::contactSync(const Value& message) {
    LG_VERBOSE("receive contact sync message from kavo");
    if (auto* contacts =
            TQHandlers::require(handlers_.contacts, "TQContactHandler", "contact sync")) {
        contacts->processResponse(message);
    }
}

void TQCommandListener::dataNetwork(const Value& /*message*/) {
    LG_INFO("MGR_DATANETWORK_REQ");
    if (auto* own = TQHandlers::require(handlers_.networkStatus, "TQNetworkStatusHandler",
                                        "sendNetworkStatus")) {
        own->sendNetworkStatus();
    }
}

void TQCommandListener::calendarChange(const Value& /*message*/) {
    LG_INFO("CALENDAR_CHANGE_REQ");
    if (auto* calendar =
            TQHandlers::require(handlers_.calendar, "TQCalendarHandler", "calendar-change-req")) {
        calendar->startCalendarEvent();
    }
}

void TQCommandListener::calendarList(const Value& message) {
    auto* calendar =
        TQHandlers::require(handlers_.calendar, "TQCalendarHandler", "calendar-listwithoption-req");
    if (calendar == nullptr) {
        return;
    }
    LG_INFO("CALENDAR_LIST_REQ");
    // The watch's limits are only logged: every chunk covers the same fixed span.
    const auto number = [&message](std::string_view key) {
        return message[key].intValue().value_or(0);
    };
    LG_DEBUG("starttime: %ld", number("starttime"));
    LG_DEBUG("endtime: %ld", number("endtime"));
    LG_DEBUG("maxTextLength: %ld", number("maxTextLength"));
    LG_DEBUG("maxEventCnt: %d", number("maxEventCnt"));
    LG_DEBUG("maxAllEventCnt: %d", number("maxAllEventCnt"));
    LG_DEBUG("reminder: %@", lg::redacted(message["reminder"]));
    calendar->initializeEventDatabase();
    if (calendar->listStep() == 0) {
        LG_INFO("%s Initial request. Clean up database for event...", __func__);
        calendar->cleanUpEvent();
        calendar->populateCalendarData();
    }
    calendar->fullSyncWithChunk();
}

void TQCommandListener::calendarUpdateAck(const Value& /*message*/) {
    LG_INFO("CALENDAR_UPDATE_ACK");
}

void TQCommandListener::calendarSequence(const Value& /*message*/) {
    LG_INFO("CALENDAR_SEQUENCE_REQ");
    if (auto* calendar =
            TQHandlers::require(handlers_.calendar, "TQCalendarHandler", "calendar-sequence-req")) {
        calendar->updateSequenceNumber();
    }
}

void TQCommandListener::ignore(const Value& /*message*/) {}

void TQCommandListener::appsOrder(const Value& message) {
    if (!TQCoreManager::isWMSConnected()) {
        return;
    }
    const auto xml = textOf(message, "data");
    if (!xml) {
        LG_WARN("TQCommandListener: mgr_apps_order_res without an order list");
        return;
    }
    std::string modelNumber;
    if (const auto group = TQUtils::getPreferenceByGroup(TQUtils::kGroupKavoInfo)) {
        if (const Value* stored = group->find(TQUtils::kKavoModelNumber)) {
            modelNumber = stored->stringValue().value_or("");
        }
    }
    // Observers read the file again, so they are told only when it changed.
    if (const auto saved = TQUtils::saveXml(*xml, modelNumber, "apporderlist.xml"); !saved.ok()) {
        LG_WARN("TQCommandListener: application order not stored: %@", saved.error().message);
        return;
    }
    post("app_order_changed_notif");
}

void TQCommandListener::watchAppIcons(const Value& message) {
    if (auto* own =
            TQHandlers::require(handlers_.watchAppIcons, "TQWatchAppIconHandler", "saveAppIcon")) {
        own->saveAppIcon(message);
    }
    platform::UserDefaults::standard().set("sync_app_icon_flag", 1);
    synchronizeDefaults();
    post("preloaded_app_icon_received_notif");
}

void TQCommandListener::showEsimActivation(const Value& /*message*/) {
    if (isApplicationActive() && !isTopNavigationScreen(kEsimGuideScreen)) {
        platform::ScreenNavigator::current().pushScreen(kEsimGuideScreen, true);
    }
}

void TQCommandListener::numberSyncRegisterResult(const Value& message) {
    LG_VERBOSE("TQCommandListener: MGR_NUMBERSYNC_REGISTER_RESULT_REQ, withDict :%@",
               lg::redacted(message));
    if (auto* own = TQHandlers::require(handlers_.numberSyncReplies, "TQNumberSyncReplyHandler",
                                        "processNumberSyncRegisterResultReq")) {
        own->processNumberSyncRegisterResultReq(message["result"]);
        own->sendNumberSyncRegisterReq();
    }
    if (!isApplicationActive()) {
        LG_VERBOSE("TQCommandListener: App is in Background, throw Number Sync Notification");
        TQUtils::createNumberSyncNotification(textOf(message, "result").value_or(""));
    }
}

void TQCommandListener::numberSyncRegister(const Value& message) {
    LG_VERBOSE("TQCommandListener: MGR_NUMBERSYNC_REGISTER_RES, withDict :%@",
               lg::redacted(message));
    platform::UserDefaults::standard().set("number_sync_register", message["state"]);
    synchronizeDefaults();
    if (auto* own = TQHandlers::require(handlers_.numberSyncReplies, "TQNumberSyncReplyHandler",
                                        "sendNumberSyncStateReq")) {
        own->sendNumberSyncStateReq();
    }
}

void TQCommandListener::numberSyncState(const Value& message) {
    LG_VERBOSE("TQCommandListener: MGR_NUMBERSYNC_STATE_RES, withDict :%@", lg::redacted(message));
    platform::UserDefaults::standard().set("number_sync_state", message["state"]);
    synchronizeDefaults();
    if (auto* numberSync = TQHandlers::require(handlers_.numberSync, "TQNumberSyncHandler",
                                               "updateBlockAppForNumberSync")) {
        numberSync->updateBlockAppForNumberSync();
    }
}

void TQCommandListener::numberSyncPostSetup(const Value& message) {
    LG_VERBOSE("TQCommandListener: MGR_NUMBERSYNC_POST_SETUP_REQ, withDict :%@",
               lg::redacted(message));
    // Only what reads as a link goes to the host's opener, and the dispatch does not wait.
    if (const auto link = textOf(message, "deeplink"); link && platform::looksLikeURL(*link)) {
        platform::RunLoop::main().post(
            [url = std::string(*link)] { platform::AppHost::current().openURL(url); });
    } else {
        LG_WARN("TQCommandListener: number-sync deep link is not a link: %@", message["deeplink"]);
    }
    if (auto* own = TQHandlers::require(handlers_.numberSyncReplies, "TQNumberSyncReplyHandler",
                                        "processNumberSyncPostSetupReq")) {
        own->processNumberSyncPostSetupReq("success");
    }
}

void TQCommandListener::esimActivationStatus(const Value& message) {
    if (textIs(message, "result", "added")) {
        LG_VERBOSE("E-SIM Profile Added from Kavo");
    } else {
        LG_VERBOSE("E-SIM Profile Deleted from Kavo");
    }
    platform::UserDefaults::standard().set("profile_count", message["profile_count"]);
    synchronizeDefaults();
}

void TQCommandListener::hfpConnectionIndication(const Value& message) {
    if (textIs(message, "result", "connected")) {
        platform::ScreenNavigator::current().presentScene(
            "Main_iPhone", "HFPConnectingPage", platform::ModalTransitionStyle::crossDissolve,
            true);
    }
}

void TQCommandListener::hfpConnectionRequest(const Value& /*message*/) {
    if (auto* own =
            TQHandlers::require(handlers_.hfp, "TQHFPHandler", "processHFPConnectRequest")) {
        own->processHFPConnectRequest();
    }
}

void TQCommandListener::appUpdate(const Value& /*message*/) {
    LG_VERBOSE("TQCommandListener: MGR_APP_UPDATE_REQ");
    if (platform::UserDefaults::standard().string("support.app.update") != "true") {
        return;
    }
    LG_VERBOSE("TQCommandListener: Check For Kavo App Update");
    if (auto* store = TQHandlers::require(handlers_.store, "TQStoreHandler", "checkUpdate")) {
        store->checkUpdate();
    }
}

void TQCommandListener::pushRegistration(const Value& /*message*/) {
    auto& defaults = platform::UserDefaults::standard();
    if (!defaults.boolean("isPushSettingsExchanged").value_or(false)) {
        defaults.set("isPushSettingsExchanged", 1);
    }
}

void TQCommandListener::syncTime(const Value& /*message*/) {
    if (auto* own =
            TQHandlers::require(handlers_.timeSync, "TQTimeSyncHandler", "processTimeRequest")) {
        own->processTimeRequest();
    }
}

void TQCommandListener::systemTime(const Value& message) {
    if (auto* own = TQHandlers::require(handlers_.timeSync, "TQTimeSyncHandler",
                                        "processSystemTimeRequest")) {
        own->processSystemTimeRequest(message["t1"].intValue().value_or(0),
                                      TQWallClock::current().millisecondsSince1970());
    }
}

void TQCommandListener::notiIndicatorRequest(const Value& message) {
    if (auto* own = TQHandlers::require(handlers_.notiIndicator, "TQNotiIndicatorHandler",
                                        "processNotiIndicatorRequest")) {
        own->processNotiIndicatorRequest(message);
    }
}

void TQCommandListener::notiIndicatorResult(const Value& message) {
    LG_VERBOSE("MGR_NOTI_INDICATOR_RES : %@", lg::redacted(message));
}

void TQCommandListener::uninstallRequest(const Value& message) {
    const auto packageName = textOf(message, "packageName");
    if (!packageName || packageName->empty()) {
        return;
    }
    LG_INFO("WAPPS_UNINSTALL_REQ");
    // The package's icon file is named after it.
    if (!TQUtils::isSafePathComponent(*packageName)) {
        LG_WARN("TQCommandListener: package name %@ is not a file name, not uninstalled",
                *packageName);
        return;
    }
    if (auto* store =
            TQHandlers::require(handlers_.store, "TQStoreHandler", "mgr_wapps_uninstall_req")) {
        store->uninstallAppWithPackageName(*packageName);
        store->uninstallClockWithPackageName(*packageName);
    }
    reply(Value{{"msgId", "mgr_apps_order_req"},
                {"deviceid", platform::DeviceInfo::current().vendorIdentifier()}});
}

void TQCommandListener::uninstallResult(const Value& /*message*/) {
    LG_INFO("WAPPS_UNINSTALL_RES");
}

void TQCommandListener::contextWebsearch(const Value& message) {
    LG_INFO("CONTEXT_WEBSEARCH_REQ");
    if (auto* own = TQHandlers::require(handlers_.webSearch, "TQWebSearchHandler",
                                        "processContextWebsearch")) {
        own->processContextWebsearch(message);
    }
}

void TQCommandListener::upsMode(const Value& message) {
    if (auto* own =
            TQHandlers::require(handlers_.powerSaving, "TQPowerSavingHandler", "processUPS")) {
        own->processUPS(message);
    }
}

void TQCommandListener::showOnDevice(const Value& message) {
    LG_INFO("MGR_SHOW_ON_DEVICE_REQ");
    LG_DEBUG("Data => %@", lg::redacted(message["data"]));
    if (!textIs(message, "data", "texttemplate_setting")) {
        return;
    }
    if (auto* own = TQHandlers::require(handlers_.generalMessage, "TQGeneralMessageHandler",
                                        "launchGeneralMessage")) {
        own->launchGeneralMessage();
    }
}

void TQCommandListener::showOnDeviceResult(const Value& /*message*/) {
    LG_INFO("MGR_SHOW_ON_DEVICE_RES");
}

void TQCommandListener::installHostApp(const Value& message) {
    const auto downloadType = textOf(message, "download_type");
    bool result = false;
    if (downloadType == "kavo") {
        const std::string_view link =
            TQUtils::trimmedWhiteSpaceAndNewlines(textOf(message, "deeplink_url").value_or(""));
        if (link.starts_with(kStoreScheme)) {
            LG_VERBOSE("Deep Link - Quorvel App URL Found");
            if (!isApplicationActive()) {
                TQUtils::createKavoAppsWebNotification(link);
            } else if (!platform::ScreenNavigator::current().isTopMostScreenAlert() &&
                       !isTopNavigationScreen(kStoreScreen)) {
                platform::AppHost::current().openURL(link);
            }
            result = true;
        } else {
            LG_VERBOSE("Deep Link - Quorvel App URL Not Found");
        }
    } else if (downloadType == "phone") {
        LG_VERBOSE("Deep Link - Download Type Phone");
    } else {
        return;
    }
    const Value answer{{"msgId", "mgr_install_host_app_res"},
                       {"result", result ? "true" : "false"}};
    LG_VERBOSE("%@", lg::redacted(answer));
    reply(answer);
}

void TQCommandListener::reply(const Value& message) {
    sendGeneralReply(kavoManager_, message);
}
