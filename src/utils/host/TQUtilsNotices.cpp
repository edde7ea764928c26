#include <utility>

#include "logging/LGLog.h"
#include "platform/host/AppHost.h"
#include "platform/host/Banner.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

using platform::Dictionary;

namespace {

constexpr double kNotificationDelay = 1.0;

std::string replacingAll(std::string text, std::string_view pattern, std::string_view with) {
    for (auto at = text.find(pattern); at != std::string::npos;
         at = text.find(pattern, at + with.size())) {
        text.replace(at, pattern.size(), with);
    }
    return text;
}

void scheduleNotification(std::string body, Dictionary userInfo) {
    platform::LocalNotification notification;
    notification.fireDelay = kNotificationDelay;
    notification.title = TQLocalization::localizedString("Quorvel Kavo R5");
    notification.body = std::move(body);
    notification.defaultSound = true;
    notification.userInfo = std::move(userInfo);
    platform::AppHost::current().scheduleLocalNotification(notification);
}

}  // namespace

void TQUtils::showToast(std::string_view message) {
    platform::Banner banner;
    banner.text = std::string(message);
    banner.textAlignment = platform::TextAlignment::center;
    banner.backgroundColor = platform::Color{237 / 255.0, 110 / 255.0, 43 / 255.0, 1.0};
    banner.animationInDirection = platform::BannerDirection::top;
    banner.animationOutDirection = platform::BannerDirection::bottom;
    banner.timeInterval = 2.0;
    banner.kind = platform::BannerKind::navigationBar;
    banner.presentation = platform::BannerPresentation::push;
    banner.interactionResponders.push_back(platform::BannerInteractionResponder{
        platform::banner_interaction::anyTap, true, [](int interactionType) {
            const auto name = platform::banner_interaction::name(interactionType);
            LG_VERBOSE("Dismissed with %@ interaction", name.value_or("(null)"));
        }});
    platform::BannerPresenter::current().showBanner(std::move(banner),
                                                    [] { LG_VERBOSE("BNToast completed"); });
}

void TQUtils::createHFPNotification() {
    scheduleNotification(
        replacingAll(
            TQLocalization::localizedString("WDS_WMGR_SBODY_VIEW_PS_SETTINGS_ON_YOUR_PHONE_ABB"),
            "%s", TQLocalization::localizedString("WDS_ST_MBODY_CALL_AUDIO_ABB")),
        Dictionary{{"actionToHandle", "hfpAction"}});
}

void TQUtils::createNumberSyncNotification(std::string_view result) {
    LG_VERBOSE("%s", __func__);
    scheduleNotification(
        TQLocalization::localizedString(
            result == "success"
                ? "WDS_ST_TPOP_NUMBERSYNC_ENABLED_ABB_ATNT"
                : "WDS_STU_POP_UNABLE_TO_SET_UP_NUMBERSYNC_PLEASE_TRY_AGAIN_LATER_ATNT"),
        Dictionary{{"actionToHandle", "numberSyncAction"}});
}

void TQUtils::createKavoAppsWebNotification(std::string_view link) {
    scheduleNotification(
        replacingAll(TQLocalization::localizedString("WDS_WMGR_SBODY_VIEW_PS_ON_YOUR_PHONE"), "%s",
                     getQuorvelKavoAppsTitle()),
        Dictionary{{"actionToHandle", "kavoAppsWeb"}, {"KavoAppsURILink", std::string(link)}});
}
