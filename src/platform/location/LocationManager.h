#pragma once

#include <span>

#include "platform/foundation/Result.h"
#include "platform/location/LocationFix.h"
#include "platform/location/LocationServices.h"

namespace platform {

// How close the client wants its fixes; the platform's named levels.
enum class LocationAccuracy {
    bestForNavigation,
    best,
    nearestTenMeters,
    hundredMeters,
    kilometer,
    threeKilometers,
};

// Hears a location manager, always on the manager's run loop.
class LocationManagerDelegate {
public:
    virtual ~LocationManagerDelegate() = default;
    // One or more fixes, oldest first.
    virtual void didUpdateLocations(std::span<const LocationFix> fixes) = 0;
    virtual void didFailWithError(const Error& error) { (void)error; }
    // The authorisation as it stands after a change, or after a start that learnt it.
    virtual void didChangeAuthorization(LocationAuthorization status) { (void)status; }
};

// A source of fixes that the client starts and stops, and the answers on the services it runs
// on. One client at a time; on its run loop.
class LocationManager : public LocationServices {
public:
    // Borrowed; null stops the reports.
    virtual void setDelegate(LocationManagerDelegate* delegate) = 0;
    virtual void setDesiredAccuracy(LocationAccuracy accuracy) = 0;
    [[nodiscard]] virtual LocationAccuracy desiredAccuracy() const = 0;
    // Whether the source may pause by itself while the position does not change; no source of
    // this machine ever does, so it is only kept.
    virtual void setPausesLocationUpdatesAutomatically(bool pauses) = 0;
    virtual void startUpdatingLocation() = 0;
    virtual void stopUpdatingLocation() = 0;
    [[nodiscard]] virtual bool isUpdating() const = 0;
};

// The state every backend keeps the same way.
class LocationManagerBase : public LocationManager {
public:
    void setDelegate(LocationManagerDelegate* delegate) override { delegate_ = delegate; }
    void setDesiredAccuracy(LocationAccuracy accuracy) override {
        accuracy_ = accuracy;
        accuracyChanged();
    }
    [[nodiscard]] LocationAccuracy desiredAccuracy() const override { return accuracy_; }
    void setPausesLocationUpdatesAutomatically(bool pauses) override { pauses_ = pauses; }
    [[nodiscard]] bool pausesLocationUpdatesAutomatically() const { return pauses_; }

protected:
    // After the accuracy changed; a running backend passes it on.
    virtual void accuracyChanged() {}
    [[nodiscard]] LocationManagerDelegate* delegate() const { return delegate_; }

private:
    LocationManagerDelegate* delegate_ = nullptr;
    LocationAccuracy accuracy_ = LocationAccuracy::best;
    bool pauses_ = true;
};

}  // namespace platform
