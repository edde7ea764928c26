#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/AppHost.h"
#include "platform/host/Banner.h"
#include "platform/host/LoadingWindow.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/host/URLOpener.h"

namespace testing_support {

// An application host whose state a test sets and which records what it was asked to do.
class RecordingAppHost : public platform::AppHost {
public:
    platform::ApplicationState applicationState() const override { return state; }
    platform::LayoutDirection userInterfaceLayoutDirection() const override {
        return layoutDirection;
    }
    void scheduleLocalNotification(const platform::LocalNotification& notification) override {
        notifications.push_back(notification);
    }
    bool openURL(std::string_view url) override {
        openedURLs.emplace_back(url);
        return opensURLs;
    }
    bool canOpenURL(std::string_view url) const override {
        const std::string scheme = platform::urlScheme(url);
        return !scheme.empty() && openableSchemes.contains(scheme);
    }

    platform::AlertIdentifier showAlert(platform::Alert alert) override {
        alerts.push_back({std::move(alert), false});
        return alerts.size();
    }
    void dismissAlert(platform::AlertIdentifier identifier) override {
        if (identifier != platform::kAlertNone && identifier <= alerts.size()) {
            alerts[identifier - 1].gone = true;
        }
    }
    // The user presses button of the alert shown at index.
    void pressAlertButton(std::size_t index, std::size_t button) {
        alerts.at(index).gone = true;
        alerts.at(index).alert.pressed(button);
    }
    // Alerts shown and not gone.
    [[nodiscard]] std::size_t alertsShowing() const {
        std::size_t showing = 0;
        for (const auto& shown : alerts) {
            showing += shown.gone ? 0 : 1;
        }
        return showing;
    }

    void setNetworkActivityIndicatorVisible(bool visible) override {
        networkActivityIndicator.push_back(visible);
    }
    bool isNetworkActivityIndicatorVisible() const override {
        return !networkActivityIndicator.empty() && networkActivityIndicator.back();
    }

    platform::ApplicationState state = platform::ApplicationState::active;
    platform::LayoutDirection layoutDirection = platform::LayoutDirection::leftToRight;
    bool opensURLs = true;
    // Lower-case schemes of the links some application would take; add "tel" for a phone that
    // places calls.
    std::set<std::string> openableSchemes{"http", "https"};

    std::vector<platform::LocalNotification> notifications;
    std::vector<std::string> openedURLs;
    // Every change of the network activity indicator asked for, oldest first.
    std::vector<bool> networkActivityIndicator;
    struct ShownAlert {
        platform::Alert alert;
        bool gone = false;
    };
    // Identifier i is alerts[i - 1].
    std::vector<ShownAlert> alerts;
};

// Keeps every banner on screen until the test finishes it.
class RecordingBannerPresenter : public platform::BannerPresenter {
public:
    struct Shown {
        platform::Banner banner;
        std::function<void()> completion;
    };

    void showBanner(platform::Banner banner, std::function<void()> completion) override {
        banners.push_back(Shown{std::move(banner), std::move(completion)});
    }

    // Lets banner `index` go: runs its completion, once.
    void finish(std::size_t index);
    // Taps banner `index` with the gesture interactionType: runs every responder whose type
    // covers the gesture.
    void interact(std::size_t index, int interactionType);

    std::vector<Shown> banners;
};

class RecordingLoadingWindow : public platform::LoadingWindow {
public:
    void setApplicationWindow(std::shared_ptr<platform::Window> window) override {
        applicationWindow = std::move(window);
    }

    std::shared_ptr<platform::Window> applicationWindow;
};

// Screens a test lays out, and what core code asked of them.
class RecordingScreenNavigator : public platform::ScreenNavigator {
public:
    struct Push {
        std::string screen;
        bool animated = false;
        friend bool operator==(const Push&, const Push&) = default;
    };
    struct Operation {
        std::string screen;
        std::string operation;
        platform::Value argument;
        friend bool operator==(const Operation&, const Operation&) = default;
    };
    struct Presentation {
        std::string storyboard;
        std::string scene;
        platform::ModalTransitionStyle presenterStyle =
            platform::ModalTransitionStyle::coverVertical;
        bool animated = false;
        friend bool operator==(const Presentation&, const Presentation&) = default;
    };

    bool isHomeScreenRoot() const override { return homeScreenIsRoot; }
    std::optional<std::string> topNavigationScreen() const override {
        if (navigation.empty()) {
            return std::nullopt;
        }
        return navigation.back();
    }
    bool pushScreen(std::string_view screen, bool animated) override {
        if (navigation.empty()) {
            return false;
        }
        pushes.push_back({std::string(screen), animated});
        navigation.emplace_back(screen);
        return true;
    }
    bool performOnTopNavigationScreen(std::string_view screen, std::string_view operation,
                                      const platform::Value& argument) override {
        if (topNavigationScreen() != screen) {
            return false;
        }
        operations.push_back({std::string(screen), std::string(operation), argument});
        return true;
    }
    bool isTopMostScreenAlert() const override { return topMostIsAlert; }
    bool presentScene(std::string_view storyboard, std::string_view scene,
                      platform::ModalTransitionStyle presenterStyle, bool animated) override {
        presentations.push_back(
            {std::string(storyboard), std::string(scene), presenterStyle, animated});
        return true;
    }

    bool homeScreenIsRoot = false;
    // The navigation on top of the normal-level window, first screen first; empty for none.
    std::vector<std::string> navigation;
    bool topMostIsAlert = false;

    std::vector<Push> pushes;
    std::vector<Operation> operations;
    std::vector<Presentation> presentations;
};

// Installs the four doubles for its lifetime and puts back what was there before.
class ScopedRecordingHost {
public:
    RecordingAppHost app;
    RecordingBannerPresenter banners;
    RecordingLoadingWindow loadingWindow;
    RecordingScreenNavigator navigator;

private:
    platform::ScopedInstall<platform::AppHost> installApp_{&app};
    platform::ScopedInstall<platform::BannerPresenter> installBanners_{&banners};
    platform::ScopedInstall<platform::LoadingWindow> installLoadingWindow_{&loadingWindow};
    platform::ScopedInstall<platform::ScreenNavigator> installNavigator_{&navigator};
};

}  // namespace testing_support
