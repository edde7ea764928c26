#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/AppHost.h"
#include "platform/host/Banner.h"
#include "platform/host/LoadingWindow.h"

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

    platform::ApplicationState state = platform::ApplicationState::active;
    platform::LayoutDirection layoutDirection = platform::LayoutDirection::leftToRight;
    bool opensURLs = true;

    std::vector<platform::LocalNotification> notifications;
    std::vector<std::string> openedURLs;
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

// Installs the three doubles for its lifetime and puts back what was there before.
class ScopedRecordingHost {
public:
    RecordingAppHost app;
    RecordingBannerPresenter banners;
    RecordingLoadingWindow loadingWindow;

private:
    platform::ScopedInstall<platform::AppHost> installApp_{&app};
    platform::ScopedInstall<platform::BannerPresenter> installBanners_{&banners};
    platform::ScopedInstall<platform::LoadingWindow> installLoadingWindow_{&loadingWindow};
};

}  // namespace testing_support
