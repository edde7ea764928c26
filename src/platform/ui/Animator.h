#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/Replaceable.h"

namespace platform {
class RunLoop;
}

namespace platform::ui {

enum class Curve { linear, easeIn, easeOut, easeInOut, spring };

// How a spring curve moves: a damped spring released towards its rest, tuned so that it
// settles within the animation's duration.
struct Spring {
    // Below 1 it swings past its rest, the further the lower it is; from 1 on it does not.
    double damping = 0.6;
    // At the start, in shares of the whole distance per second (negative: away first).
    double initialVelocity = 0;
    friend bool operator==(const Spring&, const Spring&) = default;
};

// The curve's value at t (0 to 1): 0 at 0 and 1 at 1; the spring (the default one, at rest at
// the start) overshoots on the way.
[[nodiscard]] double curveValue(Curve curve, double t);
// The spring's value at t (0 to 1) of an animation lasting `duration` seconds: 0 at 0, 1 at 1.
[[nodiscard]] double springValue(const Spring& spring, double duration, double t);

// One animation: progress runs through the curve from 0 to 1 over the duration; step is told
// each eased value and finished once at the end (also when the animation ends early because
// its owner went away, with finished(false)).
struct Animation {
    double duration = 0.3;
    Curve curve = Curve::easeInOut;
    std::function<void(double value)> step;
    std::function<void(bool finished)> completion;
    // Read for the spring curve only.
    Spring spring;
};

// The eased value of the animation at progress t (0 to 1).
[[nodiscard]] double animationValue(const Animation& animation, double t);

// Every animation of the interface goes through one animator, so that tests can complete
// them on the virtual clock.
class Animator : public Replaceable<Animator> {
public:
    virtual ~Animator() = default;
    virtual void animate(Animation animation) = 0;

    // The installed animator, else a QtAnimator.
    static Animator& current();
};

// Qt's property animations (a variant animation with the curve's easing) on Qt's event loop.
class QtAnimator final : public Animator {
public:
    void animate(Animation animation) override;
};

// Tests: steps to the end and completes each animation when the loop's virtual clock has
// moved by its duration; keeps what it was asked.
class RecordingAnimator final : public Animator {
public:
    explicit RecordingAnimator(RunLoop& loop) : loop_(loop) {}
    void animate(Animation animation) override;

    struct Record {
        double duration = 0;
        Curve curve = Curve::linear;
        bool finished = false;
        Spring spring;
    };
    [[nodiscard]] const std::vector<Record>& records() const { return *records_; }

private:
    RunLoop& loop_;
    std::shared_ptr<std::vector<Record>> records_ = std::make_shared<std::vector<Record>>();
};

}  // namespace platform::ui
