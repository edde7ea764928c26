#include <gtest/gtest.h>

#include <QPointingDevice>
#include <QTest>
#include <vector>

#include "platform/ui/Gesture.h"
#include "ui/UiWorld.h"

namespace {

using namespace platform::ui;
using ui_test::UiWorld;

TEST(GestureTest, StrokesBecomeTapsOrSwipesByDistanceAndAxis) {
    const struct {
        Point to;
        std::optional<Gesture> expected;
    } cases[] = {
        {{100, 100}, Gesture{Gesture::Kind::tap, SwipeDirection::right, 1, 1}},
        {{107, 107}, Gesture{Gesture::Kind::tap, SwipeDirection::right, 1, 1}},  // within the slop
        {{115, 100}, std::nullopt},                                            // neither
        {{100, 60}, Gesture{Gesture::Kind::swipe, SwipeDirection::up, 1, 1}},
        {{100, 140}, Gesture{Gesture::Kind::swipe, SwipeDirection::down, 1, 1}},
        {{60, 110}, Gesture{Gesture::Kind::swipe, SwipeDirection::left, 1, 1}},
        {{140, 90}, Gesture{Gesture::Kind::swipe, SwipeDirection::right, 1, 1}},
        {{135, 135}, std::nullopt},  // diagonal: no axis wins
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classifyStroke({100, 100}, c.to, 1), c.expected) << c.to.x << "," << c.to.y;
    }
}

class GestureEventsTest : public ::testing::Test {
protected:
    GestureEventsTest() {
        target.setFrame({0, 0, 300, 100});
        target.show();
    }
    UiWorld world;
    View target;
    std::vector<Gesture> seen;
    GestureRecognizer recognizer{target, [this](const Gesture& g) { seen.push_back(g); }};
};

TEST_F(GestureEventsTest, MouseClicksDoubleClicksAndDrags) {
    QTest::mouseClick(&target, Qt::LeftButton, {}, QPoint(50, 50));
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0], (Gesture{Gesture::Kind::tap, SwipeDirection::right, 1, 1}));
    // A double click: its first click is one tap, its second the second tap.
    seen.clear();
    // As Qt delivers one: press, release, double-click (in place of the second press), release.
    QTest::mouseClick(&target, Qt::LeftButton, {}, QPoint(52, 50));
    QTest::mouseDClick(&target, Qt::LeftButton, {}, QPoint(52, 50));
    QTest::mouseRelease(&target, Qt::LeftButton, {}, QPoint(52, 50));
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[0].taps, 1);
    EXPECT_EQ(seen[1].taps, 2);
    QTest::mouseClick(&target, Qt::LeftButton, {}, QPoint(52, 50));
    EXPECT_EQ(seen.back().taps, 1) << "a click well after is a first tap again";

    seen.clear();
    const struct {
        QPoint from, to;
        SwipeDirection direction;
    } drags[] = {{{150, 80}, {150, 20}, SwipeDirection::up},
                 {{150, 20}, {150, 80}, SwipeDirection::down},
                 {{200, 50}, {100, 55}, SwipeDirection::left},
                 {{100, 50}, {200, 45}, SwipeDirection::right}};
    for (const auto& d : drags) {
        QTest::mousePress(&target, Qt::LeftButton, {}, d.from);
        QTest::mouseMove(&target, (d.from + d.to) / 2);
        QTest::mouseRelease(&target, Qt::LeftButton, {}, d.to, 20);
    }
    ASSERT_EQ(seen.size(), 4U);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].kind, Gesture::Kind::swipe);
        EXPECT_EQ(seen[i].direction, drags[i].direction);
    }
}

TEST_F(GestureEventsTest, TouchesCountTheirFingers) {
    static QPointingDevice* device = QTest::createTouchDevice();
    QTest::touchEvent(&target, device).press(0, QPoint(40, 40));
    QTest::touchEvent(&target, device).release(0, QPoint(40, 40));
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0], (Gesture{Gesture::Kind::tap, SwipeDirection::right, 1, 1}));

    QTest::touchEvent(&target, device).press(0, QPoint(100, 40)).press(1, QPoint(140, 40));
    QTest::touchEvent(&target, device).release(0, QPoint(100, 40)).release(1, QPoint(140, 40));
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[1].kind, Gesture::Kind::tap);
    EXPECT_EQ(seen[1].touches, 2);

    QTest::touchEvent(&target, device).press(0, QPoint(250, 50));
    QTest::touchEvent(&target, device).move(0, QPoint(200, 50));
    QTest::touchEvent(&target, device).release(0, QPoint(150, 50));
    ASSERT_EQ(seen.size(), 3U);
    EXPECT_EQ(seen[2], (Gesture{Gesture::Kind::swipe, SwipeDirection::left, 1, 1}));

    // Two quick taps of two fingers: the second is a double tap.
    for (int i = 0; i < 2; ++i) {
        QTest::touchEvent(&target, device).press(0, QPoint(100, 40)).press(1, QPoint(140, 40));
        QTest::touchEvent(&target, device).release(0, QPoint(100, 40)).release(1, QPoint(140, 40));
    }
    ASSERT_EQ(seen.size(), 5U);
    EXPECT_EQ(seen[4], (Gesture{Gesture::Kind::tap, SwipeDirection::right, 2, 2}));
}

}  // namespace
