#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/ui/View.h"

// The banner's fall under gravity onto a boundary line: a small fixed-step integrator along
// the one axis the fall follows, with bouncing off the line and between the items. A pure
// function, so that tests step it on the virtual clock and the manager steps it on a timer.

// A magnitude of 1 accelerates by this many points per second squared.
inline constexpr double kBNGravityPointsPerSecondSquared = 1000;
// The step of the timer that drives the fall.
inline constexpr double kBNGravityStep = 1.0 / 60;
// The share of the closing speed that a collision gives back.
inline constexpr double kBNGravityElasticity = 0.4;
// However weak the pull, a fall ends after this many seconds, where it stands.
inline constexpr double kBNGravityLongest = 10;

// One item, measured along the fall: its trailing edge and its extent, both growing in the
// direction of the fall.
struct BNGravityItem {
    double position = 0;
    double length = 0;
    double mass = 1;
    double velocity = 0;
    // Takes part in the collisions (with the line and with the other colliding items);
    // otherwise it only falls.
    bool collides = true;
    // Still before the line when the fall began: the line stops it.
    bool meetsBoundary = false;
    bool onBoundary = false;

    [[nodiscard]] double leading() const { return position + length; }
};

struct BNGravityWorld {
    std::vector<BNGravityItem> items;
    double boundary = 0;      // the line, along the fall
    double acceleration = 0;  // points per second squared, along the fall
    // The colliding items, frontmost first, as they stood at the start: they never pass
    // each other.
    std::vector<std::size_t> order;
    // Neighbours in that order (the one behind first) touching since they met.
    std::vector<std::pair<std::size_t, std::size_t>> touching;
    double elapsed = 0;
    // Every colliding item rests on the line or on another item, or the fall took its
    // longest: it is over.
    bool settled = false;
};

// Contacts that ended during a step: an item left the line, or two items parted.
struct BNGravityEvents {
    std::vector<std::size_t> leftBoundary;
    std::vector<std::pair<std::size_t, std::size_t>> parted;
};

// What falls: a frame, and whether it takes part in the collisions.
struct BNGravityBody {
    platform::ui::Rect frame;
    bool collides = true;
};

// A fall of these bodies along the unit axis `direction` (one of the four) towards the line
// through `boundary`. The magnitude scales kBNGravityPointsPerSecondSquared.
[[nodiscard]] BNGravityWorld BNGravityStart(std::span<const BNGravityBody> bodies,
                                            platform::ui::Point direction,
                                            platform::ui::Point boundary, double magnitude);

// Whether the fall can ever meet the line: gravity pulls towards it and some colliding item is
// still before it. A fall that cannot would never end.
[[nodiscard]] bool BNGravityReachesBoundary(const BNGravityWorld& world);

// One step of semi-implicit Euler, then the collisions; a settled world stays as it is.
[[nodiscard]] std::pair<BNGravityWorld, BNGravityEvents> BNGravityAdvance(BNGravityWorld world,
                                                                          double dt);

// The rectangle moved as far along `direction` as its item travelled.
[[nodiscard]] platform::ui::Rect BNGravityFrame(const platform::ui::Rect& start,
                                                const BNGravityItem& startItem,
                                                const BNGravityItem& item,
                                                platform::ui::Point direction);
