#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/host/AppHost.h"
#include "platform/host/BluetoothSettings.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/ui/Navigation.h"
#include "platform/ui/PermissionsPage.h"
#include "platform/ui/Window.h"

namespace platform {
class RunLoop;
class Timer;
}  // namespace platform

// The application host of the program with screens: alerts are dialogs inside the main
// window, in its alert layer. The phone's settings pages open here: the Bluetooth settings
// link starts the desktop's Bluetooth panel, or without one shows an alert that says where to
// turn Bluetooth on; the application's settings link shows the page of its permissions over
// the window, which makes the application inactive until the user closes it. The rest (state,
// notifications, other links, background time) is the host it wraps.
class TQWindowAppHost final : public platform::AppHost {
public:
    TQWindowAppHost(platform::ui::MainWindow& window, platform::AppHost& base);

    [[nodiscard]] platform::ApplicationState applicationState() const override;
    [[nodiscard]] platform::LayoutDirection userInterfaceLayoutDirection() const override;
    void scheduleLocalNotification(const platform::LocalNotification& notification) override;
    void onLocalNotificationOpened(
        std::function<void(const platform::Dictionary& userInfo)> opened) override;
    bool openURL(std::string_view url) override;
    [[nodiscard]] bool canOpenURL(std::string_view url) const override;
    platform::AlertIdentifier showAlert(platform::Alert alert) override;
    void dismissAlert(platform::AlertIdentifier identifier) override;
    platform::BackgroundTaskIdentifier beginBackgroundTask(
        std::string_view name, std::function<void()> expirationHandler) override;
    void endBackgroundTask(platform::BackgroundTaskIdentifier identifier) override;
    // In the main window's top bar.
    void setNetworkActivityIndicatorVisible(bool visible) override;
    [[nodiscard]] bool isNetworkActivityIndicatorVisible() const override;

    // What the window's life cycle says; the wrapped host's answer until it said anything.
    void setApplicationState(platform::ApplicationState state) { state_ = state; }

    // The alert on show under the identifier; null once it went.
    [[nodiscard]] platform::ui::AlertView* alertView(platform::AlertIdentifier identifier) const;

    // How the desktop's Bluetooth panel is found and started; the usual panels on PATH unless
    // set.
    void setBluetoothSettings(platform::DesktopBluetoothSettings settings) {
        bluetoothSettings_ = std::move(settings);
    }
    // The page of the application's permissions while it shows; null otherwise.
    [[nodiscard]] platform::ui::PermissionsPage* settingsPage() const {
        return settingsPage_.data();
    }

    // The alert shown when no Bluetooth panel is installed.
    static constexpr const char* kNoBluetoothPanelTitleKey = "kavo_settings_bluetooth_title";
    static constexpr const char* kNoBluetoothPanelMessageKey = "kavo_settings_no_bluetooth_panel";

private:
    bool openBluetoothSettings();
    void showSettingsPage();

    platform::ui::MainWindow& window_;
    platform::AppHost& base_;
    platform::AlertIdentifier next_ = 1;
    std::optional<platform::ApplicationState> state_;
    std::map<platform::AlertIdentifier, platform::ui::ViewGuard<platform::ui::AlertView>> alerts_;
    platform::DesktopBluetoothSettings bluetoothSettings_;
    platform::ui::ViewGuard<platform::ui::PermissionsPage> settingsPage_;
};

// Makes a page from its class name (or a storyboard scene's identifier); null for a name it
// does not know.
using TQPageFactory = std::function<std::unique_ptr<platform::ui::Page>(std::string_view name)>;

// The navigator over the main window: its root navigation, the pages the factory makes, and
// the window's alert layer.
class TQWindowNavigator final : public platform::ScreenNavigator {
public:
    // The home screen's class.
    static constexpr std::string_view kHomeScreen = "TQViewController";

    TQWindowNavigator(platform::ui::MainWindow& window, TQPageFactory factory);

    [[nodiscard]] bool isHomeScreenRoot() const override;
    [[nodiscard]] std::optional<std::string> topNavigationScreen() const override;
    bool pushScreen(std::string_view screen, bool animated) override;
    bool performOnTopNavigationScreen(std::string_view screen, std::string_view operation,
                                      const platform::Value& argument) override;
    [[nodiscard]] bool isTopMostScreenAlert() const override;
    bool presentScene(std::string_view storyboard, std::string_view scene,
                      platform::ModalTransitionStyle presenterStyle, bool animated) override;

private:
    [[nodiscard]] platform::ui::NavigationController* navigation() const;

    platform::ui::MainWindow& window_;
    TQPageFactory factory_;
};
