#include "platform/host/AppHost.h"

#include <string>

#include "platform/host/HostDefaults.h"
#include "platform/host/URLOpener.h"

namespace platform {

namespace {

class HeadlessAppHost final : public AppHost {
public:
    ApplicationState applicationState() const override { return ApplicationState::active; }
    LayoutDirection userInterfaceLayoutDirection() const override {
        return LayoutDirection::leftToRight;
    }
    void scheduleLocalNotification(const LocalNotification& notification) override {
        host_detail::writeHeadlessLine("notification",
                                       notification.title + ": " + notification.body);
    }
    bool openURL(std::string_view url) override {
        if (opener_.open(url)) {
            return true;
        }
        host_detail::writeHeadlessLine("cannot open", url);
        return false;
    }

private:
    SpawningURLOpener opener_;
};

}  // namespace

bool AppHost::canOpenURL(std::string_view url) const {
    // This machine has a web browser and nothing else of the phone's: no dialler, no store.
    const std::string scheme = urlScheme(url);
    return scheme == "http" || scheme == "https";
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
