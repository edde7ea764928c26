#include "services/TQWeatherUtil.h"

#include <utility>

#include "link/TQKMCommand.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

constexpr std::uint32_t kWeatherAppId = 5;
constexpr const char* kUnit = "WEATHER_UNIT";
constexpr const char* kRefreshTime = "WEATHER_REFRESH_TIME";
constexpr const char* kUseCurrentLocation = "WEATHER_USE_CURRENT_LOCATION";
constexpr const char* kCurrentCity = "WEATHER_CURRENT_CITY";
constexpr double kNotificationDelay = 1.0;

void send(TQAP& ap, const Value& message) {
    TQKMCommand::processOutCommand(&ap, message, kWeatherAppId, TQKMCommand::kNormalPriority);
}

std::string replacingAll(std::string text, std::string_view pattern, std::string_view with) {
    for (auto at = text.find(pattern); at != std::string::npos;
         at = text.find(pattern, at + with.size())) {
        text.replace(at, pattern.size(), with);
    }
    return text;
}

}  // namespace

int TQWeatherUtil::defaultUnit() {
    return TQUtils::isCarrierTypeUSA() ? 0 : 1;
}

std::string TQWeatherUtil::sequenceText() {
    return std::to_string(TQWallClock::current().millisecondsSince1970());
}

void TQWeatherUtil::processWeatherAck(TQAP& ap) {
    send(ap, Value{{"WEATHER_ACK_SEQ", sequenceText()}});
    LG_VERBOSE("WEATHER_ACK_SEQ Response From KM");
}

void TQWeatherUtil::sendSettingData(TQAP& ap) {
    auto& defaults = platform::UserDefaults::standard();
    auto unit = defaults.integer(kUnit);
    auto refresh = defaults.integer(kRefreshTime);
    const bool useLocation = defaults.boolean(kUseCurrentLocation).value_or(false);
    if (!unit) {
        unit = defaultUnit();
        defaults.set(kUnit, *unit);
        TQUtils::synchronizeDefaults("TQWeatherUtil");
    }
    if (!refresh) {
        refresh = kDefaultRefreshHours;
        defaults.set(kRefreshTime, *refresh);
        TQUtils::synchronizeDefaults("TQWeatherUtil");
    }
    const Value message{
        {"SETTING_INFO", Value{{"SETTING_TEMP_SCALE", *unit},
                               {"SETTING_AUTO_REFRESH_TIME", *refresh},
                               {"SETTING_CHECK_CURRENT_CITY_LOCATION", useLocation}}},
        {"WEATHER_ACK_SEQ", sequenceText()}};
    LG_VERBOSE("TQWeatherUtil: sendSettingData %@", lg::redacted(message));
    send(ap, message);
}

void TQWeatherUtil::createWeatherNotification() {
    platform::LocalNotification notification;
    notification.fireDelay = kNotificationDelay;
    notification.title = TQLocalization::localizedString("Quorvel Kavo");
    notification.body = replacingAll(
        TQLocalization::localizedString("WDS_WMGR_SBODY_VIEW_PS_SETTINGS_ON_YOUR_PHONE_ABB"), "%s",
        TQLocalization::localizedString("WDS_AW_HEADER_WEATHER_ABB"));
    notification.defaultSound = true;
    notification.userInfo = platform::Dictionary{{"actionToHandle", "weatherAction"}};
    platform::AppHost::current().scheduleLocalNotification(notification);
}

void TQWeatherUtil::initializeWeatherDataIfIsNeedToDelete(bool needToDelete) {
    if (!needToDelete) {
        return;
    }
    auto& defaults = platform::UserDefaults::standard();
    defaults.remove(kCurrentCity);
    defaults.set(kUseCurrentLocation, false);
    defaults.set(kRefreshTime, kDefaultRefreshHours);
    defaults.set(kUnit, defaultUnit());
    TQUtils::synchronizeDefaults("TQWeatherUtil");
}
