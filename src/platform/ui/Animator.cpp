#include "platform/ui/Animator.h"

#include <QEasingCurve>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/foundation/RunLoop.h"

namespace platform::ui {

namespace {

// A critically under-damped spring that settles within the animation: damping ratio 0.6,
// normalised so that it ends exactly at 1.
double spring(double t) {
    constexpr double kDamping = 0.6;
    constexpr double kOmega = 12.0;  // natural frequency over the unit of progress
    const double omegaD = kOmega * std::sqrt(1 - kDamping * kDamping);
    auto raw = [&](double x) {
        return 1 - std::exp(-kDamping * kOmega * x) *
                       (std::cos(omegaD * x) + kDamping * kOmega / omegaD * std::sin(omegaD * x));
    };
    if (t <= 0) {
        return 0;
    }
    if (t >= 1) {
        return 1;
    }
    return raw(t) / raw(1.0);
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
        case Curve::spring: {
            QEasingCurve custom;
            custom.setCustomType(&spring);
            return custom;
        }
    }
    return QEasingCurve(QEasingCurve::Linear);
}

}  // namespace

double curveValue(Curve curve, double t) {
    t = std::clamp(t, 0.0, 1.0);
    if (curve == Curve::spring) {
        return spring(t);
    }
    return easing(curve).valueForProgress(t);
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
    qt->setEasingCurve(easing(animation.curve));
    auto step = std::move(animation.step);
    auto completion = std::move(animation.completion);
    if (step) {
        QObject::connect(qt, &QVariantAnimation::valueChanged,
                         [step](const QVariant& value) { step(value.toDouble()); });
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
    records_->push_back(Record{animation.duration, animation.curve, false});
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
