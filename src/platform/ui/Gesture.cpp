#include "platform/ui/Gesture.h"

#include <QMouseEvent>
#include <QTouchEvent>
#include <algorithm>
#include <cmath>
#include <utility>

namespace platform::ui {

std::optional<Gesture> classifyStroke(Point from, Point to, int touches) {
    const double dx = to.x - from.x;
    const double dy = to.y - from.y;
    if (std::hypot(dx, dy) <= GestureRecognizer::kTapSlop) {
        return Gesture{Gesture::Kind::tap, SwipeDirection::right, touches, 1};
    }
    if (std::abs(dx) >= GestureRecognizer::kSwipeDistance && std::abs(dx) > std::abs(dy)) {
        return Gesture{Gesture::Kind::swipe, dx < 0 ? SwipeDirection::left : SwipeDirection::right,
                       touches, 1};
    }
    if (std::abs(dy) >= GestureRecognizer::kSwipeDistance && std::abs(dy) > std::abs(dx)) {
        return Gesture{Gesture::Kind::swipe, dy < 0 ? SwipeDirection::up : SwipeDirection::down,
                       touches, 1};
    }
    return std::nullopt;
}

GestureRecognizer::GestureRecognizer(QWidget& target,
                                     std::function<void(const Gesture&)> recognized)
    : QObject(&target), recognized_(std::move(recognized)) {
    target.setAttribute(Qt::WA_AcceptTouchEvents);
    target.installEventFilter(this);
}

void GestureRecognizer::begin(Point at, unsigned long /*timestamp*/) {
    tracking_ = true;
    start_ = at;
}

void GestureRecognizer::end(Point at, unsigned long timestamp) {
    if (!tracking_) {
        return;
    }
    tracking_ = false;
    auto gesture = classifyStroke(start_, at, std::max(1, touches_));
    touches_ = 0;
    if (!gesture) {
        lastWasTap_ = false;
        return;
    }
    if (gesture->kind == Gesture::Kind::tap) {
        const bool second = std::exchange(doubleClick_, false) ||
                            (lastWasTap_ && lastTapTouches_ == gesture->touches &&
                            timestamp >= lastTapTime_ &&
                            double(timestamp - lastTapTime_) <= kDoubleTapInterval * 1000 &&
                            std::hypot(at.x - lastTapAt_.x, at.y - lastTapAt_.y) <= 2 * kTapSlop);
        gesture->taps = second ? 2 : 1;
        // A third tap starts a new series.
        lastWasTap_ = !second;
        lastTapAt_ = at;
        lastTapTouches_ = gesture->touches;
        lastTapTime_ = timestamp;
    } else {
        lastWasTap_ = false;
    }
    if (recognized_) {
        recognized_(*gesture);
    }
}

bool GestureRecognizer::eventFilter(QObject* /*watched*/, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->source() != Qt::MouseEventNotSynthesized) {
                return true;  // the touch events already tell it
            }
            // The mouse's own double-click timing decides a second click.
            doubleClick_ = event->type() == QEvent::MouseButtonDblClick;
            touches_ = 1;
            begin({mouse->position().x(), mouse->position().y()}, mouse->timestamp());
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->source() != Qt::MouseEventNotSynthesized) {
                return true;
            }
            end({mouse->position().x(), mouse->position().y()}, mouse->timestamp());
            return true;
        }
        case QEvent::MouseMove:
            return tracking_;
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd: {
            auto* touch = static_cast<QTouchEvent*>(event);
            const auto& points = touch->points();
            if (points.empty()) {
                return true;
            }
            // The first finger's path decides; the largest number of fingers down counts.
            const QPointF at = points.front().position();
            if (event->type() == QEvent::TouchBegin) {
                touches_ = 0;
                begin({at.x(), at.y()}, touch->timestamp());
            }
            touches_ = std::max<int>(touches_, static_cast<int>(points.size()));
            if (event->type() == QEvent::TouchEnd) {
                end({at.x(), at.y()}, touch->timestamp());
            }
            event->accept();
            return true;
        }
        case QEvent::TouchCancel:
            tracking_ = false;
            touches_ = 0;
            return true;
        default:
            return false;
    }
}

}  // namespace platform::ui
