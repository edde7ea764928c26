#pragma once

#include <memory>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/location/LocationManager.h"

namespace platform {

// The location service of Linux desktops and phones (GeoClue 2) over D-Bus. The service on the
// bus is the phone's location services switch: while nobody owns its name they read as
// switched off, and the delegate hears of every coming and going. GeoClue leaves the decision
// to its agent, which it asks when a client starts: the authorisation reads "when in use"
// while the service offers any accuracy at all, restricted while it offers none, and denied
// once the agent refused a start. Calls never block the loop: the bus has a thread of its own
// that alone calls the bus library, and whose results are posted to the loop.
class GeoClueLocation final : public LocationManagerBase {
public:
    static constexpr const char* kService = "org.freedesktop.GeoClue2";

    // On the system bus, or on the bus at `address` when one is given; a bus that cannot be
    // reached reads as the service absent. desktopId names the application to the agent.
    GeoClueLocation(RunLoop& loop, std::string desktopId, std::string address = {});
    ~GeoClueLocation() override;
    GeoClueLocation(const GeoClueLocation&) = delete;
    GeoClueLocation& operator=(const GeoClueLocation&) = delete;

    [[nodiscard]] bool servicesEnabled() const override { return present_; }
    [[nodiscard]] LocationAuthorization authorization() const override;
    void startUpdatingLocation() override;
    void stopUpdatingLocation() override;
    [[nodiscard]] bool isUpdating() const override { return wanted_; }

    // GeoClue's accuracy levels.
    enum AccuracyLevel : unsigned {
        kNone = 0,
        kCountry = 1,
        kCity = 4,
        kNeighborhood = 5,
        kStreet = 6,
        kExact = 8
    };
    [[nodiscard]] static AccuracyLevel levelFor(LocationAccuracy accuracy);

private:
    struct Bus;

    void accuracyChanged() override;
    void serviceChanged(bool present);
    void levelAvailable(unsigned level);
    void clientCreated(bool ok);
    void startClient();
    void startAnswered(bool ok, const std::string& errorName, const std::string& message);
    void fixArrived(const LocationFix& fix);
    void reportAuthorization();

    RunLoop& loop_;
    std::string desktopId_;
    std::unique_ptr<Bus> bus_;
    bool present_ = false;
    unsigned availableLevel_ = kNone;
    bool refused_ = false;
    // The client asked for updates; they run once the service has a client for us.
    bool wanted_ = false;
    bool creating_ = false;
    bool haveClient_ = false;
    // The bus itself went away: nothing more can be asked of it.
    bool lost_ = false;
    WeakPtrFactory<GeoClueLocation> weak_{*this, loop_};
};

}  // namespace platform
