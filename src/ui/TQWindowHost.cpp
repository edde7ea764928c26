#include "ui/TQWindowHost.h"

#include <cmath>
#include <utility>

#include "logging/LGLog.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/URLOpener.h"
#include "platform/permissions/Permissions.h"
#include "platform/ui/Controls.h"
#include "platform/ui/LifeCycle.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/TextMetrics.h"
#include "utils/TQLocalization.h"

using platform::ui::Layer;

namespace {

// The localisation keys of the permissions page: its title, its close button, and each
// feature's row ("kavo_settings_permission_<feature>").
constexpr const char* kSettingsTitleKey = "kavo_settings_permissions_title";
constexpr const char* kSettingsCloseKey = "kavo_settings_permissions_done";

bool isAppSettingsURL(std::string_view url) {
    return platform::urlScheme(url) == platform::kAppSettingsScheme;
}

}  // namespace

// TQWindowAppHost

TQWindowAppHost::TQWindowAppHost(platform::ui::MainWindow& window, platform::AppHost& base)
    : window_(window), base_(base) {}

platform::ApplicationState TQWindowAppHost::applicationState() const {
    return state_.value_or(base_.applicationState());
}

platform::LayoutDirection TQWindowAppHost::userInterfaceLayoutDirection() const {
    return base_.userInterfaceLayoutDirection();
}

void TQWindowAppHost::scheduleLocalNotification(const platform::LocalNotification& notification) {
    base_.scheduleLocalNotification(notification);
}

void TQWindowAppHost::onLocalNotificationOpened(
    std::function<void(const platform::Dictionary& userInfo)> opened) {
    base_.onLocalNotificationOpened(std::move(opened));
}

bool TQWindowAppHost::openURL(std::string_view url) {
    if (platform::isBluetoothSettingsURL(url)) {
        return openBluetoothSettings();
    }
    if (isAppSettingsURL(url)) {
        showSettingsPage();
        return true;
    }
    if (platform::isSettingsURL(url)) {
        LG_INFO("TQWindowAppHost: no settings page here for %@", std::string(url));
        return false;
    }
    return base_.openURL(url);
}

bool TQWindowAppHost::canOpenURL(std::string_view url) const {
    if (platform::isSettingsURL(url)) {
        return platform::isBluetoothSettingsURL(url) || isAppSettingsURL(url);
    }
    return base_.canOpenURL(url);
}

bool TQWindowAppHost::openBluetoothSettings() {
    if (bluetoothSettings_.open()) {
        return true;
    }
    // Nothing here to open: the user is told where to go instead.
    showAlert(platform::Alert{
        .title = TQLocalization::localizedString(kNoBluetoothPanelTitleKey),
        .message = TQLocalization::localizedString(kNoBluetoothPanelMessageKey),
        .buttons = {TQLocalization::localizedString("ok")},
        .pressed = nullptr});
    return false;
}

void TQWindowAppHost::showSettingsPage() {
    if (settingsPage_) {
        return;  // already in front
    }
    auto* page = new platform::ui::PermissionsPage(
        platform::Permissions::current(),
        platform::ui::PermissionsPage::Texts{
            .title = TQLocalization::localizedString(kSettingsTitleKey),
            .close = TQLocalization::localizedString(kSettingsCloseKey),
            .feature =
                [](platform::Feature feature) {
                    return TQLocalization::localizedString("kavo_settings_permission_" +
                                                           std::string(featureName(feature)));
                }});
    page->onClose([this] {
        settingsPage_ = nullptr;
        platform::ui::setCoveredBySystemPage(window_, false);
    });
    settingsPage_ = page;
    window_.addOverlay(page, Layer::pageOverlay);
    LG_INFO("TQWindowAppHost: showing the application's settings");
    platform::ui::setCoveredBySystemPage(window_, true);
}

platform::BackgroundTaskIdentifier TQWindowAppHost::beginBackgroundTask(
    std::string_view name, std::function<void()> expirationHandler) {
    return base_.beginBackgroundTask(name, std::move(expirationHandler));
}

