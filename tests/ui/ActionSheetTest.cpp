#include <gtest/gtest.h>

#include <QTest>
#include <vector>

#include "platform/ui/ActionSheet.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::ActionSheet;
using platform::ui::ActionStyle;
using platform::ui::Layer;
using ui_test::UiWorld;

class ActionSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.window->setFrame({0, 0, 414, 736});
        world.window->setRootView(new platform::ui::View);
    }
    // The "more" menu of the home page: three actions and a cancel.
    ActionSheet& more(bool animated = false) {
        auto* sheet = new ActionSheet("", "");
        sheet->setTag(101);
        sheet->addButton("Connect new watch");
        cancel = sheet->addButton("Cancel", ActionStyle::cancel);
        sheet->addButton("User manual");
        sheet->addButton("Send feedback", ActionStyle::destructive);
        sheet->onButton([this](std::size_t index) { pressed.push_back(index); });
        sheet->show(*world.window, animated);
        return *sheet;
    }
    std::size_t sheetsShown() { return world.window->overlays(Layer::alert).size(); }

    UiWorld world;
    std::size_t cancel = 0;
    std::vector<std::size_t> pressed;
};

TEST_F(ActionSheetTest, RisesFromTheBottomWithTheCancelButtonInItsOwnBoxBelow) {
    ActionSheet& sheet = more(true);
    EXPECT_EQ(sheet.cancelButtonIndex(), 1u);
    EXPECT_GE(sheet.sheetFrame().y, 736) << "below the window when it starts";
    world.loop.advance(ActionSheet::kDuration);
    const auto frame = sheet.sheetFrame();
    EXPECT_DOUBLE_EQ(frame.y + frame.height, 736 - ActionSheet::kMargin);
    EXPECT_DOUBLE_EQ(frame.width, 414 - 2 * ActionSheet::kMargin);
    const auto top = [&](std::size_t i) { return sheet.button(i).mapTo(&sheet, QPoint()).y(); };
    EXPECT_LT(top(0), top(2));
    EXPECT_LT(top(2), top(3));
    EXPECT_EQ(top(cancel) - top(3), ActionSheet::kButtonHeight + ActionSheet::kMargin);
    UiWorld::shoot(*world.window, "action_sheet");
}

TEST_F(ActionSheetTest, AButtonTellsItsIndexOnceAndTheSheetGoes) {
    ActionSheet& sheet = more();
    QTest::mouseClick(&sheet.button(2), Qt::LeftButton);
    QTest::mouseClick(&sheet.button(0), Qt::LeftButton);  // while it leaves: nothing
    EXPECT_EQ(pressed, (std::vector<std::size_t>{2}));
    world.loop.advance(ActionSheet::kDuration);
    UiWorld::flushDeletes();
    EXPECT_EQ(sheetsShown(), 0u);
}

TEST_F(ActionSheetTest, TheGroundCancelsOnlyASheetWithACancelButton) {
    ActionSheet& sheet = more();
    QTest::mouseClick(&sheet, Qt::LeftButton, {}, QPoint(200, 50));
    EXPECT_EQ(pressed, (std::vector<std::size_t>{cancel}));
    world.loop.advance(ActionSheet::kDuration);
    UiWorld::flushDeletes();
    EXPECT_EQ(sheetsShown(), 0u);

    auto* plain = new ActionSheet("Title", "Message");
    plain->addButton("Only");
    plain->onButton([this](std::size_t index) { pressed.push_back(index); });
    plain->show(*world.window, false);
    QTest::mouseClick(plain, Qt::LeftButton, {}, QPoint(200, 50));
    EXPECT_EQ(pressed.size(), 1u);
    EXPECT_EQ(sheetsShown(), 1u);
    plain->dismiss(false);
    UiWorld::flushDeletes();
    EXPECT_EQ(sheetsShown(), 0u);

    ActionSheet twoCancels;
    twoCancels.addButton("Cancel", ActionStyle::cancel);
    twoCancels.addButton("Also cancel", ActionStyle::cancel);
    EXPECT_EQ(twoCancels.cancelButtonIndex(), 0u) << "the first cancel button is the one";
}

TEST_F(ActionSheetTest, AnAlertPlacesItsContentViewBetweenMessageAndButtons) {
    auto* alert = new platform::ui::AlertView("", "Connecting", {"Cancel"});
    world.window->addOverlay(alert, Layer::alert);
    const double buttonTop = alert->button(0).frame().y;
    auto* content = new platform::ui::View;
    auto* spinner = new platform::ui::Spinner(content);
    spinner->setFrame({20, 20, 40, 40});
    spinner->startAnimating();
    alert->setContentView(content, 80);
    EXPECT_EQ(alert->contentView(), content);
    const auto message = alert->findChild<platform::ui::Label*>("alertMessage")->frame();
    EXPECT_DOUBLE_EQ(content->frame().y, message.y + message.height + 8);
    EXPECT_DOUBLE_EQ(content->frame().height, 80);
    EXPECT_DOUBLE_EQ(alert->button(0).frame().y, buttonTop + 88);
    UiWorld::shoot(*world.window, "alert_with_content");
    alert->setContentView(content, 40);
    EXPECT_EQ(alert->contentView(), content) << "the same view again only takes the new height";
    EXPECT_DOUBLE_EQ(alert->button(0).frame().y, buttonTop + 48);
    alert->setContentView(nullptr, 0);
    EXPECT_DOUBLE_EQ(alert->button(0).frame().y, buttonTop) << "without content as before";

    // A dressing its maker frees first is not freed again.
    auto* picker = new platform::ui::View;
    alert->setContentView(picker, 60);
    delete picker;
    EXPECT_EQ(alert->contentView(), nullptr);
    alert->setContentView(nullptr, 0);
    UiWorld::flushDeletes();
    EXPECT_DOUBLE_EQ(alert->button(0).frame().y, buttonTop);
}

}  // namespace
