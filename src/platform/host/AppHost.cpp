#include "platform/host/AppHost.h"

#include <string>

#include "platform/host/HostDefaults.h"
#include "platform/host/URLOpener.h"

namespace platform {

ApplicationState HeadlessAppHost::applicationState() const {
    return ApplicationState::active;
}

LayoutDirection HeadlessAppHost::userInterfaceLayoutDirection() const {
    return LayoutDirection::leftToRight;
}

void HeadlessAppHost::scheduleLocalNotification(const LocalNotification& notification) {
    host_detail::writeHeadlessLine("notification", notification.title + ": " + notification.body);
}

bool HeadlessAppHost::openURL(std::string_view url) {
    if (opener_.open(url)) {
        return true;
    }
    host_detail::writeHeadlessLine("cannot open", url);
    return false;
}

bool AppHost::canOpenURL(std::string_view url) const {
    // This machine has a web browser and nothing else of the phone's: no dialler, no store.
    const std::string scheme = urlScheme(url);
    return scheme == "http" || scheme == "https";
}

AlertIdentifier AppHost::showAlert(Alert alert) {
    host_detail::writeHeadlessLine("alert", alert.title + ": " + alert.message);
    return kAlertNone;
}

BackgroundTaskIdentifier AppHost::beginBackgroundTask(std::string_view /*name*/,
                                                      std::function<void()> /*expirationHandler*/) {
    // Never suspended, so the time never runs out and one identifier serves every task.
    return 1;
}

void AppHost::endBackgroundTask(BackgroundTaskIdentifier /*identifier*/) {}

AppHost& AppHost::current() {
    return installedOr([]() -> AppHost& {
        static HeadlessAppHost headless;
        return headless;
    });
}

}  // namespace platform