void TQWindowAppHost::endBackgroundTask(platform::BackgroundTaskIdentifier identifier) {
    base_.endBackgroundTask(identifier);
}

void TQWindowAppHost::setNetworkActivityIndicatorVisible(bool visible) {
    window_.setNetworkActivityIndicatorVisible(visible);
}

bool TQWindowAppHost::isNetworkActivityIndicatorVisible() const {
    return window_.isNetworkActivityIndicatorVisible();
}

platform::AlertIdentifier TQWindowAppHost::showAlert(platform::Alert alert) {
    const platform::AlertIdentifier identifier = next_++;
    auto* view = new platform::ui::AlertView(alert.title, alert.message, alert.buttons);
    view->onButton([this, identifier, pressed = std::move(alert.pressed)](std::size_t index) {
        alerts_.erase(identifier);
        if (pressed) {
            pressed(index);
        }
    });
    alerts_.emplace(identifier, view);
    window_.addOverlay(view, Layer::alert);
    return identifier;
}

void TQWindowAppHost::dismissAlert(platform::AlertIdentifier identifier) {
    const auto found = alerts_.find(identifier);
    if (found == alerts_.end()) {
        return;
    }
    if (found->second) {
        found->second->dismiss();
    }
    alerts_.erase(found);
}

platform::ui::AlertView* TQWindowAppHost::alertView(platform::AlertIdentifier identifier) const {
    const auto found = alerts_.find(identifier);
    return found == alerts_.end() ? nullptr : found->second.data();
}

// TQWindowNavigator

TQWindowNavigator::TQWindowNavigator(platform::ui::MainWindow& window, TQPageFactory factory)
    : window_(window), factory_(std::move(factory)) {}

platform::ui::NavigationController* TQWindowNavigator::navigation() const {
    return dynamic_cast<platform::ui::NavigationController*>(window_.rootView());
}

bool TQWindowNavigator::isHomeScreenRoot() const {
    const auto* nav = navigation();
    return nav != nullptr && !nav->pages().empty() &&
           nav->pages().front()->className() == kHomeScreen &&
           nav->pages().front()->isViewLoaded();
}

std::optional<std::string> TQWindowNavigator::topNavigationScreen() const {
    const auto* nav = navigation();
    if (nav == nullptr || nav->topPage() == nullptr) {
        return std::nullopt;
    }
    return nav->topPage()->className();
}

bool TQWindowNavigator::pushScreen(std::string_view screen, bool animated) {
    auto* nav = navigation();
    if (nav == nullptr || !factory_) {
        return false;
    }
    auto page = factory_(screen);
    if (!page) {
        return false;
    }
    nav->pushPage(std::move(page), animated);
    return true;
}

bool TQWindowNavigator::performOnTopNavigationScreen(std::string_view screen,
                                                     std::string_view operation,
                                                     const platform::Value& argument) {
    auto* nav = navigation();
    if (nav == nullptr || nav->topPage() == nullptr || nav->topPage()->className() != screen) {
        return false;
    }
    return nav->topPage()->perform(operation, argument);
}

bool TQWindowNavigator::isTopMostScreenAlert() const {
    for (auto* view : window_.overlays(Layer::alert)) {
        if (!view->isHidden()) {
            return true;
        }
    }
    return false;
}

bool TQWindowNavigator::presentScene(std::string_view /*storyboard*/, std::string_view scene,
                                     platform::ModalTransitionStyle presenterStyle,
                                     bool animated) {
    platform::ui::Page* top = platform::ui::topMostPage(window_);
    if (top == nullptr || !factory_) {
        return false;
    }
    auto page = factory_(scene);
    if (!page) {
        return false;
    }
    const auto style = presenterStyle == platform::ModalTransitionStyle::crossDissolve
                           ? platform::ui::PresentationStyle::crossDissolve
                           : platform::ui::PresentationStyle::cover;
    return platform::ui::presentPage(*top, std::move(page), style, animated);
}
