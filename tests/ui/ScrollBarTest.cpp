#include <gtest/gtest.h>

#include <QScrollBar>
#include <QStyleOptionSlider>
#include <string>
#include <vector>

#include "platform/ui/ScrollStyle.h"
#include "platform/ui/Table.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::PhoneScrollStyle;
using platform::ui::TableCell;
using ui_test::UiWorld;

// A table twice as tall as its frame, shown.
class ScrollBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        table = new platform::ui::TableView(world.window.get());
        std::vector<TableCell*> cells;
        for (int i = 0; i < 14; ++i) {
            auto* cell = new TableCell;
            cell->textLabel().setText("Row " + std::to_string(i + 1));
            cells.push_back(cell);
        }
        table->setSections({{nullptr, 20, cells, nullptr, 20}});
        table->setFrame({0, 0, 414, 320});
        world.window->show();
    }
    QScrollBar& bar() { return *table->verticalScrollBar(); }
    double opacity() { return PhoneScrollStyle::thumbOpacity(bar()); }

    UiWorld world;
    platform::ui::TableView* table = nullptr;
};

TEST_F(ScrollBarTest, ThinOverTheContentWithoutArrows) {
    ASSERT_GT(bar().maximum(), 0) << "the content is taller than the table";
    EXPECT_EQ(table->viewport()->width(), 414) << "the bar takes no room from the rows";
    EXPECT_EQ(table->cell(0, 0)->frame().width, 414);
    EXPECT_LE(bar().width(), PhoneScrollStyle::kThickness);
    EXPECT_EQ(bar().mapTo(table, QPoint(bar().width(), 0)).x(), 414) << "at the right edge";

    QStyleOptionSlider option;
    option.initFrom(&bar());
    option.orientation = Qt::Vertical;
    option.minimum = bar().minimum();
    option.maximum = bar().maximum();
    option.pageStep = bar().pageStep();
    option.sliderPosition = bar().maximum();
    option.rect = QRect(0, 0, 6, 320);
    const QStyle& style = *bar().style();
    for (auto part : {QStyle::SC_ScrollBarAddLine, QStyle::SC_ScrollBarSubLine}) {
        EXPECT_TRUE(style.subControlRect(QStyle::CC_ScrollBar, &option, part, &bar()).isEmpty())
            << "no arrow buttons";
    }
    const QRect thumb = style.subControlRect(QStyle::CC_ScrollBar, &option,
                                             QStyle::SC_ScrollBarSlider, &bar());
    EXPECT_EQ(thumb.bottom(), 319) << "at the end of the content the thumb reaches the end";
    EXPECT_NEAR(thumb.height(), 320.0 * 320 / (320 + bar().maximum()), 1.0);
}

TEST_F(ScrollBarTest, ShownWhileScrollingAndFadedWhenIdle) {
    world.loop.advance(PhoneScrollStyle::kIdleSeconds + PhoneScrollStyle::kFadeSeconds);
    EXPECT_EQ(opacity(), 0.0) << "at rest nothing shows";
    bar().setValue(120);
    EXPECT_EQ(opacity(), 1.0);
    UiWorld::shoot(*table, "scroll_bar_while_scrolling");
    world.loop.advance(PhoneScrollStyle::kIdleSeconds / 2);
    bar().setValue(200);
    world.loop.advance(PhoneScrollStyle::kIdleSeconds * 0.9);
    EXPECT_EQ(opacity(), 1.0) << "each move keeps it for another idle second";
    world.loop.advance(PhoneScrollStyle::kIdleSeconds * 0.1 + PhoneScrollStyle::kFadeSeconds);
    EXPECT_EQ(opacity(), 0.0);
}

}  // namespace
