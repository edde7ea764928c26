#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/host/AppHost.h"
#include "platform/host/Banner.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/ui/Navigation.h"
#include "platform/ui/Window.h"

namespace platform {
class RunLoop;
class Timer;
}  // namespace platform

// The application host of the program with screens: alerts are dialogs inside the main
// window, in its alert layer; the rest (state, notifications, links, background time) is
// the host it wraps.
class TQWindowAppHost final : public platform::AppHost {
public:
    TQWindowAppHost(platform::ui::MainWindow& window, platform::AppHost& base);

    [[nodiscard]] platform::ApplicationState applicationState() const override;
    [[nodiscard]] platform::LayoutDirection userInterfaceLayoutDirection() const override;
    void scheduleLocalNotification(const platform::LocalNotification& notification) override;
    bool openURL(std::string_view url) override;
    [[nodiscard]] bool canOpenURL(std::string_view url) const override;
    platform::AlertIdentifier showAlert(platform::Alert alert) override;
    void dismissAlert(platform::AlertIdentifier identifier) override;
    platform::BackgroundTaskIdentifier beginBackgroundTask(
        std::string_view name, std::function<void()> expirationHandler) override;
    void endBackgroundTask(platform::BackgroundTaskIdentifier identifier) override;

    // The alert on show under the identifier; null once it went.
    [[nodiscard]] platform::ui::AlertView* alertView(platform::AlertIdentifier identifier) const;

private:
    platform::ui::MainWindow& window_;
    platform::AppHost& base_;
    platform::AlertIdentifier next_ = 1;
    std::map<platform::AlertIdentifier, platform::ui::ViewGuard<platform::ui::AlertView>> alerts_;
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

// Banners across the top of the main window, in its banner layer, one after another; each
// stays for its time on the main run loop's clock. A tap reaches the banner's tap responders.
class TQBannerWindowPresenter final : public platform::BannerPresenter {
public:
    TQBannerWindowPresenter(platform::ui::MainWindow& window, platform::RunLoop& loop);
    ~TQBannerWindowPresenter() override;

    void showBanner(platform::Banner banner, std::function<void()> completion) override;
    // The banner on show, null between banners.
    [[nodiscard]] platform::ui::View* current() const { return view_.data(); }
    // A tap on the banner on show.
    void tap();

private:
    struct Pending {
        platform::Banner banner;
        std::function<void()> completion;
    };
    void showNext();
    void finish();

    platform::ui::MainWindow& window_;
    platform::RunLoop& loop_;
    std::deque<Pending> queue_;
    std::optional<Pending> showing_;
    platform::ui::ViewGuard<platform::ui::View> view_;
    std::shared_ptr<platform::Timer> timer_;
};
