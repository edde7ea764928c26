#include "listener/TQInitSequence.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "link/TQAP.h"
#include "link/TQHMMessage.h"
#include "link/TQXMLParser.h"
#include "listener/TQHandlers.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/XmlParser.h"
#include "platform/host/AppHost.h"
#include "platform/location/LocationServices.h"
#include "platform/system/DeviceInfo.h"
#include "utils/TQUtils.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr std::uint32_t kGeneralAppId = 1;
constexpr std::uint32_t kRequestPriority = 1;

constexpr std::string_view kWatchInfoReqSchema =
    "mgr_watch_info_req String device_id String hm_ver int dp_lastapp";
constexpr std::string_view kResetDeviceReqSchema = "mgr_reset_device_req";
constexpr std::string_view kHostStatusIndSchema =
    "mgr_host_status_ind String type String timestamp String data String preinstalled "
    "String telephony";
constexpr std::string_view kWappsListReqSchema = "mgr_wapps_list_req String result String locale";
constexpr std::string_view kClocksListReqSchema = "mgr_clocks_list_req String result";
constexpr std::string_view kSyncInitSettingReqSchema =
    "mgr_sync_init_setting_req String timezone String dateformat String date1224 "
    "String datetime int autotimesync String locale String datetimeepoch String safety "
    "String safety_cam String safety_voice String gmt int screenOnOff int gestureDetail";
constexpr std::string_view kAppUserAgreementReqSchema =
    "mgr_app_user_agreement_req Boolean ondra Boolean fmd_and_fmk Boolean ErrorLog";
constexpr std::string_view kReactivationLockSetReqSchema =
    "mgr_reactivationlock_set_req String authcode String authURL Boolean is_quorvel_device";
constexpr std::string_view kReactivationLockUnlockReqSchema =
    "mgr_reactivationlock_unlock_req String authcode String authURL Boolean keep_setting "
    "Boolean is_quorvel_device";
constexpr std::string_view kSetupWizardEulaFinishedReqSchema =
    "mgr_setupwizard_eula_finished_req String device_id";

constexpr const char* kIsWMSConnected = "isWMSConnected";
constexpr const char* kKavoInfoFile = "kavo_info.plist";
constexpr const char* kUserSettingsFile = "user_settings.plist";
constexpr const char* kWearableStatusFile = "WearableStatus.xml";
constexpr const char* kWappListFile = "wapplist.xml";
constexpr const char* kClockListFile = "clocklist.xml";

// The watch's features the end of a new set-up keeps as user defaults of the same name.
constexpr std::string_view kSupportFeatures[] = {
    "support.manage.app",
    "support.app.update",
    "support.esim.activation",
    "support.esim.multiprofile",
    "support.callforward.numbersync",
};

platform::UserDefaults& defaults() {
    return platform::UserDefaults::standard();
}

void synchronizeDefaults() {
    TQUtils::synchronizeDefaults("TQInitSequence");
}

bool isWMSConnected() {
    return defaults().boolean(kIsWMSConnected).value_or(false);
}

// The platform's reading of a value from the watch as a Boolean; missing is false.
bool boolOf(const Value& value) {
    return value.boolValue().value_or(false);
}

// A missing value removes the key, as the platform's dictionaries do.
void setOrRemove(Dictionary& dictionary, std::string key, const Value& value) {
    if (value.isNull()) {
        dictionary.remove(key);
    } else {
        dictionary.set(std::move(key), value);
    }
}

const Value& lookup(const Dictionary& dictionary, std::string_view key) {
    const Value* value = dictionary.find(key);
    return value != nullptr ? *value : Value::null();
}

std::optional<std::string> textOf(const Value& value) {
    if (const std::string* text = value.stringIf()) {
        return *text;
    }
    return std::nullopt;
}

// DeviceStatus/device/deviceFeature of a status document; null when there is none.
Value deviceFeaturesOf(const Value& statusXml) {
    const std::string* xml = statusXml.stringIf();
    if (xml == nullptr) {
        return {};
    }
    const auto document = TQXMLParser::dictionaryForXMLString(*xml);
    if (!document) {
        return {};
    }
    return lookup(*document, "DeviceStatus")["device"]["deviceFeature"];
}

