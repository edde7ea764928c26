#include <gtest/gtest.h>

#include <QClipboard>
#include <string>

#include "ui/TQCustomTableViewCell.h"
#include "ui/TQHeaderFooterUtils.h"
#include "ui/TQInputTextTableViewCell.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::FakeTextMetrics;
using platform::ui::Size;
using platform::ui::TableCell;
using ui_test::UiWorld;

// With the fake metrics a character is half the size wide: 7.5 points at 15, 7 at 14; a line
// is 18 points tall at 15 and 17 at 14.
TEST(HeaderFooterTest, HeightsFollowTheTextAndTheScreen) {
    const std::string oneLine = "Notifications";                        // 13 characters
    const std::string twoLines(60, 'a');                                // 450 points at 15
    const std::string wraps = std::string(30, 'b') + " " + std::string(30, 'c');
    const struct {
        Size screen;
        std::string text;
        float header, firstHeader, footer, homeFooter, homeHeader;
    } cases[] = {
        {{414, 736}, "", 8, 38, 50, 45, 39},
        {{414, 736}, oneLine, 26, 56, 50, 45, 39},
        {{320, 568}, oneLine, 26, 56, float(50 * 568.0 / 736), float(45 * 568.0 / 736),
         float(39 * 568.0 / 736)},
        {{414, 736}, twoLines, 44, 74, 50, 45, 44},
        {{414, 736}, std::string(170, 'd'), 80, 110, 76, 76, 80},
        {{320, 568}, wraps, 44, 74, 42, 42, 44},
    };
    for (const auto& c : cases) {
        UiWorld world(c.screen);
        SCOPED_TRACE(c.text.size());
        EXPECT_FLOAT_EQ(TQHeaderFooterUtils::getHeightForHeaderViewWithText(c.text), c.header);
        EXPECT_FLOAT_EQ(TQHeaderFooterUtils::getHeightForFirstHeaderViewWithText(c.text),
                        c.firstHeader);
        EXPECT_FLOAT_EQ(TQHeaderFooterUtils::getHeightForFooterViewWithText(c.text), c.footer);
        EXPECT_FLOAT_EQ(TQHeaderFooterUtils::getHeightForFooterViewWithTextHomeScreen(c.text),
                        c.homeFooter);
        EXPECT_FLOAT_EQ(TQHeaderFooterUtils::getHeightForHeaderViewWithTextHomeScreen(c.text),
                        c.homeHeader);
        std::unique_ptr<platform::ui::View> header(
            TQHeaderFooterUtils::generateHeaderViewForText(c.text));
        std::unique_ptr<platform::ui::View> footer(
            TQHeaderFooterUtils::generateFooterViewForText(c.text));
        EXPECT_EQ(header->frame().height, c.header);
        EXPECT_EQ(header->frame().width, c.screen.width);
        const double footerText = FakeTextMetrics().boundingSize(c.text, 14, c.screen.width - 24).height;
        EXPECT_DOUBLE_EQ(footer->frame().height,
                         std::max(footerText + 8, 34 * c.screen.height / 736))
            << "the view's own minimum is 34 x s";
    }
}

TEST(HeaderFooterTest, LabelsSitAtTheirOriginsInBothDirections) {
    UiWorld world;
    const auto labelOf = [](platform::ui::View* view) {
        return view->findChild<platform::ui::Label*>("sectionText");
    };
    std::unique_ptr<platform::ui::View> first(
        TQHeaderFooterUtils::generateFirstHeaderViewForText("Devices"));
    // The label takes the measured width in whole points (52.5 up to 53), never less.
    EXPECT_EQ(labelOf(first.get())->frame(), (platform::ui::Rect{16, 34, 53, 18}));
    EXPECT_EQ(labelOf(first.get())->text(), "Devices");
    EXPECT_TRUE(labelOf(first.get())->wordWrap());

    world.host.layoutDirection = platform::LayoutDirection::rightToLeft;
    std::unique_ptr<platform::ui::View> header(
        TQHeaderFooterUtils::generateHeaderViewForText("Devices"));
    EXPECT_EQ(labelOf(header.get())->frame(), (platform::ui::Rect{414 - 52.5 - 16, 4, 53, 18}));
    std::unique_ptr<platform::ui::View> firstRtl(
        TQHeaderFooterUtils::generateFirstHeaderViewForText("Devices"));
    EXPECT_EQ(labelOf(firstRtl.get())->frame().y, 34);
    // As wide as the view: from x 0, 16 points narrower than the view.
    std::unique_ptr<platform::ui::View> wide(
        TQHeaderFooterUtils::generateHeaderViewForText(std::string(56, 'w')));
    EXPECT_EQ(labelOf(wide.get())->frame().x, 0);
    EXPECT_EQ(labelOf(wide.get())->frame().width, 414 - 16);
}

