#include "platform/location/ReplayLocation.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace platform {

WallClock systemWallClock() {
    return [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
}

WallClock loopWallClock(const RunLoop& loop, double epoch) {
    return [&loop, epoch] { return epoch + loop.now(); };
}

ReplayLocation::ReplayLocation(RunLoop& loop, WallClock wallClock, std::vector<LocationFix> track,
                               Options options)
    : loop_(loop), wallClock_(std::move(wallClock)), track_(std::move(track)), options_(options) {}

ReplayLocation::~ReplayLocation() {
    stopUpdatingLocation();
}

void ReplayLocation::startUpdatingLocation() {
    stopUpdatingLocation();
    if (next_ >= track_.size()) {
        return;
    }
    trackAnchor_ = track_[next_].timestamp;
    wallAnchor_ = wallClock_();
    loopAnchor_ = loop_.now();
    scheduleNext();
}

void ReplayLocation::stopUpdatingLocation() {
    if (timer_ != nullptr) {
        timer_->invalidate();
        timer_.reset();
    }
}

void ReplayLocation::scheduleNext() {
    const double due = loopAnchor_ + (track_[next_].timestamp - trackAnchor_);
    timer_ = loop_.scheduleTimer(std::max(0.0, due - loop_.now()), false, [this] { deliver(); });
}

void ReplayLocation::deliver() {
    LocationFix fix = track_[next_++];
    fix.timestamp = wallAnchor_ + (fix.timestamp - trackAnchor_);
    if (next_ < track_.size()) {
        scheduleNext();
    } else {
        timer_.reset();
    }
    if (auto* listener = delegate()) {
        listener->didUpdateLocations(std::span<const LocationFix>(&fix, 1));
    }
}

void ReplayLocation::setServicesEnabled(bool enabled) {
    options_.servicesEnabled = enabled;
    report();
}

void ReplayLocation::setAuthorization(LocationAuthorization authorization) {
    options_.authorization = authorization;
    report();
}

void ReplayLocation::report() {
    loop_.post([weak = weak_.weakPtr()] {
        if (auto* self = weak.get(); self != nullptr && self->delegate() != nullptr) {
            self->delegate()->didChangeAuthorization(self->options_.authorization);
        }
    });
}

}  // namespace platform