// A feature's text, trimmed; null when the feature is not there.
Value featureText(const Value& deviceFeatures, std::string_view feature) {
    if (const std::string* text = deviceFeatures[feature]["text"].stringIf()) {
        return std::string(TQUtils::trimmedWhiteSpaceAndNewlines(*text));
    }
    return {};
}

// The watch's settings as the settings reply names them, and as the phone keeps them.
constexpr std::pair<const char*, const char*> kUserSettingFields[] = {
    {"notiOnOff", "noti_onoff"},
    {"screenLock", "screen_lock"},
    {"wearOnOff", "wear_onoff"},
};

// The user settings out of a settings reply, or out of what a run kept of one.
Dictionary userSettingsFrom(const Value& source, bool fromReply) {
    Dictionary settings;
    for (const auto& [kept, sent] : kUserSettingFields) {
        setOrRemove(settings, kept, source[fromReply ? sent : kept]);
    }
    return settings;
}

bool succeeded(const Value& message) {
    const std::string* result = message["result"].stringIf();
    return result != nullptr && *result == "success";
}

std::string decimal(std::int64_t number) {
    return std::to_string(number);
}

std::int64_t nowMilliseconds() {
    return TQWallClock::current().millisecondsSince1970();
}

// "yyyy MM dd hh mm ss": the hour of the 12-hour clock, without AM or PM.
std::string formatDateTime(const platform::CivilTime& time) {
    const unsigned hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
    char text[64];
    std::snprintf(text, sizeof text, "%04" PRId64 " %02u %02u %02u %02u %02u", time.year,
                  time.month, time.day, hour12, time.minute, time.second);
    return text;
}

// Floor division, so that times before 1970 fall into the right second.
std::int64_t floorSeconds(std::int64_t milliseconds) {
    return milliseconds >= 0 ? milliseconds / 1000 : -((-milliseconds + 999) / 1000);
}

void logSaveFailure(const platform::Result<void>& saved, std::string_view fileName) {
    if (!saved) {
        LG_ERROR("TQInitSequence: could not save %@: %@", fileName, saved.error().message);
    }
}

// Writes text to the watch's folder; what is not a text, or a watch without a usable model
// number, writes nothing.
void saveXml(const Value& text, const std::optional<std::string>& modelNumber,
             std::string_view fileName) {
    const std::string* xml = text.stringIf();
    if (xml == nullptr || !modelNumber) {
        return;
    }
    logSaveFailure(TQUtils::saveXml(*xml, *modelNumber, fileName), fileName);
}

std::optional<std::string> modelNumberOf(const Dictionary& info) {
    auto modelNumber = textOf(lookup(info, TQUtils::kKavoModelNumber));
    if (modelNumber && modelNumber->empty()) {
        return std::nullopt;
    }
    return modelNumber;
}

std::optional<std::string> storedModelNumber() {
    const auto group = TQUtils::getPreferenceByGroup(TQUtils::kGroupKavoInfo);
    return group ? modelNumberOf(*group) : std::nullopt;
}

}  // namespace

TQInitSequence& TQInitSequence::getInstance(TQAP& kavoManager) {
    TQInitSequence& sequence = installedInstance("TQInitSequence");
    if (&sequence.kavoManager() != &kavoManager) {
        // Its answers would go to another link than the caller's watch.
        std::fputs("TQInitSequence: asked for with a link it does not run over\n", stderr);
        std::abort();
    }
    return sequence;
}

// ---- sending ----

void TQInitSequence::sendReq(const Value& message) {
    const auto data = parser_.encodeToJSON(message);
    if (!data) {
        return;
    }
    kavoManager_.sendData(*data, kRequestPriority, kGeneralAppId, true);
    LG_VERBOSE("TQInitSequence: Init msg sent: %@", message["msgId"]);
}

void TQInitSequence::sendWappsListReq() {
    sendReq(TQHMMessage::toDictionary(TQHMMessage(kWappsListReqSchema),
                                      {"", platform::DeviceInfo::current().localeIdentifier()}));
}