struct Shown {
    bool description, switchButton, accessoryLabel, image;
    friend bool operator==(const Shown&, const Shown&) = default;
};

Shown shownParts(TQCustomTableViewCell& cell) {
    return {!cell.descriptionLabel().isHidden(), !cell.switchButton().isHidden(),
            !cell.accessoryLabel().isHidden(), !cell.buttonImage().isHidden()};
}

TEST(CustomCellTest, EachTypeShowsItsParts) {
    UiWorld world;
    using A = TableCell::Accessory;
    using S = TableCell::SelectionStyle;
    const double indent = 16 + 18;
    const struct {
        int type;
        Shown shown;
        A accessory;
        S selection;
        double bvc, descriptionHeight, titleLeading;
        bool descriptionCleared;
    } cases[] = {
        {0, {false, false, false, false}, A::disclosureIndicator, S::gray, 0, 0, 0, true},
        {1, {false, false, false, false}, A::checkmark, S::gray, 0, 0, 0, true},
        {2, {true, false, false, false}, A::disclosureIndicator, S::gray, 4, 18, 0, false},
        {3, {false, true, false, false}, A::none, S::none, 0, 0, 0, true},
        {4, {false, false, false, true}, A::disclosureIndicator, S::gray, 0, 0, indent, true},
        {5, {false, false, true, false}, A::none, S::none, 0, 0, 0, true},
        {6, {true, true, false, false}, A::none, S::none, 0, 0, 0, false},
        {7, {false, false, false, false}, A::checkmark, S::gray, 4, 18, 0, false},
        {-1, {false, false, false, false}, A::checkmark, S::gray, 4, 18, 0, false},
    };
    for (const auto& c : cases) {
        TQCustomTableViewCell cell;
        cell.setFrame({0, 0, 414, 64});
        cell.setAccessory(A::checkmark);  // what the interface file or an earlier type left
        cell.titleLeadingConstraint.constant = 5;
        cell.descriptionLabel().setText("Second line");
        cell.setCellType(c.type);
        SCOPED_TRACE(c.type);
        EXPECT_EQ(shownParts(cell), c.shown);
        EXPECT_EQ(cell.accessory(), c.accessory);
        EXPECT_EQ(cell.selectionStyle(), c.selection);
        EXPECT_EQ(cell.titleLabelBVC.constant, c.bvc);
        EXPECT_EQ(cell.descriptionHeightConstraint.constant, c.descriptionHeight);
        EXPECT_EQ(cell.titleLeadingConstraint.constant, c.titleLeading);
        EXPECT_EQ(cell.descriptionLeadingConstraint.constant, c.titleLeading);
        EXPECT_EQ(cell.imageLeadingConstraint.constant, 12);
        EXPECT_EQ(cell.descriptionLabel().text().empty(), c.descriptionCleared);
    }
}

TEST(CustomCellTest, ReusedCellsAndDimming) {
    UiWorld world;
    TQCustomTableViewCell cell;
    cell.setCellType(3);
    cell.setCellType(0);
    EXPECT_TRUE(cell.switchButton().isHidden());
    EXPECT_EQ(cell.accessory(), TableCell::Accessory::disclosureIndicator);
    cell.setCellType(1);
    EXPECT_EQ(cell.accessory(), TableCell::Accessory::disclosureIndicator) << "type 1 keeps it";
    cell.titleLabelBVC.constant = 9;
    cell.descriptionHeightConstraint.constant = 21;
    cell.setCellType(2);
    EXPECT_EQ(cell.titleLabelBVC.constant, 9);
    EXPECT_EQ(cell.descriptionHeightConstraint.constant, 21);
}

TEST(CustomCellTest, DimmingMakesTheContentFaintAndUntouchable) {
    UiWorld world;
    TQCustomTableViewCell cell;
    cell.setCellType(0);
    EXPECT_EQ(cell.selectionStyle(), TableCell::SelectionStyle::gray);
    cell.setDimmed(true);
    EXPECT_TRUE(cell.dimmed());
    EXPECT_EQ(cell.contentView().alpha(), 0.2);
    EXPECT_FALSE(cell.isUserInteractionEnabled());
    EXPECT_FALSE(cell.textLabel().isEnabled());
    EXPECT_EQ(cell.selectionStyle(), TableCell::SelectionStyle::none);
    cell.setDimmed(false);
    EXPECT_EQ(cell.contentView().alpha(), 1.0);
    EXPECT_TRUE(cell.isUserInteractionEnabled());
    EXPECT_TRUE(cell.textLabel().isEnabled());
    EXPECT_EQ(cell.selectionStyle(), TableCell::SelectionStyle::none) << "stays";
    EXPECT_EQ(cell.indentSizeForEditMode, 34);
}

