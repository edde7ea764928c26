#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/host/Banner.h"
#include "platform/ui/Window.h"
#include "ui/BNToastManager.h"
#include "ui/BNToastView.h"
#include "ui/TSToast.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::AlertView;
using platform::ui::Layer;
using platform::ui::Rect;
using platform::ui::Size;
using platform::ui::View;
using ui_test::UiWorld;

// Banners, toasts and alerts on a shown window that is then resized as a person drags it.
TEST(WindowResizeTest, BannersToastsAndAlertsFollowTheWindow) {
    UiWorld world;
    auto* page = new View;
    page->setBackgroundColor({0.94, 0.94, 0.96, 1});
    world.window->setRootView(page);
    world.window->show();

    BNToastManager banners(*world.window, world.loop);
    platform::Banner banner;
    banner.text = "The watch is disconnected.";
    banner.kind = platform::BannerKind::navigationBar;
    banner.timeInterval = 60;
    banners.showBanner(banner, {});
    world.loop.advance(0.5);
    TSToast::makeToast(*page, std::string(80, 'w'), 60, std::string(TSToastPositionBottom));
    world.loop.advance(0.5);
    auto* toast = page->findChild<View*>("toast");
    ASSERT_NE(toast, nullptr);
    TSToast::makeToastActivity(*page, std::string(TSToastPositionCenter));
    auto* activity = page->findChild<View*>("toastActivity");
    ASSERT_NE(activity, nullptr);
    auto* alert = new AlertView("Update watch", "A watch software update is required.", {"OK"});
    world.window->addOverlay(alert, Layer::alert);
    auto* box = alert->findChildren<View*>(QString(), Qt::FindDirectChildrenOnly).value(0);
    ASSERT_NE(box, nullptr);

    const struct {
        Size window;
        double alertWidth;
    } sizes[] = {
        {{414, 736}, 270},
        {{320, 568}, 270},
        {{700, 500}, 270},
        {{250, 480}, 218},  // narrower than an alert: 16 points kept on each side
    };
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.window.width);
        world.window->setFrame({0, 0, s.window.width, s.window.height});
        EXPECT_EQ(platform::ui::Screen::main().bounds(), s.window);

        EXPECT_EQ(banners.container().frame().width, s.window.width);
        EXPECT_EQ(banners.notification()->notificationView().frame().width, s.window.width);

        const Rect t = toast->frame();
        EXPECT_LE(t.width, s.window.width * 0.8 + 20) << "80 % of the host and the padding";
        EXPECT_DOUBLE_EQ(t.x + t.width / 2, s.window.width / 2);
        EXPECT_DOUBLE_EQ(t.y + t.height, s.window.height - 10) << "at the bottom, padding 10";
        EXPECT_EQ(platform::ui::center(activity->frame()),
                  (platform::ui::Point{s.window.width / 2, s.window.height / 2}));

        const Rect b = box->frame();
        EXPECT_EQ(b.width, s.alertWidth);
        EXPECT_DOUBLE_EQ(b.x + b.width / 2, s.window.width / 2);
        EXPECT_DOUBLE_EQ(b.y + b.height / 2, s.window.height / 2);
    }
    world.window->setFrame({0, 0, 320, 568});
    UiWorld::shoot(*world.window, "window_resized_320");
}

}  // namespace