void TQInitSequence::sendSyncInitSettingReq() {
    const auto& device = platform::DeviceInfo::current();
    const std::int64_t now = nowMilliseconds();
    const std::int64_t seconds = floorSeconds(now);
    const platform::TimeZone zone = device.timeZone(seconds);
    const bool showsAmPm = device.showsAmPm();
    LG_VERBOSE("%@\n", showsAmPm ? "NO" : "YES");

    std::int64_t screenOnOff = 0;
    std::int64_t gestureDetail = 1;
    if (isReconnecting_) {
        screenOnOff = defaults().integer("NOTI_TURN_ON_OFF").value_or(screenOnOff);
        gestureDetail = defaults().integer("NOTI_AUTO_SHOW_DETAILS_ON_OFF").value_or(gestureDetail);
    }
    sendReq(TQHMMessage::toDictionary(
        TQHMMessage(kSyncInitSettingReqSchema),
        {zone.name, "yyyy-MM-dd", showsAmPm ? "12" : "24",
         formatDateTime(platform::civilFromSeconds(seconds + zone.secondsFromGMT)), 1,
         device.localeIdentifier(), decimal(now), "false", "", "",
         decimal(zone.secondsFromGMT * 1000), screenOnOff, gestureDetail}));
}

void TQInitSequence::sendAppUserAgreementReq(bool ondra, bool fmdAndFmk, bool errorLog) {
    sendReq(TQHMMessage::toDictionary(TQHMMessage(kAppUserAgreementReqSchema),
                                      {ondra, fmdAndFmk, errorLog}));
}

void TQInitSequence::sendReactivationLockSetReq(std::string_view authCode, std::string_view authURL,
                                                bool isQuorvelDevice) {
    sendReq(TQHMMessage::toDictionary(TQHMMessage(kReactivationLockSetReqSchema),
                                      {authCode, authURL, isQuorvelDevice}));
}

void TQInitSequence::sendReactivationLockUnlockReq(std::string_view authCode,
                                                   std::string_view authURL, bool keepSetting,
                                                   bool isQuorvelDevice) {
    sendReq(TQHMMessage::toDictionary(TQHMMessage(kReactivationLockUnlockReqSchema),
                                      {authCode, authURL, keepSetting, isQuorvelDevice}));
}

void TQInitSequence::processEsimActivationReq(std::string_view result) {
    sendReq(Value{{"msgId", "mgr_esim_activation_req"}, {"result", result}});
}

void TQInitSequence::sendSetupWizardEulaFinishedReq() {
    sendReq(TQHMMessage::toDictionary(TQHMMessage(kSetupWizardEulaFinishedReqSchema),
                                      {platform::DeviceInfo::current().vendorIdentifier()}));
}

void TQInitSequence::reqAppOrderList() {
    sendReq(Value{{"msgId", "mgr_apps_order_req"},
                  {"deviceid", platform::DeviceInfo::current().vendorIdentifier()}});
}

void TQInitSequence::sendGPSStatus() {
    if (!isWMSConnected()) {
        return;
    }
    const auto& location = platform::LocationServices::current();
    const auto authorization = location.authorization();
    const bool status =
        location.servicesEnabled() && (authorization == platform::LocationAuthorization::always ||
                                       authorization == platform::LocationAuthorization::whenInUse);
    sendReq(Value{{"msgId", "mgr_gps_changed_req"}, {"gps", status}});
    LG_VERBOSE("TQInitSequence: Location Status: %@\n", status);
    sendReq(Value{{"msgId", "mgr_wps_changed_req"}, {"wps", status}});
    LG_VERBOSE("TQInitSequence: Location Status: %@\n", status);
}

void TQInitSequence::registerMusicNotification() {
    LG_VERBOSE("TQInitSequence: registerMusicNotification registerMediaPlayerNotifications");
    if (auto* music = TQHandlers::require(handlers_.musicControl, "TQMusicControlHandler",
                                          "registerMediaPlayerNotifications")) {
        music->registerMediaPlayerNotifications();
    }
}

void TQInitSequence::exchangePushSettings() {
    if (auto* push = TQHandlers::require(handlers_.pushNotification, "TQPushNotificationHandler",
                                         "exchangePushSettingsWithKavo")) {
        push->exchangePushSettingsWithKavo();
    }
}

void TQInitSequence::removeAppIcons(const std::optional<std::string>& modelNumber) {
    LG_VERBOSE("TQInitSequence: removeAppIcons");
    // Only the watch being set up: without its model number nothing goes, least of all the
    // icons of the watch before it.
    if (!modelNumber || !TQUtils::isSafePathComponent(*modelNumber)) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(
        platform::Container::current().documents() / *modelNumber / "AppIcons", ignored);
}