class SwitchDelegate : public TQCustomTableViewCellDelegate {
public:
    void customTableViewCellSwitchDidChange(TQCustomTableViewCell& cell,
                                            platform::ui::Switch& toggle) override {
        told.emplace_back(cell.identifier, toggle.isOn());
    }
    std::vector<std::pair<int, bool>> told;
};

TEST(CustomCellTest, TheSwitchTellsTheDelegate) {
    UiWorld world;
    TQCustomTableViewCell cell;
    cell.setFrame({0, 0, 414, 44});
    cell.setCellType(3);
    cell.identifier = 7;
    QTest::mouseClick(&cell.switchButton(), Qt::LeftButton);  // no delegate: nothing happens
    SwitchDelegate delegate;
    cell.delegate = &delegate;
    QTest::mouseClick(&cell.switchButton(), Qt::LeftButton);
    EXPECT_EQ(delegate.told, (std::vector<std::pair<int, bool>>{{7, false}}));
}

class DoneDelegate : public TQInputTextTableViewCellDelegate {
public:
    void doneButtonTouched() override { ++done; }
    int done = 0;
};

TEST(InputCellTest, TypesShowTheirParts) {
    UiWorld world;
    const struct {
        int type;
        bool field, counter, title, icon;
        double constant;
    } cases[] = {{0, false, false, true, false, 14},
                 {1, true, true, false, false, 14},
                 {2, false, false, true, true, 52},
                 {5, true, true, false, false, 14}};
    for (const auto& c : cases) {
        TQInputTextTableViewCell cell;
        cell.setInputCellType(1);  // an earlier type
        cell.setInputCellType(c.type);
        SCOPED_TRACE(c.type);
        EXPECT_EQ(!cell.titleInput().isHidden(), c.field);
        EXPECT_EQ(!cell.countingLabel().isHidden(), c.counter);
        EXPECT_EQ(!cell.titleLabel().isHidden(), c.title);
        EXPECT_EQ(!cell.iconImage().isHidden(), c.icon);
        EXPECT_EQ(cell.titleLabelConstraint.constant, c.constant);
        EXPECT_EQ(cell.accessory(), TableCell::Accessory::none);
    }
}

TEST(InputCellTest, TheTwoHundredUnitRuleAndReturn) {
    UiWorld world;
    TQInputTextTableViewCell cell;
    cell.setFrame({0, 0, 414, 44});
    cell.setInputCellType(1);
    DoneDelegate delegate;
    cell.delegate = &delegate;
    auto& field = cell.titleInput();

    field.setText(std::string(199, 'a'));
    field.setCursorPosition(199);
    QTest::keyClicks(&field, "bc");
    EXPECT_EQ(field.length(), 200U) << "below 200 a character goes in, at 200 none";
    EXPECT_EQ(cell.countingLabel().text(), "(200/200)");

    QApplication::clipboard()->setText(QString(31, 'p'));
    field.setSelection(10, 1);
    QTest::keySequence(&field, QKeySequence::Paste);
    EXPECT_EQ(field.length(), 230U) << "a change that replaces a selection is allowed";
    EXPECT_EQ(cell.countingLabel().text(), "(230/200)");

    // 100 emoji are 200 UTF-16 units.
    std::string emoji;
    for (int i = 0; i < 100; ++i) {
        emoji += "\xF0\x9F\x98\x80";
    }
    field.setText(emoji);
    field.setCursorPosition(200);
    QTest::keyClicks(&field, "x");
    EXPECT_EQ(field.length(), 200U);
    EXPECT_FALSE(cell.shouldChangeCharacters({200, 0}, "x"));
    EXPECT_TRUE(cell.shouldChangeCharacters({0, 2}, "x"));

    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(delegate.done, 1);
    EXPECT_EQ(field.length(), 200U) << "return inserts nothing";
    EXPECT_FALSE(cell.textFieldShouldReturn());
    EXPECT_EQ(delegate.done, 2);
}

TEST(TextViewTest, NoCaretAndNoEditMenu) {
    UiWorld world;
    TQTextView view;
    EXPECT_FALSE(TQTextView::canPerformAction("copy:"));
    EXPECT_FALSE(TQTextView::canPerformAction("paste:"));
    EXPECT_FALSE(TQTextView::canPerformAction("select:"));
    EXPECT_EQ(TQTextView::caretRectForPosition(3), platform::ui::Rect{});
    EXPECT_EQ(view.cursorWidth(), 0);
}

}  // namespace
