#pragma once

#include <optional>
#include <span>

#include "platform/ui/View.h"

// The banner's fall under gravity until its leading edge meets a boundary line: a small
// fixed-step integrator, a pure function so that tests step it on the virtual clock.
struct BNGravityState {
    double travelled = 0;  // points along the gravity direction
    double velocity = 0;   // points per second
    bool contact = false;  // the boundary was reached: the fall is over
};

// A magnitude of 1 accelerates by this many points per second squared.
inline constexpr double kBNGravityPointsPerSecondSquared = 1000;
// The step of the timer that drives the fall.
inline constexpr double kBNGravityStep = 1.0 / 60;

// One step of semi-implicit Euler; stops exactly at `distance` and reports contact there.
[[nodiscard]] BNGravityState BNGravityAdvance(BNGravityState state, double dt, double magnitude,
                                              double distance);

// How far items can fall along the unit direction (one axis) before the first leading edge
// meets the boundary through `boundary`; items already past the line do not stop the fall.
// Nothing when no item is headed for it.
[[nodiscard]] std::optional<double> BNGravityDistance(std::span<const platform::ui::Rect> items,
                                                      platform::ui::Point direction,
                                                      platform::ui::Point boundary);