// ---- the phone's status document ----

std::string TQInitSequence::modelName() {
    return platform::DeviceInfo::current().machineIdentifier();
}

std::string TQInitSequence::generateHostXml() const {
    const auto& device = platform::DeviceInfo::current();
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DeviceStatus>";
    // A phone name such as "Kim & Lee's <phone>" must leave the document well formed.
    const auto element = [&xml](std::string_view name, std::string_view value) {
        xml.append("\n<").append(name).append(">");
        platform::xml::appendEscapedText(xml, value);
        xml.append("</").append(name).append(">");
    };
    xml += "\n<device>";
    element("deviceID", device.vendorIdentifier());
    element("deviceName", device.name());
    element("devicePlatform", "iOS");
    element("devicePlatformVersion", device.systemVersion());
    element("modelNumber", modelName());
    element("swVersion", "");
    element("salesCode", "");
    element("MCC", "");
    element("MNC", "");
    xml += "\n<deviceFeature>";
    element("vendor", "LO");
    element("support.doublepressing.lastapp", "true");
    xml += "\n</deviceFeature>\n</device>\n</DeviceStatus>";
    return xml;
}

// ---- a run ----

void TQInitSequence::startInit() {
    connectingKavoInfo_ = {};
    isReconnecting_ = false;
    isLocaleChanged_ = false;
    stateDetermined_ = false;
    settingsReceived_ = false;
    runEnded_ = false;
    defaults().set(kIsWMSConnected, 0);
    synchronizeDefaults();
    LG_DEBUG("Kavo Manager : TQInitSequence IS_WMS_CONNECTED FALSE");
    sendReq(TQHMMessage::toDictionary(
        TQHMMessage(kWatchInfoReqSchema),
        {platform::DeviceInfo::current().vendorIdentifier(), "1.0.0", 1}));
}

void TQInitSequence::processResponse(const Value& message) {
    const Value& msgIdValue = message["msgId"];
    LG_VERBOSE("TQInitSequence: Response received: %@", msgIdValue);
    const bool wasConnected = isWMSConnected();
    const std::string msgId = textOf(msgIdValue).value_or("");
    if (msgId == "mgr_watch_info_res") {
        processWatchInfoRes(message);
    }
    if (!wasConnected && !stateDetermined_) {
        LG_VERBOSE("TQInitSequence:  processResponse: State Undetermined");
        return;
    }
    using Handler = void (TQInitSequence::*)(const Value&);
    static constexpr std::pair<std::string_view, Handler> kHandlers[] = {
        {"mgr_wearable_status_ind", &TQInitSequence::processWearableStatusInd},
        {"mgr_status_exchange_done", &TQInitSequence::processStatusExchangeDone},
        {"mgr_wapps_list_res", &TQInitSequence::processWappsListRes},
        {"mgr_clocks_list_res", &TQInitSequence::processClocksListRes},
        {"mgr_sync_init_setting_res", &TQInitSequence::processSyncInitSettingRes},
        {"mgr_app_user_agreement_res", &TQInitSequence::processAppUserAgreementRes},
        {"mgr_reactivationlock_set_res", &TQInitSequence::processReactivationLockSet},
        {"mgr_reactivationlock_unlock_res", &TQInitSequence::processReactivationLockUnlock},
        {"mgr_setupwizard_eula_finished_res", &TQInitSequence::processSetupEulaFinishedRes},
    };
    for (const auto& [name, handler] : kHandlers) {
        if (name == msgId) {
            (this->*handler)(message);
            return;
        }
    }
}

