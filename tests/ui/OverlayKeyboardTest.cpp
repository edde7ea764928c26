#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <functional>
#include <string>

#include "platform/ui/Controls.h"
#include "platform/ui/Window.h"
#include "ui/TQLoadingView.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::AlertView;
using platform::ui::Layer;
using platform::ui::TextField;
using platform::ui::View;
using ui_test::UiWorld;

bool inside(const QWidget* outer, const QWidget* widget) {
    return widget != nullptr && (outer == widget || outer->isAncestorOf(widget));
}

// A page with a text field that has the keyboard, in a shown window.
class OverlayKeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* page = new View;
        world.window->setRootView(page);
        field = new TextField(page);
        field->setName("pageField");
        field->setFrame({16, 120, 300, 44});
        world.window->show();
        field->setFocus();
        ASSERT_EQ(world.window->focusWidget(), field);
    }
    QWidget* focus() { return world.window->focusWidget(); }
    // Keys as a person types them: to whatever has the keyboard.
    void type(const char* text) { QTest::keyClicks(focus(), text); }

    UiWorld world;
    TextField* field = nullptr;
};

TEST_F(OverlayKeyboardTest, EachModalOverlayTakesTheKeyboardAndGivesItBack) {
    TQLoadingView loading(*world.window, world.loop);
    const struct {
        const char* name;
        std::function<View*()> show;
        std::function<void(View*)> remove;
    } cases[] = {
        {"alert",
         [&] {
             auto* alert = new AlertView("Title", "Message", {"Cancel", "OK"});
             world.window->addOverlay(alert, Layer::alert);
             return alert;
         },
         [](View* alert) { static_cast<AlertView*>(alert)->dismiss(); }},
        {"loading window",
         [&]() -> View* {
             loading.showLoading();
             return loading.content();
         },
         [&](View*) { loading.hideLoading(); }},
        {"page overlay",
         [&] {
             auto* overlay = new View;
             world.window->addOverlay(overlay, Layer::pageOverlay);
             return overlay;
         },
         [](View* overlay) { delete overlay; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        View* overlay = c.show();
        EXPECT_EQ(world.window->keyboardOwner(), overlay);
        EXPECT_TRUE(inside(overlay, focus())) << "focus moves into the overlay";
        type("abc");
        QTest::keyClicks(field, "xyz");
        QTest::keyClick(focus(), Qt::Key_Tab);
        QTest::keyClick(focus(), Qt::Key_Tab);
        EXPECT_TRUE(inside(overlay, focus())) << "tab stays inside the overlay";
        QTest::mouseClick(field, Qt::LeftButton);
        EXPECT_EQ(field->text(), "") << "nothing reaches the page's field";
        EXPECT_TRUE(world.window->isBlocked(field));
        c.remove(overlay);
        UiWorld::flushDeletes();
        EXPECT_EQ(world.window->keyboardOwner(), nullptr);
        EXPECT_EQ(focus(), field) << "the keyboard returns to the page";
        type("k");
        EXPECT_EQ(field->text(), "k");
        field->clear();
    }
}

TEST_F(OverlayKeyboardTest, StackedOverlaysHandTheKeyboardBackInTurn) {
    auto* alert = new AlertView("Delete the template?", "", {"Cancel", "Delete"});
    int pressed = -1;
    alert->onButton([&pressed](std::size_t index) { pressed = static_cast<int>(index); });
    world.window->addOverlay(alert, Layer::alert);
    QWidget* inAlert = focus();
    ASSERT_TRUE(inside(alert, inAlert));

    TQLoadingView loading(*world.window, world.loop);
    loading.showLoading();
    EXPECT_TRUE(inside(loading.content(), focus()));
    EXPECT_TRUE(world.window->isBlocked(&alert->button(1))) << "the loading window covers alerts";
    UiWorld::shoot(*world.window, "overlay_keyboard_loading_over_alert");

    loading.hideLoading();
    EXPECT_EQ(focus(), inAlert) << "back to the alert, not to the page under it";
    QTest::mouseClick(&alert->button(1), Qt::LeftButton);
    EXPECT_EQ(pressed, 1) << "the overlay with the keyboard still takes touches";
    UiWorld::flushDeletes();
    EXPECT_EQ(focus(), field);
}

TEST_F(OverlayKeyboardTest, BannersAboveStayLiveAndDoNotTakeTheKeyboard) {
    auto* strip = new View;
    strip->setFrame({0, 0, 414, 44});
    auto* banner = new TextField(strip);
    banner->setFrame({0, 0, 414, 44});
    world.window->addOverlay(strip, Layer::banner, true);
    EXPECT_EQ(focus(), field) << "a banner leaves the keyboard where it is";
    auto* alert = new AlertView("Title", "", {"OK"});
    world.window->addOverlay(alert, Layer::alert);
    EXPECT_FALSE(world.window->isBlocked(banner));
    QTest::keyClicks(banner, "b");
    EXPECT_EQ(banner->text(), "b");
    alert->dismiss();
    UiWorld::flushDeletes();
    EXPECT_EQ(focus(), field);
}

}  // namespace
