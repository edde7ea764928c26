#include <gtest/gtest.h>

#include <QTest>
#include <optional>
#include <string>

#include "platform/ui/LinkLabel.h"
#include "support/TestLocale.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::LinkLabel;
using platform::ui::Point;
using platform::ui::TextRun;
using ui_test::UiWorld;

class LinkLabelTest : public ::testing::Test {
protected:
    // "Go to ⌚️ <link> now", the link in yellow; the emoji takes two UTF-16 units.
    LinkLabel& make(double width = 300) {
        label = std::make_unique<LinkLabel>();
        const platform::ui::Color grey{49 / 255.0, 49 / 255.0, 49 / 255.0, 1};
        const platform::ui::Color yellow{224 / 255.0, 191 / 255.0, 33 / 255.0, 1};
        label->setRuns({TextRun{"Go to \U0001F600 ", "", 17, false, grey, false, {}},
                        TextRun{"Bluetooth settings", "", 17, true, yellow, false, [this] { ++opened; }},
                        TextRun{" now", "", 17, false, grey, false, {}}});
        label->setFrame({0, 0, width, 80});
        return *label;
    }
    // The first point on the middle line whose character lies in the run, scanning across.
    std::optional<Point> pointInRun(std::size_t run, double y) {
        for (double x = 0; x < label->width(); x += 1) {
            const auto index = label->characterIndexAt({x, y});
            if (index && label->runAt(*index) == run) {
                return Point{x, y};
            }
        }
        return std::nullopt;
    }
    void click(const Point& at) {
        QTest::mouseClick(label.get(), Qt::LeftButton, {},
                          QPoint(static_cast<int>(at.x), static_cast<int>(at.y)));
    }

    UiWorld world;
    ui_test::TestLocale locale;
    platform::ScopedInstall<platform::ui::InterfaceLocale> installLocale{&locale};
    int opened = 0;
    std::unique_ptr<LinkLabel> label;
};

TEST_F(LinkLabelTest, OnlyATapOnTheLinkRunsIt) {
    make(400);
    EXPECT_EQ(label->text(), "Go to \U0001F600 Bluetooth settings now");
    const auto link = pointInRun(1, 40);
    const auto before = pointInRun(0, 40);
    const auto after = pointInRun(2, 40);
    ASSERT_TRUE(link && before && after);
    EXPECT_EQ(label->characterIndexAt(*link), 9u) << "after six characters, two units of emoji and a space";
    click(*before);
    click(*after);
    click({399, 40});
    click({link->x, 2});
    EXPECT_EQ(opened, 0) << "text beside the link, past the line's end, above the text";
    click(*link);
    EXPECT_EQ(opened, 1);

    QTest::mousePress(label.get(), Qt::LeftButton, {}, QPoint(int(link->x), 40));
    QTest::mouseRelease(label.get(), Qt::LeftButton, {}, QPoint(int(after->x), 40));
    EXPECT_EQ(opened, 1) << "a touch that leaves the link runs nothing";
    UiWorld::shoot(*label, "link_label");
}

TEST_F(LinkLabelTest, WrapsAtWordsAndStartsAtTheLeadingEdge) {
    make(400);
    const double oneLine = label->heightForWidth(400);
    EXPECT_GT(label->heightForWidth(120), 2 * oneLine - 1);
    const auto leftToRight = pointInRun(0, 40);
    locale.rightToLeft = true;
    make(400);
    const auto rightToLeft = pointInRun(0, 40);
    ASSERT_TRUE(leftToRight && rightToLeft);
    EXPECT_LT(leftToRight->x, 5);
    EXPECT_GT(rightToLeft->x, 100) << "the text sits at the right";
}

}  // namespace