void TQInitSequence::processWatchInfoRes(const Value& message) {
    static constexpr std::pair<const char*, const char*> kIdentityFields[] = {
        {"kavoModelName", "model_name"},
        {"kavoModelNumber", "model_number"},
        {"kavoNuvraVersion", "nuvra_version"},
        {"kavoSalesCode", "sales_code"},
        {"kavoSerial", "serial"},
        {"btMacAddress", "bt_mac_address"},
        {"is_initialed_watch", "is_initialed_watch"},
    };
    for (const auto& [key, field] : kIdentityFields) {
        setOrRemove(connectingKavoInfo_, key, message[field]);
    }
    // Watches report the lock under either name.
    const Value* lock = message.find("is_reactivation_lock");
    if (lock == nullptr) {
        lock = message.find("is_reactivation_locked");
    }
    setOrRemove(connectingKavoInfo_, "is_reactivation_lock", lock != nullptr ? *lock : Value());

    const auto modelNumber = modelNumberOf(connectingKavoInfo_);
    auto read = modelNumber ? TQUtils::readStoredDictionary(*modelNumber, kKavoInfoFile)
                            : platform::Result<std::optional<Dictionary>>(std::nullopt);
    if (!read) {
        // Taken for absent, the identity would have the watch reset and be replaced: the
        // handshake stops undetermined instead, and a later connection tries again.
        LG_ERROR("TQInitSequence: %@ cannot be read, the watch is neither reset nor set up: %@",
                 std::string(kKavoInfoFile), read.error().message);
        return;
    }
    const std::optional<Dictionary> stored = std::move(read).value();

    defaults().set(TQUtils::kKavoSalesCode, message["sales_code"]);
    defaults().set("profile_count", message["profile_count"]);
    synchronizeDefaults();

    const bool factoryState = boolOf(message["is_initialed_watch"]);
    const auto reportedAddress = textOf(message["bt_mac_address"]);
    const bool sameWatch =
        stored && reportedAddress && textOf(lookup(*stored, "btMacAddress")) == reportedAddress;
    // Decided afresh by every watch-information reply: a second one in a run may come from
    // another watch.
    isReconnecting_ = sameWatch && !factoryState;
    const bool needsReset = !sameWatch && !factoryState;
    if (needsReset && !stored) {
        LG_VERBOSE("TQInitSequence: KM First Launch, Kavo has settings, need reset");
    }

    // A stored identity without a usable time stamp gets a fresh one rather than a status
    // indication cut short by the missing field.
    std::optional<std::string> timestamp;
    if (isReconnecting_) {
        timestamp = textOf(lookup(*stored, "timestamp"));
    }
    if (!timestamp) {
        timestamp = decimal(nowMilliseconds());
    }
    connectingKavoInfo_.set("timestamp", *timestamp);
    stateDetermined_ = true;

    if (needsReset) {
        sendReq(TQHMMessage::toDictionary(TQHMMessage(kResetDeviceReqSchema)));
    }
    const bool telephony = platform::AppHost::current().canOpenURL("tel://");
    sendReq(TQHMMessage::toDictionary(
        TQHMMessage(kHostStatusIndSchema),
        {"connect", *timestamp, generateHostXml(), 0, telephony ? "true" : "false"}));
}

void TQInitSequence::processWearableStatusInd(const Value& message) {
    if (textOf(message["type"]) != "connect") {
        return;
    }
    const Value& data = message["data"];
    const Value voiceCall = featureText(deviceFeaturesOf(data), "voicecall");
    LG_VERBOSE("TQInitSequence: Connecting Kavo (Voice Call) :%@", voiceCall);
    setOrRemove(connectingKavoInfo_, "voiceCall", voiceCall);
    setOrRemove(connectingKavoInfo_, kWearableStatusFile, data);
    defaults().set("voiceCall", voiceCall);
    synchronizeDefaults();
    sendWappsListReq();
}

void TQInitSequence::processStatusExchangeDone(const Value& /*message*/) {
    const std::string locale = platform::DeviceInfo::current().localeIdentifier();
    if (defaults().string("currentLocale") == locale) {
        sendSyncInitSettingReq();
        return;
    }
    LG_VERBOSE("TQInitSequence: Reconnecting & Locale Changed");
    isLocaleChanged_ = true;
    sendWappsListReq();
}

void TQInitSequence::keepList(const Value& message, std::string_view fileName) {
    const Value& list = message["clocklist"];
    if (isWMSConnected()) {
        saveXml(list, storedModelNumber(), fileName);
        return;
    }
    if (isLocaleChanged_) {
        // The connecting watch's own folder: the stored group may still name the watch before.
        saveXml(list, modelNumberOf(connectingKavoInfo_), fileName);
    }
    setOrRemove(connectingKavoInfo_, std::string(fileName), list);
}

void TQInitSequence::processWappsListRes(const Value& message) {
    keepList(message, kWappListFile);
    sendReq(TQHMMessage::toDictionary(TQHMMessage(kClocksListReqSchema), {""}));
}

