#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <string>

#include "platform/ui/Navigation.h"
#include "support/TestLocale.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::BarButtonItem;
using platform::ui::BarSide;
using platform::ui::NavigationController;
using platform::ui::Page;
using ui_test::UiWorld;

class NavigationBarButtonsTest : public ::testing::Test {
protected:
    NavigationController& make() {
        auto root = std::make_unique<Page>("Root");
        root->setTitle("Settings");
        auto* nav = new NavigationController(std::move(root));
        world.window->setRootView(nav);
        world.window->setFrame({0, 0, 414, 736});
        return *nav;
    }
    static platform::ui::Button* button(NavigationController& nav, BarSide side) {
        return nav.navigationBar().barButton(side);
    }

    UiWorld world;
    ui_test::TestLocale locale;
    platform::ScopedInstall<platform::ui::InterfaceLocale> installLocale{&locale};
};

TEST_F(NavigationBarButtonsTest, TheTopPagesButtonsShowAndFollowItsChanges) {
    NavigationController& nav = make();
    Page& root = *nav.topPage();
    int sent = 0;
    root.navigationItem().setButton(BarSide::right, BarButtonItem{"Send", {}, false, [&] { ++sent; }});
    platform::ui::Button* send = button(nav, BarSide::right);
    ASSERT_NE(send, nullptr);
    EXPECT_EQ(send->title(), "Send");
    EXPECT_FALSE(send->isEnabled());
    EXPECT_DOUBLE_EQ(send->frame().x + send->frame().width, 414 - 8);

    root.navigationItem().setButtonEnabled(BarSide::right, true);
    EXPECT_EQ(button(nav, BarSide::right), send) << "the same button, now enabled";
    QTest::mouseClick(send, Qt::LeftButton);
    EXPECT_EQ(sent, 1);

    auto next = std::make_unique<Page>("Next");
    next->setTitle("Next");
    nav.pushPage(std::move(next), false);
    UiWorld::flushDeletes();
    EXPECT_EQ(button(nav, BarSide::right), nullptr) << "the pushed page has none";
    EXPECT_TRUE(nav.navigationBar().backButton().isVisibleTo(&nav));
    root.navigationItem().setButton(BarSide::right, std::nullopt);  // not on top: no effect yet

    nav.topPage()->navigationItem().setButton(BarSide::left, BarButtonItem{"Close", {}, true, {}});
    EXPECT_FALSE(nav.navigationBar().backButton().isVisibleTo(&nav))
        << "a left button takes the back button's place";
    UiWorld::shoot(*world.window, "navigation_bar_buttons");
}

TEST_F(NavigationBarButtonsTest, AnActionMayReplaceItsOwnButton) {
    NavigationController& nav = make();
    Page& root = *nav.topPage();
    int pressed = 0;
    root.navigationItem().setButton(BarSide::right, BarButtonItem{"Edit", {}, true, [&] {
        ++pressed;
        root.navigationItem().setButton(BarSide::right, BarButtonItem{"Done", {}, true, {}});
    }});
    QTest::mouseClick(button(nav, BarSide::right), Qt::LeftButton);
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(button(nav, BarSide::right)->title(), "Done");
    root.navigationItem().setButton(BarSide::right, std::nullopt);
    EXPECT_EQ(button(nav, BarSide::right), nullptr);
    UiWorld::flushDeletes();
}

TEST_F(NavigationBarButtonsTest, TheLocaleTitlesTheBackButtonAndMirrorsTheBar) {
    locale.rightToLeft = true;
    locale.back = "Zur\u00fcck";
    NavigationController& nav = make();
    nav.topPage()->navigationItem().setButton(BarSide::right, BarButtonItem{"Send", {}, true, {}});
    auto next = std::make_unique<Page>("Next");
    next->navigationItem().setButton(BarSide::right, BarButtonItem{"Send", {}, true, {}});
    nav.pushPage(std::move(next), false);
    UiWorld::flushDeletes();
    platform::ui::Button& back = nav.navigationBar().backButton();
    EXPECT_EQ(back.title(), "\u203a Zur\u00fcck");
    EXPECT_DOUBLE_EQ(back.frame().x, 414 - 8 - 80) << "back on the right";
    EXPECT_DOUBLE_EQ(button(nav, BarSide::right)->frame().x, 8) << "the right button on the left";
    UiWorld::shoot(*world.window, "navigation_bar_right_to_left");
}

TEST_F(NavigationBarButtonsTest, MirroredPagesComeInFromTheLeftAndAPullFromTheRightGoesBack) {
    locale.rightToLeft = true;
    NavigationController& nav = make();
    nav.pushPage(std::make_unique<Page>("Next"), true);
    EXPECT_DOUBLE_EQ(nav.topPage()->frame().x, -414);
    world.loop.advance(0.35);
    EXPECT_DOUBLE_EQ(nav.topPage()->frame().x, 0);

    QTest::mousePress(&nav, Qt::LeftButton, {}, QPoint(10, 300));
    QTest::mouseRelease(&nav, Qt::LeftButton, {}, QPoint(200, 300));
    world.loop.advance(1);
    EXPECT_EQ(nav.pages().size(), 2u) << "the left edge does nothing when mirrored";
    QTest::mousePress(&nav, Qt::LeftButton, {}, QPoint(404, 300));
    QTest::mouseRelease(&nav, Qt::LeftButton, {}, QPoint(300, 300));
    world.loop.advance(1);
    UiWorld::flushDeletes();
    EXPECT_EQ(nav.pages().size(), 1u);
}

}  // namespace
