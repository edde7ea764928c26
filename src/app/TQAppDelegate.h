#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/host/AppHost.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/LifeCycle.h"
#include "platform/ui/Navigation.h"
#include "platform/ui/Window.h"
#include "ui/TQPopUpviewUtils.h"

namespace platform {
class NotificationCenter;
class RunLoop;
class Timer;
class UserDefaults;
}  // namespace platform
class TQPushNotification;
class TQStoryboard;

// The application delegate of the program with a window: the launch, in its order, on what
// the composition root hands it; the life cycle the window reports; URLs and opened
// notifications that lead to screens; and the one way the window's root screen is replaced.
// It keeps its window's root, the main navigation the home and terms screens give it, and
// its alerts. Main thread only; everything in its environment outlives it.
class TQAppDelegate {
public:
    // Alert tags, told apart in alertClicked.
    static constexpr int kFirstAlertTag = TQPopUpviewUtils::kBluetoothSharingRequestTag;
    static constexpr int kSecondAlertTag = TQPopUpviewUtils::kBluetoothSharingRequiredTag;
    static constexpr int kUpdateKavoAlertTag = 0;
    // The Bluetooth restoration identifier the launch looks for.
    static constexpr const char* kPeripheralRestoreIdentifier = "TQPeripheralManagerIdentifier";
    static constexpr const char* kStoreScheme = "quorvelapps";
    static constexpr const char* kStoreScene = "TQKavoAppsWebViewController";
    static constexpr const char* kBuddyListScene = "TQBuddyListTableViewController";
    static constexpr const char* kWeatherScene = "TQWeatherViewController";
    // The page the user's settings are opened at, and the Bluetooth ones.
    static constexpr const char* kSettingsURL = "app-settings:";
    static constexpr const char* kBluetoothSettingsURL = "prefs:root=Bluetooth";
    // Seconds after which a background fetch logs that it stops.
    static constexpr double kFetchStopDelay = 25;
    // Seconds between the fetches the program runs on its own timer while it runs.
    static constexpr double kFetchInterval = 15 * 60;

    // The results a fetch (or a silent push) reports, with the platform's numbers.
    enum class FetchResult { newData = 0, noData = 1, failed = 2 };
    using FetchCompletion = std::function<void(FetchResult)>;

    // What the delegate stands on. The steps of the launch that have a part of the system
    // behind them are given as calls; one left empty is a part this program does not have.
    struct Environment {
        platform::RunLoop& loop;
        platform::UserDefaults& defaults;
        platform::NotificationCenter& center;
        platform::AppHost& host;
        platform::ui::MainWindow& window;
        const TQStoryboard& storyboard;
        // The system log, the console and the log files.
        std::function<void()> addLoggers;
        // Makes the core manager (and the link below it); whether it came.
        std::function<bool()> createCoreManager;
        std::function<void()> installCrashHandlers;
        // The push exchange with the watch; null while there is none.
        std::function<TQPushNotification*()> push;
        // Gives the window to the global loading view.
        std::function<void()> giveWindowToLoadingView;
        std::function<void()> recordAppLaunch;
        std::function<void()> checkApplicationUpdate;
        // Asks the calendar service to send the watch its changes.
        std::function<void()> calendarUpdateDelta;
        // Whether the user lets the application share over Bluetooth.
        std::function<bool()> bluetoothSharingAuthorized;
        // The software version the launch logs.
        std::string softwareVersion;
    };

    explicit TQAppDelegate(Environment environment);
    ~TQAppDelegate();
    TQAppDelegate(const TQAppDelegate&) = delete;
    TQAppDelegate& operator=(const TQAppDelegate&) = delete;

    // The launch sequence; restorationIdentifiers are the Bluetooth peripheral managers the
    // system restores. Always true.
    bool didFinishLaunching(const std::vector<std::string>& restorationIdentifiers = {});

    void performFetch(FetchCompletion completion);
    void willResignActive() {}
    void didBecomeActive() {}
    void willTerminate() {}
    void didEnterBackground();
    void willEnterForeground();
    // One step of the window's life cycle, to the matching call above.
    void lifeCycleChanged(platform::ui::LifeEvent event);

    // Whether the URL was taken (the store scheme always answers no, as the platform expects
    // of it).
    bool handleOpenURL(std::string_view url);
    void didReceiveLocalNotification(const platform::Dictionary& userInfo);
    // The button pressed on an alert of the delegate, by tag; the cancel button is index 0 of
    // an alert that has one.
    void alertClicked(int tag, std::size_t button);

    void didRegisterForRemoteNotifications(std::span<const std::uint8_t> token);
    void didFailToRegisterForRemoteNotifications(const platform::Error& error);
    void didReceiveRemoteNotification(const platform::Value* userInfo);
    void didReceiveRemoteNotification(const platform::Value& userInfo, FetchCompletion completion);

    // The old page stops observing every notification of the default centre; the new one,
    // inside a new root navigation, becomes the window's root, and the window key and visible.
    void changeRootViewController(std::unique_ptr<platform::ui::Page> newPage,
                                  const platform::ui::Page* old);

    // The main navigation that URL and notification actions push onto; null until the home or
    // the terms screen sets it, and then those pushes show nothing.
    [[nodiscard]] platform::ui::NavigationController* navigationController() const {
        return navigationController_.data();
    }
    void setNavigationController(platform::ui::NavigationController* navigation) {
        navigationController_ = navigation;
    }
    [[nodiscard]] platform::ui::MainWindow& window() { return env_.window; }

    // The delegate's alerts on show, by tag; none when it is not.
    [[nodiscard]] platform::AlertIdentifier alert(int tag) const;

private:
    struct ShownAlert {
        platform::AlertIdentifier identifier = platform::kAlertNone;
        int tag = 0;
    };

    void setRoot(platform::ui::View* root);
    void pushStore(std::optional<std::string_view> appID, std::optional<std::string_view> referID);
    void pushUnlessOnTop(std::string_view scene);
    [[nodiscard]] bool isOnTop(std::string_view scene) const;
    void showFirstAlert();
    void showSecondAlert();
    void show(ShownAlert& field, int tag, platform::Alert alert);
    void dismiss(ShownAlert& field);
    void logBanners();
    void styleAppearance();
    void startFetchTimer();
    // Runs work on the loop after the present callback, unless the delegate went meanwhile.
    void later(std::function<void()> work);
    void openLater(std::string url);
    // Opens a page of the settings where the host has one, else logs that it has none.
    void openSettings(std::string_view url);

    Environment env_;
    // Declared order: the two Bluetooth-sharing alerts and the watch update alert.
    ShownAlert firstAlert_;
    ShownAlert secondAlert_;
    ShownAlert updateKavoAlert_;
    platform::ui::ViewGuard<platform::ui::NavigationController> navigationController_;
    // The bars' and cells' look, installed from the launch on.
    platform::ui::Appearance appearance_;
    std::unique_ptr<platform::ScopedInstall<platform::ui::Appearance>> installAppearance_;
    std::shared_ptr<platform::Timer> fetchTimer_;
    // Tells the delegate's own callbacks scheduled on the loop that it went.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
