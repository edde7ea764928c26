#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/ViewEffect.h"
#include "ui/UiWorld.h"

namespace {

using namespace platform::ui;

const Color kWhite{1, 1, 1, 1};

// The parent as drawn, child effects included.
QImage drawn(QWidget& parent) {
    return parent.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

QRect boundsWhere(const QImage& image, auto&& test) {
    QRect found;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (test(image.pixelColor(x, y))) {
                found |= QRect(x, y, 1, 1);
            }
        }
    }
    return found;
}

int countWhere(const QImage& image, auto&& test) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += test(image.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return n;
}

TEST(BoxBlurTest, ThreePassesSpreadABlockExactlyThreeHalfWidthsAndKeepItsMiddle) {
    const struct {
        double radius;
        int halfWidth;
    } radii[] = {{0, 0}, {-4, 0}, {std::nan(""), 0}, {6, 3}, {7, 4}, {1e12, 50}};
    for (const auto& r : radii) {
        EXPECT_EQ(blurHalfWidth(r.radius), r.halfWidth) << r.radius;
        EXPECT_EQ(blurSpread(r.radius), 3 * r.halfWidth) << r.radius;
    }
    constexpr int size = 50;
    std::vector<std::uint8_t> plane(size * size, 0);
    for (int y = 15; y < 35; ++y) {
        for (int x = 15; x < 35; ++x) {
            plane[y * size + x] = 255;
        }
    }
    const auto unblurred = plane;
    boxBlur(plane, size, size, 0);
    EXPECT_EQ(plane, unblurred) << "half-width 0 leaves it crisp";
    boxBlur(plane, size, size, 2);
    const auto at = [&](int x, int y) { return plane[y * size + x]; };
    EXPECT_EQ(at(25, 25), 255);
    EXPECT_GT(at(34 + 6, 25), 0);
    EXPECT_EQ(at(34 + 7, 25), 0);
    EXPECT_GT(at(15 - 6, 25), 0);
    EXPECT_EQ(at(15 - 7, 25), 0);
    EXPECT_EQ(at(25, 34 + 6), at(34 + 6, 25)) << "the same both ways";
    EXPECT_LT(at(34, 25), 255) << "the edge softens";
    EXPECT_GT(at(34, 25), at(35, 25));
}

class ViewEffectTest : public ::testing::Test {
protected:
    ViewEffectTest() {
        parent.setFrame({0, 0, 80, 80});
        parent.setBackgroundColor(kWhite);
    }
    ui_test::UiWorld world;
    View parent;
};

TEST_F(ViewEffectTest, ALabelShadowIsItsTextInTheShadowColourAtTheOffset) {
    auto* label = new Label(&parent);
    label->setFrame({10, 10, 60, 30});
    label->setFontSize(20);
    label->setText("Hm");
    label->setTextColor({0, 0, 0, 1});
    const auto red = [](const QColor& c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
    const auto dark = [](const QColor& c) { return c.red() < 60 && c.green() < 60 && c.blue() < 60; };
    const QImage plain = drawn(parent);
    EXPECT_TRUE(boundsWhere(plain, red).isEmpty());

    label->setShadow(Shadow{{1, 0, 0, 1}, 1, 0, {3, 3}});
    const QImage image = drawn(parent);
    const QRect glyphs = boundsWhere(image, dark);
    const QRect shadow = boundsWhere(image, red);
    ASSERT_FALSE(glyphs.isEmpty());
    ASSERT_FALSE(shadow.isEmpty());
    EXPECT_EQ(shadow.bottomRight(), glyphs.bottomRight() + QPoint(3, 3));
    EXPECT_GE(shadow.left(), glyphs.left() + 3);
    EXPECT_GE(shadow.top(), glyphs.top() + 3);
    EXPECT_EQ(countWhere(image, dark), countWhere(plain, dark)) << "the shadow lies under the text";

    label->setShadow(std::nullopt);
    EXPECT_EQ(label->graphicsEffect(), nullptr);
    EXPECT_TRUE(boundsWhere(drawn(parent), red).isEmpty());
}

TEST_F(ViewEffectTest, OneEffectFadesTheViewAndItsShadowAndGoesWhenNeitherIsLeft) {
    auto* view = new View(&parent);
    view->setFrame({10, 10, 20, 20});
    view->setBackgroundColor({0, 1, 0, 1});
    view->setCornerRadius(4);  // the rounding clips the view, not its shadow
    view->setShadow(Shadow{{0, 0, 1, 1}, 1, 0, {20, 20}});
    view->setAlpha(0.5);
    ASSERT_NE(dynamic_cast<ViewEffect*>(view->graphicsEffect()), nullptr);
    const QImage image = drawn(parent);
    const QColor body = image.pixelColor(20, 20);
    const QColor cast = image.pixelColor(40, 40);
    EXPECT_NEAR(body.red(), 128, 2);
    EXPECT_EQ(body.green(), 255);
    EXPECT_NEAR(cast.red(), 128, 2);
    EXPECT_NEAR(cast.green(), 128, 2);
    EXPECT_EQ(cast.blue(), 255);

    view->setAlpha(1);
    EXPECT_EQ(drawn(parent).pixelColor(40, 40), QColor(0, 0, 255));
    view->setShadow(std::nullopt);
    EXPECT_EQ(view->graphicsEffect(), nullptr);
    EXPECT_EQ(drawn(parent).pixelColor(40, 40), QColor(255, 255, 255));
    view->setAlpha(0.5);
    EXPECT_NEAR(drawn(parent).pixelColor(20, 20).red(), 128, 2) << "the alpha alone still fades";
}

TEST_F(ViewEffectTest, ABlurredShadowSpreadsPastTheOffsetRectangleAtItsOpacity) {
    auto* view = new View(&parent);
    view->setFrame({20, 20, 20, 20});
    view->setBackgroundColor({0, 0, 0, 1});
    // The cast falls on (24, 24, 20, 20); a radius of 6 spreads it 9 points further, and the
    // bound allows 1.5 more for rounding at other pixel ratios (11 whole points).
    const struct {
        double radius;
        QRectF bounds;     // of a 20 × 20 view
        bool pastTheEdge;  // and soft inside it
    } cases[] = {{0, {0, 0, 24, 24}, false}, {6, {-7, -7, 42, 42}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.radius);
        view->setShadow(Shadow{{0, 0, 0, 1}, 0.5, c.radius, {4, 4}});
        EXPECT_EQ(view->graphicsEffect()->boundingRectFor(QRectF(0, 0, 20, 20)), c.bounds);
        const QImage image = drawn(parent);
        EXPECT_EQ(image.pixelColor(47, 34).red() < 255, c.pastTheEdge);
        EXPECT_EQ(image.pixelColor(54, 34).red(), 255) << "never past the spread";
        // Two points inside the cast's edge: half black when crisp, lighter when blurred.
        const int inside = image.pixelColor(42, 34).red();
        if (c.pastTheEdge) {
            EXPECT_GT(inside, 140);
            EXPECT_LT(inside, 250);
        } else {
            EXPECT_NEAR(inside, 128, 2);
        }
    }
}

}  // namespace
