#include "platform/ui/Animator.h"

#include <QEasingCurve>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

#include "platform/foundation/RunLoop.h"

namespace platform::ui {

namespace {

// Everything but this share of the distance is covered by the end of the animation; the
// rest is scaled away so that the curve ends exactly at 1.
constexpr double kSettled = 1e-3;

// A unit of progress lasts the whole animation; the spring starts one unit from its rest.
// The natural frequency is chosen so that the slowest decaying part has settled by the end.
double rawSpring(double damping, double velocity, double t) {
    // The start's speed must have died away too, or scaling to end at 1 would magnify it.
    const double decay = -std::log(kSettled) + std::log1p(std::abs(velocity));
    if (damping < 1) {
        const double omega = decay / damping;
        const double omegaD = omega * std::sqrt(1 - damping * damping);
        const double a = -1;
        const double b = (velocity + damping * omega * a) / omegaD;
        return 1 + std::exp(-damping * omega * t) *
                       (a * std::cos(omegaD * t) + b * std::sin(omegaD * t));
    }
    const double root = std::sqrt(damping * damping - 1);
    const double omega = decay / (damping - root);
    if (root < 1e-9) {
        const double b = velocity - omega;
        return 1 + (-1 + b * t) * std::exp(-omega * t);
    }
    const double slow = -omega * (damping - root);
    const double fast = -omega * (damping + root);
    const double cSlow = (velocity + fast) / (slow - fast);
    const double cFast = -1 - cSlow;
    return 1 + cSlow * std::exp(slow * t) + cFast * std::exp(fast * t);
}

QEasingCurve easing(Curve curve) {
    switch (curve) {
        case Curve::linear:
            return QEasingCurve(QEasingCurve::Linear);
        case Curve::easeIn:
            return QEasingCurve(QEasingCurve::InQuad);
        case Curve::easeOut:
            return QEasingCurve(QEasingCurve::OutQuad);
        case Curve::easeInOut:
            return QEasingCurve(QEasingCurve::InOutQuad);
        case Curve::spring:
            break;
    }
    return QEasingCurve(QEasingCurve::Linear);
}

}  // namespace

double springValue(const Spring& spring, double duration, double t) {
    if (t <= 0) {
        return 0;
    }
    if (t >= 1) {
        return 1;
    }
    // No damping would never settle; a spring that does not move would divide by nothing.
    const double damping = std::clamp(spring.damping, 0.05, 100.0);
    const double velocity =
        std::isfinite(spring.initialVelocity) ? spring.initialVelocity * std::max(0.0, duration) : 0;
    const double end = rawSpring(damping, velocity, 1.0);
    if (!std::isfinite(end) || std::abs(end - 1) > 0.5) {
        return t;
    }
    return rawSpring(damping, velocity, t) / end;
}

double curveValue(Curve curve, double t) {
    t = std::clamp(t, 0.0, 1.0);
    if (curve == Curve::spring) {
        return springValue(Spring{}, 1.0, t);
    }
    return easing(curve).valueForProgress(t);
}

double animationValue(const Animation& animation, double t) {
    if (animation.curve == Curve::spring) {
        return springValue(animation.spring, animation.duration, std::clamp(t, 0.0, 1.0));
    }
    return curveValue(animation.curve, t);
}

Animator& Animator::current() {
    return installedOr([]() -> Animator& {
        static QtAnimator animator;
        return animator;
    });
}

void QtAnimator::animate(Animation animation) {
    auto* qt = new QVariantAnimation();
    qt->setStartValue(0.0);
    qt->setEndValue(1.0);
    qt->setDuration(static_cast<int>(std::lround(std::max(0.0, animation.duration) * 1000)));
    // Qt runs the progress linearly; our curves (the spring's parameters among them) ease it.
    qt->setEasingCurve(QEasingCurve(QEasingCurve::Linear));
    auto step = std::move(animation.step);
    auto completion = std::move(animation.completion);
    if (step) {
        QObject::connect(qt, &QVariantAnimation::valueChanged,
                         [step, shape = Animation{animation.duration, animation.curve, {}, {},
                                                  animation.spring}](const QVariant& value) {
                             step(animationValue(shape, value.toDouble()));
                         });
    }
    QObject::connect(qt, &QVariantAnimation::finished, [step, completion] {
        if (step) {
            step(1.0);
        }
        if (completion) {
            completion(true);
        }
    });
    qt->start(QAbstractAnimation::DeleteWhenStopped);
}

void RecordingAnimator::animate(Animation animation) {
    records_->push_back(Record{animation.duration, animation.curve, false, animation.spring});
    const std::size_t index = records_->size() - 1;
    if (animation.step) {
        animation.step(0.0);
    }
    loop_.postDelayed(std::max(0.0, animation.duration),
                      [records = records_, index, step = std::move(animation.step),
                       completion = std::move(animation.completion)] {
                          if (step) {
                              step(1.0);
                          }
                          (*records)[index].finished = true;
                          if (completion) {
                              completion(true);
                          }
                      });
}

}  // namespace platform::ui
