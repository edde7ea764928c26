#include "ui/BNGravity.h"

#include <algorithm>

BNGravityState BNGravityAdvance(BNGravityState state, double dt, double magnitude,
                                double distance) {
    if (state.contact) {
        return state;
    }
    state.velocity += magnitude * kBNGravityPointsPerSecondSquared * dt;
    state.travelled += state.velocity * dt;
    if (state.travelled >= distance) {
        state.travelled = distance;
        state.contact = true;
    }
    return state;
}

std::optional<double> BNGravityDistance(std::span<const platform::ui::Rect> items,
                                        platform::ui::Point direction,
                                        platform::ui::Point boundary) {
    std::optional<double> nearest;
    for (const auto& r : items) {
        double gap = -1;
        if (direction.y > 0) {
            gap = boundary.y - (r.y + r.height);
        } else if (direction.y < 0) {
            gap = r.y - boundary.y;
        } else if (direction.x > 0) {
            gap = boundary.x - (r.x + r.width);
        } else if (direction.x < 0) {
            gap = r.x - boundary.x;
        }
        if (gap >= 0 && (!nearest || gap < *nearest)) {
            nearest = gap;
        }
    }
    return nearest;
}
