#include "ui/BNGravity.h"

#include <algorithm>
#include <cmath>

namespace ui = platform::ui;

namespace {

// Gaps below this count as touching: items falling side by side drift apart by rounding only.
constexpr double kSlop = 1e-6;
// Passes of the velocity solver: stacked items pass their pushes along one neighbour a pass.
constexpr int kSolverPasses = 10;

ui::Point axisOf(ui::Point direction) {
    const double length = std::hypot(direction.x, direction.y);
    if (!(length > 0) || !std::isfinite(length)) {
        return {0, 0};
    }
    return {direction.x / length, direction.y / length};
}

double along(ui::Point p, ui::Point axis) {
    return p.x * axis.x + p.y * axis.y;
}

bool touches(const BNGravityWorld& world, std::size_t behind, std::size_t ahead) {
    return std::find(world.touching.begin(), world.touching.end(), std::pair{behind, ahead}) !=
           world.touching.end();
}

// Items whose fall something stops now: on the line, or touching an item ahead that is.
std::vector<bool> supported(const BNGravityWorld& world, const std::vector<std::size_t>& order) {
    std::vector<bool> held(world.items.size(), false);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        const auto& item = world.items[i];
        held[i] =
            item.onBoundary || (k > 0 && held[order[k - 1]] && touches(world, i, order[k - 1]));
    }
    return held;
}

}  // namespace

BNGravityWorld BNGravityStart(std::span<const BNGravityBody> bodies, ui::Point direction,
                              ui::Point boundary, double magnitude) {
    const ui::Point axis = axisOf(direction);
    BNGravityWorld world;
    world.boundary = along(boundary, axis);
    world.acceleration = std::isfinite(magnitude) && (axis.x != 0 || axis.y != 0)
                             ? magnitude * kBNGravityPointsPerSecondSquared
                             : 0;
    for (const auto& body : bodies) {
        const ui::Rect& r = body.frame;
        const double corners[] = {along({r.x, r.y}, axis), along({r.x + r.width, r.y}, axis),
                                  along({r.x, r.y + r.height}, axis),
                                  along({r.x + r.width, r.y + r.height}, axis)};
        const auto [low, high] = std::minmax_element(std::begin(corners), std::end(corners));
        BNGravityItem item;
        item.position = *low;
        item.length = *high - *low;
        item.mass = std::max(1.0, r.width * r.height);
        item.collides = body.collides;
        item.meetsBoundary = item.collides && item.leading() <= world.boundary + kSlop;
        world.items.push_back(item);
        if (item.collides) {
            world.order.push_back(world.items.size() - 1);
        }
    }
    std::stable_sort(world.order.begin(), world.order.end(), [&](std::size_t a, std::size_t b) {
        return world.items[a].position > world.items[b].position;
    });
    return world;
}

bool BNGravityReachesBoundary(const BNGravityWorld& world) {
    return world.acceleration > 0 &&
           std::any_of(world.items.begin(), world.items.end(),
                       [](const BNGravityItem& item) { return item.meetsBoundary; });
}