void TQInitSequence::processClocksListRes(const Value& message) {
    keepList(message, kClockListFile);
    if (isWMSConnected()) {
        LG_VERBOSE("TQInitSequence: system restore and only locale change");
        return;
    }
    defaults().set("currentLocale", platform::DeviceInfo::current().localeIdentifier());
    synchronizeDefaults();
    sendSyncInitSettingReq();
}

void TQInitSequence::processSyncInitSettingRes(const Value& message) {
    defaults().set("number_sync_state", boolOf(message["Numbersync_onoff"]));
    defaults().set("number_sync_register", boolOf(message["Numbersync_registered"]));
    synchronizeDefaults();
    if (auto* numberSync = TQHandlers::require(handlers_.numberSync, "TQNumberSyncHandler",
                                               "updateBlockAppForNumberSync")) {
        numberSync->updateBlockAppForNumberSync();
    }
    // The settings request may go out twice in a run; the second answer must not end the run
    // again or move the screens on a second time.
    if (settingsReceived_ || runEnded_) {
        return;
    }
    settingsReceived_ = true;
    if (isReconnecting_) {
        finishReconnection(message);
    } else {
        for (auto& [key, value] : userSettingsFrom(message, true)) {
            connectingKavoInfo_.set(key, value);
        }
        connectingKavoInfo_.set("noti_indicator", boolOf(message["noti_indicator"]));
    }
    if (delegate_ != nullptr) {
        delegate_->onSyncInitSettingRes(isReconnecting_);
    }
}

void TQInitSequence::storeIdentity(const Dictionary& userSettings, const Value& indicator,
                                   const Value& voiceCall) {
    const auto modelNumber = modelNumberOf(connectingKavoInfo_);
    defaults().set("NOTI_INDICATOR_ON_OFF", boolOf(indicator));
    synchronizeDefaults();
    if (modelNumber) {
        logSaveFailure(TQUtils::saveDictionary(userSettings, *modelNumber, kUserSettingsFile),
                       kUserSettingsFile);
    }

    Dictionary identity;
    for (const char* key :
         {"btMacAddress", "kavoModelName", "kavoModelNumber", "kavoNuvraVersion", "kavoSalesCode",
          "kavoSerial", "is_initialed_watch", "is_reactivation_lock"}) {
        setOrRemove(identity, key, lookup(connectingKavoInfo_, key));
    }
    setOrRemove(identity, "voiceCall", voiceCall);
    setOrRemove(identity, "timestamp", lookup(connectingKavoInfo_, "timestamp"));
    if (modelNumber) {
        logSaveFailure(TQUtils::saveDictionary(identity, *modelNumber, kKavoInfoFile),
                       kKavoInfoFile);
    }

    connectingKavoInfo_ = {};
    if (modelNumber) {
        TQUtils::setPreferenceByGroup(TQUtils::kGroupKavoInfo, identity);
        const auto name = textOf(lookup(identity, "kavoModelName"));
        const auto deviceMac = name ? TQUtils::getDeviceMacFromName(*name) : std::nullopt;
        defaults().set("deviceMac", deviceMac ? Value(*deviceMac) : Value());
    }
}

void TQInitSequence::markConnected(const Dictionary& userSettings) {
    TQUtils::setPreferenceByGroup(TQUtils::kGroupUserSettings, userSettings);
    defaults().set(kIsWMSConnected, 1);
    runEnded_ = true;
}

void TQInitSequence::startConnectedWork(bool checkForUpdate) {
    reqAppOrderList();
    sendGPSStatus();
    registerMusicNotification();
    if (checkForUpdate && defaults().string("support.app.update") == "true") {
        LG_VERBOSE("TQInitSequence:  Check For Kavo App Update");
        if (auto* store = TQHandlers::require(handlers_.store, "TQStoreHandler", "checkUpdate")) {
            store->checkUpdate();
        }
    }
    exchangePushSettings();
}

