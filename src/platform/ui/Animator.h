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

// The curve's value at t (0 to 1): 0 at 0 and 1 at 1; the spring overshoots on the way.
[[nodiscard]] double curveValue(Curve curve, double t);

// One animation: progress runs through the curve from 0 to 1 over the duration; step is told
// each eased value and finished once at the end (also when the animation ends early because
// its owner went away, with finished(false)).
struct Animation {
    double duration = 0.3;
    Curve curve = Curve::easeInOut;
    std::function<void(double value)> step;
    std::function<void(bool finished)> completion;
};

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
    };
    [[nodiscard]] const std::vector<Record>& records() const { return *records_; }

private:
    RunLoop& loop_;
    std::shared_ptr<std::vector<Record>> records_ = std::make_shared<std::vector<Record>>();
};

}  // namespace platform::ui
