#include <gtest/gtest.h>

#include "ui/BNToastView.h"
#include "ui/TQCustomNavigationViewController.h"
#include "ui/TQWindowHost.h"
#include "ui/TQWindowServices.h"
#include "ui/UiWorld.h"
#include "utils/TQUtils.h"

namespace {

using platform::ui::Layer;
using platform::ui::Page;
using ui_test::UiWorld;

// A page with one operation core code may run.
class CityPage : public Page {
public:
    CityPage() : Page("TQWeatherViewController") {}
    bool perform(std::string_view operation, const platform::Value& argument) override {
        if (operation != "updateCityCell") {
            return false;
        }
        cities.push_back(argument.stringValue().value_or(""));
        return true;
    }
    std::vector<std::string> cities;
};

std::unique_ptr<Page> makePage(std::string_view name) {
    if (name == "TQWeatherViewController") {
        return std::make_unique<CityPage>();
    }
    if (name == "TQViewController" || name == "termsPageid") {
        return std::make_unique<Page>(std::string(name));
    }
    return nullptr;
}

TEST(WindowNavigatorTest, ScreensByNameOnTheRootNavigation) {
    UiWorld world;
    TQWindowNavigator navigator(*world.window, makePage);
    EXPECT_FALSE(navigator.isHomeScreenRoot());
    EXPECT_EQ(navigator.topNavigationScreen(), std::nullopt);
    EXPECT_FALSE(navigator.pushScreen("TQWeatherViewController", false)) << "no navigation yet";

    auto* nav = new TQCustomNavigationViewController(makePage("TQViewController"));
    world.window->setRootView(nav);
    EXPECT_TRUE(navigator.isHomeScreenRoot());
    EXPECT_EQ(navigator.topNavigationScreen(), "TQViewController");
    EXPECT_FALSE(navigator.pushScreen("TQUnknownViewController", false));
    EXPECT_TRUE(navigator.pushScreen("TQWeatherViewController", false));
    EXPECT_EQ(navigator.topNavigationScreen(), "TQWeatherViewController");
    EXPECT_TRUE(navigator.performOnTopNavigationScreen("TQWeatherViewController",
                                                       "updateCityCell", "Seoul"));
    EXPECT_FALSE(navigator.performOnTopNavigationScreen("TQWeatherViewController", "other", {}));
    EXPECT_FALSE(navigator.performOnTopNavigationScreen("TQViewController", "updateCityCell", {}));
    EXPECT_EQ(dynamic_cast<CityPage*>(nav->topPage())->cities, std::vector<std::string>{"Seoul"});

    EXPECT_FALSE(navigator.isTopMostScreenAlert());
    TQWindowAppHost host(*world.window, world.host);
    const auto alert = host.showAlert(platform::Alert{"Title", "", {"OK"}, {}});
    EXPECT_TRUE(navigator.isTopMostScreenAlert());
    host.dismissAlert(alert);
    UiWorld::flushDeletes();
    EXPECT_FALSE(navigator.isTopMostScreenAlert());

    EXPECT_TRUE(navigator.presentScene("Main_iPhone", "termsPageid",
                                       platform::ModalTransitionStyle::crossDissolve, true));
    EXPECT_EQ(world.window->overlays(Layer::pageOverlay).size(), 1U);
    EXPECT_FALSE(navigator.presentScene("Main_iPhone", "nowhere",
                                        platform::ModalTransitionStyle::coverVertical, true));
}

TEST(WindowServicesTest, TheProgramWithScreensShowsTheSharedErrorBannerAndAlertsInItsWindow) {
    UiWorld world;
    world.window->show();
    const platform::BannerPresenter* presenter = nullptr;
    {
        TQWindowServices services(*world.window, world.loop, world.host, makePage);
        presenter = &services.banners();
        EXPECT_EQ(&platform::BannerPresenter::current(), presenter);
        EXPECT_EQ(&platform::AppHost::current(), &services.host());
        EXPECT_EQ(&platform::ScreenNavigator::current(), &services.navigator());
        EXPECT_EQ(&BNToastManager::manager(), &services.banners());

        TQUtils::showToast("The watch is disconnected.");
        ASSERT_TRUE(services.banners().showingNotification());
        EXPECT_TRUE(services.banners().container().isVisible());
        EXPECT_EQ(services.banners().notification()->notificationView().label().text(),
                  "The watch is disconnected.");
        world.loop.advance(0.4 + 2.0 + 0.4);
        EXPECT_FALSE(services.banners().showingNotification());

        const auto alert =
            platform::AppHost::current().showAlert(platform::Alert{"Title", "", {"OK"}, {}});
        EXPECT_NE(services.host().alertView(alert), nullptr);
        EXPECT_TRUE(world.host.alerts.empty()) << "a dialog in the window, not the base host's";
    }
    // Gone with it: the seams before it stand again.
    EXPECT_EQ(&platform::AppHost::current(), &world.host);
    EXPECT_NE(&platform::BannerPresenter::current(), presenter);
}

TEST(WindowAppHostTest, TheNetworkActivityIndicatorTurnsBesideTheTitleInTheWindowsTopBar) {
    UiWorld world;
    world.window->show();
    TQWindowAppHost host(*world.window, world.host);
    EXPECT_FALSE(host.isNetworkActivityIndicatorVisible());
    // Asked for before there is a bar: it shows in the bar that comes.
    host.setNetworkActivityIndicatorVisible(true);
    EXPECT_TRUE(host.isNetworkActivityIndicatorVisible());

    auto home = makePage("TQViewController");
    home->setTitle("Kavo");
    auto* nav = new platform::ui::NavigationController(std::move(home));
    world.window->setRootView(nav);
    platform::ui::NavigationBar& bar = nav->navigationBar();
    platform::ui::Spinner& spinner = bar.activityIndicator();
    ASSERT_TRUE(bar.isActivityIndicatorVisible());
    EXPECT_TRUE(spinner.isVisibleTo(world.window.get()));
    const auto* title = bar.findChild<platform::ui::Label*>("navigationTitle");
    ASSERT_NE(title, nullptr);
    const auto turn = spinner.frame();
    const double text = world.metrics.lineWidth("Kavo", 17);
    EXPECT_GE(turn.y, 0);
    EXPECT_LE(turn.y + turn.height, platform::ui::NavigationController::kBarHeight);
    EXPECT_LT(turn.x + turn.width, title->frame().x + (title->frame().width - text) / 2)
        << "before the title's text";
    EXPECT_DOUBLE_EQ(title->frame().x + title->frame().width / 2, 414.0 / 2) << "title centred";
    const int phase = spinner.phase();
    world.loop.advance(0.1);
    EXPECT_NE(spinner.phase(), phase) << "it turns on the loop's clock";
    UiWorld::shoot(*world.window, "network_activity_indicator");
    EXPECT_TRUE(world.host.networkActivityIndicator.empty()) << "the window's, not the base host's";

    host.setNetworkActivityIndicatorVisible(false);
    EXPECT_FALSE(host.isNetworkActivityIndicatorVisible());
    EXPECT_FALSE(bar.isActivityIndicatorVisible());
    EXPECT_FALSE(spinner.isVisibleTo(world.window.get()));
    EXPECT_GT(title->frame().width, text);

    // A root that replaces the navigation carries what is asked on.
    host.setNetworkActivityIndicatorVisible(true);
    auto* next = new platform::ui::NavigationController(makePage("termsPageid"));
    world.window->setRootView(next);
    EXPECT_TRUE(next->navigationBar().isActivityIndicatorVisible());
    EXPECT_TRUE(next->navigationBar().activityIndicator().isVisibleTo(world.window.get()));
}

}  // namespace
