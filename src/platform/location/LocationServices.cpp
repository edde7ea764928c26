#include "platform/location/LocationServices.h"

namespace platform {

LocationServices& LocationServices::current() {
    return installedOr([]() -> LocationServices& {
        static FixedLocationServices none(false, LocationAuthorization::notDetermined);
        return none;
    });
}

}  // namespace platform