void TQInitSequence::finishReconnection(const Value& settings) {
    const Dictionary userSettings = userSettingsFrom(settings, true);
    // The identity keeps the voice-call feature of the first set-up.
    const auto modelNumber = modelNumberOf(connectingKavoInfo_);
    const auto before =
        modelNumber ? TQUtils::retrieveDictionary(*modelNumber, kKavoInfoFile) : std::nullopt;
    storeIdentity(userSettings, settings["noti_indicator"],
                  before ? lookup(*before, "voiceCall") : Value());

    markConnected(userSettings);
    synchronizeDefaults();
    LG_DEBUG("Kavo Manager : TQInitSequence IS_WMS_CONNECTED TRUE");
    startConnectedWork(true);
}

void TQInitSequence::processSetupEulaFinishedRes(const Value& message) {
    // Only the first answer of a run stores the set-up; a repeat would store an empty one.
    if (runEnded_) {
        LG_WARN("TQInitSequence: set-up already stored, answer passed on only");
    } else {
        finishNewSetUp();
    }
    if (delegate_ != nullptr) {
        delegate_->onSetupWizardEulaFinishedRes(succeeded(message), message["reason"],
                                                isReconnecting_);
    }
}

void TQInitSequence::finishNewSetUp() {
    const auto modelNumber = modelNumberOf(connectingKavoInfo_);
    const Value statusXml = lookup(connectingKavoInfo_, kWearableStatusFile);
    saveXml(statusXml, modelNumber, kWearableStatusFile);
    saveXml(lookup(connectingKavoInfo_, kWappListFile), modelNumber, kWappListFile);
    saveXml(lookup(connectingKavoInfo_, kClockListFile), modelNumber, kClockListFile);

    const Dictionary userSettings = userSettingsFrom(Value(connectingKavoInfo_), false);
    storeIdentity(userSettings, lookup(connectingKavoInfo_, "noti_indicator"),
                  lookup(connectingKavoInfo_, "voiceCall"));

    if (!isReconnecting_) {
        LG_VERBOSE("TQInitSequence: Resetting Block App List");
        defaults().remove("BLOCKED_APPS_LIST");
        synchronizeDefaults();
        if (auto* store = TQHandlers::require(handlers_.store, "TQStoreHandler",
                                              "the new watch's default settings")) {
            store->defaultBlockAppList();
            store->defaultWeatherSettings();
        }
        removeAppIcons(modelNumber);
        defaults().set("isPushSettingsExchanged", 0);
    }

    // Read from the status this run received: the file may not have been written, and an
    // older watch's file must not stand in for it.
    const Value deviceFeatures = deviceFeaturesOf(statusXml);
    Value features[std::size(kSupportFeatures)];
    for (std::size_t i = 0; i < std::size(kSupportFeatures); ++i) {
        features[i] = featureText(deviceFeatures, kSupportFeatures[i]);
    }
    LG_VERBOSE(
        "TQInitSequence: SUPPORT_MANAGE_APP: [%@]  SUPPORT_APP_UPDATE: [%@] "
        "SUPPORT_ESIM_ACTIVATION: [%@] SUPPORT_ESIM_MULTIPROFILE: [%@] SUPPORT_NUMBERSYNC: [%@]",
        features[0], features[1], features[2], features[3], features[4]);
    for (std::size_t i = 0; i < std::size(kSupportFeatures); ++i) {
        defaults().set(kSupportFeatures[i], features[i]);
    }

    markConnected(userSettings);
    defaults().set("sync_app_icon_flag", 0);
    synchronizeDefaults();
    platform::NotificationCenter::defaultCenter().post("OOBECompletionNoti", nullptr);
    LG_DEBUG("Kavo Manager : TQInitSequence OOBE Completed , IS_WMS_CONNECTED TRUE");
    startConnectedWork(false);
}

// ---- answers to the setup screens' requests ----

void TQInitSequence::processAppUserAgreementRes(const Value& message) {
    if (delegate_ != nullptr) {
        delegate_->onAppUserAgreementRes(
            succeeded(message), boolOf(lookup(connectingKavoInfo_, "is_reactivation_lock")),
            message["reason"]);
    }
}

void TQInitSequence::processReactivationLockSet(const Value& message) {
    if (delegate_ != nullptr) {
        delegate_->onReactivationLockSetRes(succeeded(message), message["reason"]);
    }
}

void TQInitSequence::processReactivationLockUnlock(const Value& message) {
    if (delegate_ != nullptr) {
        delegate_->onReactivationLockUnlockRes(succeeded(message), message["reason"]);
    }
}
