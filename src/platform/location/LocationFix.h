#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platform {

// One position report of the location services. Everything here is inline so that code which
// only carries fixes (the exercise monitor's library among it) needs no part of the layer's
// library.
struct LocationFix {
    double latitude = 0;   // degrees
    double longitude = 0;  // degrees
    double altitude = 0;   // metres
    // Radius of uncertainty in metres; negative when the value is unknown.
    double horizontalAccuracy = -1;
    double verticalAccuracy = -1;
    // Degrees clockwise from north and metres per second; negative when the fix carries none.
    double course = -1;
    double speed = -1;
    // Seconds since 1970.
    double timestamp = 0;

    friend bool operator==(const LocationFix&, const LocationFix&) = default;
};

// Great-circle distance in metres on a sphere of the Earth's mean radius.
[[nodiscard]] inline double distanceBetween(const LocationFix& from, const LocationFix& to) {
    constexpr double kEarthRadius = 6'371'008.8;
    constexpr double kRadians = std::numbers::pi / 180.0;
    const double lat1 = from.latitude * kRadians;
    const double lat2 = to.latitude * kRadians;
    const double dLat = lat2 - lat1;
    const double dLon = (to.longitude - from.longitude) * kRadians;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1) * std::cos(lat2) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadius * std::asin(std::sqrt(std::min(1.0, a)));
}

}  // namespace platform
