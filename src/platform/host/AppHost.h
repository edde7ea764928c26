#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Value.h"
#include "platform/host/URLOpener.h"

namespace platform {

class DesktopNotifier;
class LocalNotifications;
class RunLoop;

// The values the phone platform uses, so that logs and tests read the same numbers.
enum class ApplicationState { active = 0, inactive = 1, background = 2 };

enum class LayoutDirection { leftToRight = 0, rightToLeft = 1 };

// Names a stretch of work the application asked to finish while in the background.
using BackgroundTaskIdentifier = std::uint64_t;
inline constexpr BackgroundTaskIdentifier kBackgroundTaskInvalid = 0;

// A notification shown by the system while the application is not in front. userInfo tells
// the application what to do when the user opens it.
struct LocalNotification {
    double fireDelay = 0;  // seconds after it is scheduled
    std::string title;
    std::string body;
    std::optional<std::string> alertAction;
    bool defaultSound = true;
    Dictionary userInfo;
};

// A modal alert over the application's window until the user presses one of its buttons or
// the application takes it away.
struct Alert {
    std::string title;
    std::string message;
    std::vector<std::string> buttons;
    // The index of the button pressed, on the main thread, once the alert is gone.
    std::function<void(std::size_t button)> pressed;
};

// Names a shown alert; kAlertNone is an alert nobody sees.
using AlertIdentifier = std::uint64_t;
inline constexpr AlertIdentifier kAlertNone = 0;

// Life-cycle notifications the host posts on NotificationCenter::defaultCenter().
inline constexpr const char* kApplicationDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification =
    "UIApplicationWillTerminateNotification";
inline constexpr const char* kApplicationWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";

// The application as the system around it sees it: its state, the notifications it raises
// and the links it hands over. The only road from core code to the system's user interface;
// only the host that carries the screens implements it. Called on the main thread.
class AppHost : public Replaceable<AppHost> {
public:
    virtual ~AppHost() = default;

    [[nodiscard]] virtual ApplicationState applicationState() const = 0;
    [[nodiscard]] virtual LayoutDirection userInterfaceLayoutDirection() const = 0;
    virtual void scheduleLocalNotification(const LocalNotification& notification) = 0;
    // Whether some application took the link.
    virtual bool openURL(std::string_view url) = 0;
    // Whether some application would take a link of this kind; the default knows the web's.
    [[nodiscard]] virtual bool canOpenURL(std::string_view url) const;
    // Shows an alert. A host without screens writes it to standard error and nobody can press
    // its buttons: kAlertNone.
    virtual AlertIdentifier showAlert(Alert alert);
    // Takes an alert away without a button pressed; nothing for one that is gone.
    virtual void dismissAlert(AlertIdentifier /*identifier*/) {}
    // Keeps the phone's media controls routed to the application.
    virtual void beginReceivingRemoteControlEvents() {}
    // The small indicator of network activity in the window's top bar. A host without a
    // window has nowhere to show it: nothing happens and it reads as hidden.
    virtual void setNetworkActivityIndicatorVisible(bool /*visible*/) {}
    [[nodiscard]] virtual bool isNetworkActivityIndicatorVisible() const { return false; }
    // What runs, on the main thread with the notification's userInfo, when the user opens a
    // local notification this host showed (or presses one of its actions). A host that shows
    // none never calls it.
    virtual void onLocalNotificationOpened(std::function<void(const Dictionary& userInfo)> opened) {
        (void)opened;
    }

    // Asks for time to finish work while in the background. When the time is up the host calls
    // expirationHandler on the main thread, unless the task was ended first; the handler must
    // end the task. A host that never suspends the application gives every task all the time
    // it needs, which is what these defaults do.
    virtual BackgroundTaskIdentifier beginBackgroundTask(std::string_view name,
                                                         std::function<void()> expirationHandler);
    virtual void endBackgroundTask(BackgroundTaskIdentifier identifier);

    // The installed host, else a headless one that is always active and left-to-right, hands
    // links to the desktop's opener (SpawningURLOpener) and writes what it cannot show to
    // standard error.
    static AppHost& current();
};

// The host of a program without screens: always active and left-to-right; links go to the
// desktop's opener, but for the phone's settings pages ("prefs:", "app-settings:"), which it
// cannot open. Local notifications go to the desktop's notification service when it is
// given one; what it cannot show goes to standard error.
class HeadlessAppHost final : public AppHost {
public:
    HeadlessAppHost();
    // Notifications are shown by notifier once due on loop; both outlive the host.
    HeadlessAppHost(RunLoop& loop, DesktopNotifier& notifier);
    ~HeadlessAppHost() override;
    HeadlessAppHost(const HeadlessAppHost&) = delete;
    HeadlessAppHost& operator=(const HeadlessAppHost&) = delete;

    [[nodiscard]] ApplicationState applicationState() const override;
    [[nodiscard]] LayoutDirection userInterfaceLayoutDirection() const override;
    void scheduleLocalNotification(const LocalNotification& notification) override;
    void onLocalNotificationOpened(std::function<void(const Dictionary& userInfo)> opened) override;
    bool openURL(std::string_view url) override;

private:
    SpawningURLOpener opener_;
    std::unique_ptr<LocalNotifications> notifications_;
};

}  // namespace platform
