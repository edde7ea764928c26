#include "services/TQPushNotification.h"

#include <string>
#include <string_view>

#include "link/TQKMCommand.h"
#include "listener/TQCoreManager.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/DeviceInfo.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

constexpr const char* kDeviceToken = "APNSDeviceToken";
constexpr const char* kTimeStamp = "QPPTimeStamp";
constexpr const char* kExchanged = "isPushSettingsExchanged";

std::string vendorIdentifier() {
    return platform::DeviceInfo::current().vendorIdentifier();
}

// The paired watch's Bluetooth address; nothing when none is stored as text.
std::optional<std::string> pairedWatchAddress() {
    const auto group = TQUtils::getPreferenceByGroup(TQUtils::kGroupKavoInfo);
    if (!group) {
        return std::nullopt;
    }
    const Value* address = group->find("btMacAddress");
    if (address == nullptr || address->stringIf() == nullptr) {
        return std::nullopt;
    }
    return *address->stringIf();
}

}  // namespace

TQPushNotification::TQPushNotification(TQAP& kavoManager, platform::push::PushService& pushService)
    : kavoManager_(kavoManager), pushService_(pushService) {}

std::string TQPushNotification::hexToken(std::span<const std::uint8_t> token) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(token.size() * 2);
    for (const std::uint8_t byte : token) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

void TQPushNotification::registerForPushNotification() {
    pushService_.registerForRemoteNotifications(
        [this](std::span<const std::uint8_t> token) { onReceiveDeviceToken(token); },
        [this](const platform::Error& error) { onReceiveRegistrationError(error); });
}

void TQPushNotification::onReceiveDeviceToken(std::span<const std::uint8_t> token) {
    if (token.empty()) {
        return;
    }
    const std::string received = hexToken(token);
    auto& defaults = platform::UserDefaults::standard();
    const auto stored = defaults.string(kDeviceToken);
    LG_VERBOSE("TQPushNotification: received token: %@ stored token: %@", lg::presence(received),
               lg::presence(stored));
    if (stored == received) {
        return;
    }
    defaults.set(kDeviceToken, received);
    TQUtils::synchronizeDefaults("TQPushNotification");
    exchangePushSettingsWithKavo();
}

void TQPushNotification::onReceiveRegistrationError(const platform::Error& error) {
    LG_ERROR("TQPushNotification: Error in registration for push notification. Error: %@",
             error.message);
}

void TQPushNotification::exchangePushSettingsWithKavo() {
    auto& defaults = platform::UserDefaults::standard();
    if (!defaults.string(kDeviceToken)) {
        LG_VERBOSE("TQPushNotification: exchangePushSettingsWithKavo Device token does not exist");
        registerForPushNotification();
        return;
    }
    if (!TQCoreManager::isWMSConnected()) {
        LG_VERBOSE("TQPushNotification: IS_WMS_CONNECTED IS_PUSH_SETTINGS_EXCHANGED FALSE");
        return;
    }
    if (!defaults.boolean(kExchanged).value_or(false)) {
        sendPushType();
        sendKMRegID();
        return;
    }
    LG_VERBOSE("TQPushNotification: exchangePushSettingsWithKavo IS_PUSH_SETTINGS_EXCHANGED TRUE");
}

void TQPushNotification::processNotification(const Value& payload) {
    LG_VERBOSE("TQPushNotification: processNotification %@", lg::redacted(payload));
    if (!TQCoreManager::isWMSConnected()) {
        LG_VERBOSE("TQPushNotification: processNotification IS_WMS_CONNECTED FALSE");
        return;
    }
    // Every level is checked: what is not shaped like a push for a watch is for another one.
    const Value* message = payload.isDictionary() ? payload.find("message") : nullptr;
    const Value* kavoId =
        message != nullptr && message->isDictionary() ? message->find("kavoID") : nullptr;
    const std::string* id = kavoId != nullptr ? kavoId->stringIf() : nullptr;
    const auto at = id != nullptr ? id->find('@') : std::string::npos;
    const std::string kavoMac = at != std::string::npos ? id->substr(at + 1) : std::string();
    const auto currentMac = pairedWatchAddress();
    if (at == std::string::npos || !currentMac || kavoMac != *currentMac) {
        LG_VERBOSE("Notification addressed for different KavoMAC: %@ currentKavoMAC: %@",
                   id != nullptr ? *id : std::string("(null)"), currentMac.value_or("(null)"));
        return;
    }
    const auto text = platform::json::write(payload);
    auto& defaults = platform::UserDefaults::standard();
    if (const Value* stamp = message->find("timestamp")) {
        defaults.set(kTimeStamp, *stamp);
    } else {
        defaults.remove(kTimeStamp);
    }
    TQUtils::synchronizeDefaults("TQPushNotification");
    send(Value{{"msgId", "mgr_push_message_timestamp_req"},
               {"deviceid", vendorIdentifier()},
               {"pushTimestamp", text.ok() ? text.value() : std::string()}});
}

void TQPushNotification::sendPushType() {
    send(Value{{"msgId", "mgr_push_service_type_req"},
               {"deviceid", vendorIdentifier()},
               {"pushServiceType", kPushServiceType}});
}

void TQPushNotification::sendKMRegID() {
    send(Value{{"msgId", "mgr_push_km_reg_id_req"},
               {"deviceid", vendorIdentifier()},
               {"kmRegistrationId",
                platform::UserDefaults::standard().string(kDeviceToken).value_or("")}});
}

void TQPushNotification::send(const Value& message) {
    TQKMCommand::processOutCommand(&kavoManager_, message, TQKMCommand::kGeneralAppId,
                                   TQKMCommand::kNormalPriority);
}
