#include "platform/host/AppHost.h"

#include <string>
#include <utility>

#include "platform/host/BluetoothSettings.h"
#include "platform/host/HostDefaults.h"
#include "platform/host/LocalNotifications.h"
#include "platform/host/URLOpener.h"

namespace platform {

namespace {

void writeNotificationLine(const LocalNotification& notification) {
    // The title and body are what a notice shows anyone; userInfo stays out of the line.
    host_detail::writeHeadlessLine("notification", notification.title + ": " + notification.body);
}

}  // namespace

HeadlessAppHost::HeadlessAppHost() = default;

HeadlessAppHost::HeadlessAppHost(RunLoop& loop, DesktopNotifier& notifier)
    : notifications_(std::make_unique<LocalNotifications>(
          loop, notifier, [](const LocalNotification& notification, const Error& why) {
              host_detail::writeHeadlessLine("notification not shown", why.message);
              writeNotificationLine(notification);
          })) {}

HeadlessAppHost::~HeadlessAppHost() = default;

ApplicationState HeadlessAppHost::applicationState() const {
    return ApplicationState::active;
}

LayoutDirection HeadlessAppHost::userInterfaceLayoutDirection() const {
    return LayoutDirection::leftToRight;
}

void HeadlessAppHost::scheduleLocalNotification(const LocalNotification& notification) {
    if (notifications_ != nullptr) {
        notifications_->schedule(notification);
        return;
    }
    writeNotificationLine(notification);
}

void HeadlessAppHost::onLocalNotificationOpened(
    std::function<void(const Dictionary& userInfo)> opened) {
    if (notifications_ != nullptr) {
        notifications_->onOpened(std::move(opened));
    }
}

bool HeadlessAppHost::openURL(std::string_view url) {
    // The phone's settings pages are pages of a window; the desktop's opener would only hand
    // such a link to whatever claims the scheme.
    if (!isSettingsURL(url) && opener_.open(url)) {
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
