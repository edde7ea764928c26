#pragma once

#include "platform/foundation/Replaceable.h"

namespace platform {

// What the user allowed the application to know of the phone's position; the values are the
// platform's own.
enum class LocationAuthorization {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    always = 3,
    whenInUse = 4,
};

// The phone's location services, as far as the application asks about them.
class LocationServices : public Replaceable<LocationServices> {
public:
    virtual ~LocationServices() = default;

    // The user has the phone's location services switched on.
    [[nodiscard]] virtual bool servicesEnabled() const = 0;
    [[nodiscard]] virtual LocationAuthorization authorization() const = 0;

    // The installed services, else those of this machine, which has no position source:
    // switched off, never asked.
    static LocationServices& current();
};

// Answers fixed at construction: for tests, and for runs that stand in for a phone.
class FixedLocationServices final : public LocationServices {
public:
    FixedLocationServices(bool enabled, LocationAuthorization authorization)
        : enabled_(enabled), authorization_(authorization) {}

    [[nodiscard]] bool servicesEnabled() const override { return enabled_; }
    [[nodiscard]] LocationAuthorization authorization() const override { return authorization_; }

private:
    bool enabled_;
    LocationAuthorization authorization_;
};

}  // namespace platform
