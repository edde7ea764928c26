#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/location/LocationManager.h"

namespace platform {

// Seconds since 1970 as the client reads the time.
using WallClock = std::function<double()>;

// The system's calendar clock.
[[nodiscard]] WallClock systemWallClock();
// A calendar clock that moves with the loop's clock from `epoch` (seconds since 1970) at the
// loop's zero: the one a virtual run loop implies.
[[nodiscard]] WallClock loopWallClock(const RunLoop& loop, double epoch);

// Plays a recorded track (GPX, see GpxTrack.h) as if the phone were walking it now: while
// started, fix k is reported `time(k) - time(first played)` seconds after the start, stamped
// with the wall clock at that moment. A stop keeps the place, and the next start goes on with
// the following fix at once; at the end of the track the reports stop. For tests,
// demonstrations and people without a position source. On its loop.
class ReplayLocation final : public LocationManagerBase {
public:
    struct Options {
        bool servicesEnabled = true;
        // Choosing a recording is the user's consent.
        LocationAuthorization authorization = LocationAuthorization::always;
    };

    ReplayLocation(RunLoop& loop, WallClock wallClock, std::vector<LocationFix> track,
                   Options options);
    ReplayLocation(RunLoop& loop, WallClock wallClock, std::vector<LocationFix> track)
        : ReplayLocation(loop, std::move(wallClock), std::move(track), Options{}) {}
    ~ReplayLocation() override;

    [[nodiscard]] bool servicesEnabled() const override { return options_.servicesEnabled; }
    [[nodiscard]] LocationAuthorization authorization() const override {
        return options_.authorization;
    }
    void startUpdatingLocation() override;
    void stopUpdatingLocation() override;
    [[nodiscard]] bool isUpdating() const override { return timer_ != nullptr; }

    // What a user changes in the settings; the delegate hears the new authorisation.
    void setServicesEnabled(bool enabled);
    void setAuthorization(LocationAuthorization authorization);

    // The fixes still to play.
    [[nodiscard]] std::size_t remaining() const { return track_.size() - next_; }

private:
    void scheduleNext();
    void deliver();
    void report();

    RunLoop& loop_;
    WallClock wallClock_;
    std::vector<LocationFix> track_;
    Options options_;
    std::size_t next_ = 0;
    // Track time and wall time of the current start.
    double trackAnchor_ = 0;
    double wallAnchor_ = 0;
    double loopAnchor_ = 0;
    std::shared_ptr<Timer> timer_;
    WeakPtrFactory<ReplayLocation> weak_{*this, loop_};
};

}  // namespace platform
