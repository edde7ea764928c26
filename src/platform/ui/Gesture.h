#pragma once

#include <QObject>
#include <QWidget>
#include <functional>
#include <optional>

#include "platform/ui/View.h"

namespace platform::ui {

enum class SwipeDirection { up, left, down, right };

// One recognised gesture: a tap of one or two fingers, the first or second of a quick series,
// or a swipe of one finger in a direction.
struct Gesture {
    enum class Kind { tap, swipe };
    Kind kind = Kind::tap;
    SwipeDirection direction = SwipeDirection::right;
    int touches = 1;
    int taps = 1;
    friend bool operator==(const Gesture&, const Gesture&) = default;
};

// A finished stroke as a gesture: at least kSwipeDistance along one axis, more than along the
// other, is a swipe that way; within kTapSlop of the start it is a tap; else nothing.
[[nodiscard]] std::optional<Gesture> classifyStroke(Point from, Point to, int touches);

// Recognises taps and swipes over a widget from its mouse and touch events (Qt's own gesture
// classes ignore a mouse). A touch tap within kDoubleTapInterval of the last one, near it and
// with as many fingers, or a mouse double click, is reported again with taps = 2.
class GestureRecognizer : public QObject {
public:
    static constexpr double kSwipeDistance = 30;
    static constexpr double kTapSlop = 10;
    static constexpr double kDoubleTapInterval = 0.35;

    GestureRecognizer(QWidget& target, std::function<void(const Gesture&)> recognized);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void begin(Point at, unsigned long timestamp);
    void end(Point at, unsigned long timestamp);

    std::function<void(const Gesture&)> recognized_;
    bool tracking_ = false;
    bool doubleClick_ = false;
    Point start_;
    int touches_ = 0;
    bool lastWasTap_ = false;
    Point lastTapAt_;
    int lastTapTouches_ = 0;
    unsigned long lastTapTime_ = 0;
};

}  // namespace platform::ui
