#include "listener/TQPhoneScreens.h"

#include <string>

#include "listener/TQCoreManager.h"
#include "listener/TQGeneralReply.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/AppHost.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/host/URLOpener.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

bool isApplicationActive() {
    return platform::AppHost::current().applicationState() == platform::ApplicationState::active;
}

// Pushes screen on the navigation on top unless it already shows there.
void pushUnlessShowing(std::string_view screen) {
    auto& navigator = platform::ScreenNavigator::current();
    if (navigator.topNavigationScreen() != screen) {
        navigator.pushScreen(screen, true);
    }
}

std::string replacingAll(std::string text, std::string_view pattern, std::string_view with) {
    for (auto at = text.find(pattern); at != std::string::npos;
         at = text.find(pattern, at + with.size())) {
        text.replace(at, pattern.size(), with);
    }
    return text;
}

void notify(double fireDelay, std::string_view bodyKey, std::string_view subjectKey,
            platform::Dictionary info) {
    platform::LocalNotification notification;
    notification.fireDelay = fireDelay;
    notification.title = TQLocalization::localizedString("Quorvel Kavo");
    notification.body = replacingAll(TQLocalization::localizedString(bodyKey), "%s",
                                     TQLocalization::localizedString(subjectKey));
    notification.defaultSound = true;
    notification.userInfo = std::move(info);
    platform::AppHost::current().scheduleLocalNotification(notification);
}

}  // namespace

void TQBuddyScreens::launchBuddyView() {
    if (!isApplicationActive()) {
        LG_VERBOSE("Show Buddy Notification");
        notify(kBuddyNotificationDelay, "WDS_WMGR_SBODY_VIEW_PS_SETTINGS_ON_YOUR_PHONE_ABB",
               "Buddy", platform::Dictionary{{"actionToHandle", "buddyAction"}});
    } else {
        LG_VERBOSE("Open Buddy Setting View");
        pushUnlessShowing(kBuddyScreen);
    }
    sendGeneralReply(kavoManager_,
                     Value{{"msgId", "contacts-launchbuddy-rsp"}, {"requestId", "0"}});
}

void TQBuddyScreens::launchGeneralMessage() {
    LG_DEBUG("%s", "launchGeneralMessage");
    if (!TQCoreManager::isWMSConnected()) {
        LG_DEBUG("%s isWMSConnected(NO)", "launchGeneralMessage");
        return;
    }
    pushUnlessShowing(kGeneralMessagesScreen);
    sendGeneralReply(kavoManager_, Value{{"msgId", "mgr_show_on_device_res"},
                                         {"reason", 0},
                                         {"result", "success"},
                                         {"data", "texttemplate_setting"}});
}

bool TQWebSearch::isOpenableLink(std::string_view text) {
    const std::string scheme = platform::urlScheme(text);
    return platform::looksLikeURL(text) && (scheme == "http" || scheme == "https");
}

void TQWebSearch::processContextWebsearch(const Value& message) {
    // What the user searched for stays out of the log, which the journal keeps for other users.
    LG_INFO("CONTEXT_NAME: %@, CONTEXT_URL: %@",
            lg::presence(message["name"].stringIf() != nullptr),
            lg::presence(message["url"].stringIf() != nullptr));
    const std::string* url = message["url"].stringIf();
    if (url == nullptr || !isOpenableLink(*url)) {
        LG_WARN("TQWebSearch: %@ is not a web link, not opened", lg::presence(url != nullptr));
        return;
    }
    if (isApplicationActive()) {
        platform::RunLoop::main().post(
            [link = *url] { platform::AppHost::current().openURL(link); });
        return;
    }
    notify(0, "WDS_WMGR_SBODY_VIEW_PS_ON_YOUR_PHONE", "IDS_COM_BODY_WEBSITE",
           *message.dictionaryIf());
}

void TQHFPRequest::processHFPConnectRequest() {
    if (isApplicationActive()) {
        // The host is the screens' thread's; the dispatch does not wait for the settings.
        platform::RunLoop::main().post(
            [] { platform::AppHost::current().openURL(kBluetoothSettings); });
    } else {
        TQUtils::createHFPNotification();
    }
}