std::pair<BNGravityWorld, BNGravityEvents> BNGravityAdvance(BNGravityWorld world, double dt) {
    BNGravityEvents events;
    if (world.settled || !(dt > 0)) {
        return {std::move(world), events};
    }
    // Slower than what gravity adds in two steps, a bounce is not worth showing: it stops.
    const double restSpeed = 2 * world.acceleration * dt;
    for (auto& item : world.items) {
        item.velocity += world.acceleration * dt;
        item.position += item.velocity * dt;
    }

    // Positions: nothing passes the line or the item ahead of it.
    const auto& order = world.order;
    for (std::size_t k = 0; k < order.size(); ++k) {
        auto& item = world.items[order[k]];
        double limit = item.meetsBoundary ? world.boundary : HUGE_VAL;
        if (k > 0) {
            limit = std::min(limit, world.items[order[k - 1]].position);
        }
        if (item.leading() > limit) {
            item.position = limit - item.length;
        }
    }

    // Velocities: each contact gives back its share of the speed it closed at, however many
    // passes it takes the neighbours to agree. What the line holds does not give way to an
    // item pressing on it from behind, however heavy.
    struct BoundaryContact {
        std::size_t item;
        double target;  // the velocity it leaves with, at most
    };
    struct PairContact {
        std::size_t behind, ahead;
        double target;  // the speed at which they part, at least
        bool aheadHeld;
    };
    std::vector<BoundaryContact> onLine;
    std::vector<PairContact> pairs;
    std::vector<bool> held(world.items.size(), false);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        auto& item = world.items[i];
        if (item.meetsBoundary && item.leading() >= world.boundary - kSlop && item.velocity > 0) {
            const double target =
                item.velocity < restSpeed ? 0 : -kBNGravityElasticity * item.velocity;
            onLine.push_back({i, target});
            item.onBoundary = true;
            held[i] = true;
        }
        if (k > 0) {
            const std::size_t j = order[k - 1];
            const auto& ahead = world.items[j];
            if (item.leading() >= ahead.position - kSlop) {
                const double closing = std::max(0.0, item.velocity - ahead.velocity);
                pairs.push_back(
                    {i, j, closing < restSpeed ? 0 : kBNGravityElasticity * closing, held[j]});
                held[i] = held[i] || held[j];
                if (!touches(world, i, j)) {
                    world.touching.emplace_back(i, j);
                }
            }
        }
    }
    for (int pass = 0; pass < kSolverPasses; ++pass) {
        for (const auto& contact : onLine) {
            auto& item = world.items[contact.item];
            item.velocity = std::min(item.velocity, contact.target);
        }
        for (const auto& contact : pairs) {
            auto& behind = world.items[contact.behind];
            auto& ahead = world.items[contact.ahead];
            const double missing = contact.target - (ahead.velocity - behind.velocity);
            if (missing <= 0) {
                continue;
            }
            if (contact.aheadHeld) {
                behind.velocity -= missing;
                continue;
            }
            const double impulse = missing / (1 / behind.mass + 1 / ahead.mass);
            behind.velocity -= impulse / behind.mass;
            ahead.velocity += impulse / ahead.mass;
        }
    }

    // Contacts that opened up during the step have ended.
    for (std::size_t i = 0; i < world.items.size(); ++i) {
        auto& item = world.items[i];
        if (item.onBoundary && world.boundary - item.leading() > kSlop) {
            item.onBoundary = false;
            events.leftBoundary.push_back(i);
        }
    }
    std::erase_if(world.touching, [&](const std::pair<std::size_t, std::size_t>& pair) {
        if (world.items[pair.second].position - world.items[pair.first].leading() > kSlop) {
            events.parted.push_back(pair);
            return true;
        }
        return false;
    });

    // Over once every item that can meet the line, or lean on one that did, has come to rest;
    // or once the fall has taken its longest.
    const auto supports = supported(world, order);
    bool resting = false;
    bool moving = false;
    for (const std::size_t i : order) {
        const auto& item = world.items[i];
        const bool counts =
            item.meetsBoundary || std::any_of(world.touching.begin(), world.touching.end(),
                                              [&](const auto& pair) { return pair.first == i; });
        if (!counts) {
            continue;
        }
        if (supports[i] && std::abs(item.velocity) <= restSpeed) {
            resting = true;
        } else {
            moving = true;
        }
    }
    world.elapsed += dt;
    if ((resting && !moving) || world.elapsed >= kBNGravityLongest) {
        world.settled = true;
        for (auto& item : world.items) {
            item.velocity = 0;
        }
    }
    return {std::move(world), events};
}

ui::Rect BNGravityFrame(const ui::Rect& start, const BNGravityItem& startItem,
                        const BNGravityItem& item, ui::Point direction) {
    const ui::Point axis = axisOf(direction);
    const double travelled = item.position - startItem.position;
    ui::Rect r = start;
    r.x += axis.x * travelled;
    r.y += axis.y * travelled;
    return r;
}
