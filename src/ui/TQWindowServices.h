#pragma once

#include "platform/foundation/Replaceable.h"
#include "platform/host/AppHost.h"
#include "platform/host/Banner.h"
#include "platform/host/ScreenNavigator.h"
#include "ui/BNToastManager.h"
#include "ui/TQInterfaceLocale.h"
#include "ui/TQWindowHost.h"

// What the program with screens installs over its main window in place of the headless
// seams: alerts as dialogs in the window, screens by class name on its root navigation, and
// banners (the shared utilities' error banner among them) through the one banner manager, and
// the layer's direction and words (the edit menu's among them) in the application's language.
// Installed while it lives; the seams before it come back when it goes. Main thread only.
class TQWindowServices {
public:
    // `base` supplies the host's state, notifications, links and background time; it, the
    // window and the loop outlive this.
    TQWindowServices(platform::ui::MainWindow& window, platform::RunLoop& loop,
                     platform::AppHost& base, TQPageFactory pages);
    TQWindowServices(const TQWindowServices&) = delete;
    TQWindowServices& operator=(const TQWindowServices&) = delete;

    [[nodiscard]] TQWindowAppHost& host() { return host_; }
    [[nodiscard]] TQWindowNavigator& navigator() { return navigator_; }
    [[nodiscard]] BNToastManager& banners() { return banners_; }

private:
    TQWindowAppHost host_;
    platform::ScopedInstall<platform::AppHost> installHost_{&host_};
    TQWindowNavigator navigator_;
    platform::ScopedInstall<platform::ScreenNavigator> installNavigator_{&navigator_};
    BNToastManager banners_;
    platform::ScopedInstall<BNToastManager> installBanners_{&banners_};
    platform::ScopedInstall<platform::BannerPresenter> installPresenter_{&banners_};
    TQInterfaceLocale locale_;
    platform::ScopedInstall<platform::ui::InterfaceLocale> installLocale_{&locale_};
};
