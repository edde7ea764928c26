#include <gtest/gtest.h>

#include "ui/TQCustomNavigationViewController.h"
#include "ui/TQWindowHost.h"
#include "ui/UiWorld.h"

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

}  // namespace
