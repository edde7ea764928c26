// The exercise side of the location provider: the watch's commands, the monitor's results
// and their batches.

#include <charconv>
#include <cmath>
#include <string>

#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "services/TQLbsServerProvider.h"

using platform::Value;

namespace {

enum Command : std::int64_t {
    kStart = 1,
    kStop = 2,
    kRestart = 3,
    kPause = 4,
    kResume = 5,
    kChangeInterval = 6,
};

// A float as the double of its shortest text, so that 6.6666665F reaches the watch as
// 6.6666665 rather than as the double's 6.666666507720947.
Value real(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double widened = value;
    std::from_chars(text, written.ptr, widened);
    return Value(widened);
}

}  // namespace

Value TQLbsServerProvider::exerciseInfo(const ExerciseResult& result) {
    return Value{{"timestamp", result.timestamp},
                 {"latitude", result.latitude},
                 {"longitude", result.longitude},
                 {"totalDistance", real(result.totalDistance)},
                 {"inclineDistance", 0.0},
                 {"declineDistance", 0.0},
                 {"flatDistance", 0.0},
                 {"inclineTime", 0.0},
                 {"declineTime", 0.0},
                 {"flatTime", result.flatTime},
                 {"altitude", real(result.altitude)},
                 {"maxAltitude", real(result.maxAltitude)},
                 {"minAltitude", real(result.minAltitude)},
                 {"speed", real(result.speed)},
                 {"maxSpeed", real(result.maxSpeed)},
                 {"averageSpeed", real(result.averageSpeed)},
                 {"pace", real(result.pace)},
                 {"maxPace", real(result.maxPace)},
                 {"averagePace", real(result.averagePace)},
                 {"consumedCalorie", real(result.consumedCalorie)},
                 {"stepCount", 0},
                 {"basePressure", 0.0},
                 {"gpsStatus", 2},
                 {"accuracy", real(result.accuracy)},
                 {"durationTime", result.durationTime},
                 {"movingTime", result.movingTime}};
}

void TQLbsServerProvider::handleRequestExerciseInfo(const Value& message) {
    LG_DEBUG("handleRequestExerciseInfo for LbsServer");
    LG_DEBUG(" %@ ", lg::redacted(message));
    switch (message["cmd"].intValue().value_or(0)) {
        case kStart: {
            LG_DEBUG("came to Exercise Start Cmd");
            // Only a start and a resume need the service and the permission; whatever ends or
            // holds an exercise is carried out regardless.
            if (!mayLocate()) {
                return;
            }
            const auto type = message["exerciseType"].intValue().value_or(0);
            if (type < LocationMonitorM::TYPE_WALK || type > LocationMonitorM::TYPE_CLIMB) {
                LG_WARN("Exercise type is invalid : %d", type);
                return;
            }
            // A start over a running or paused exercise ends that one first, results and all.
            if (mExerciseStatus_ != kStopped) {
                flushExerciseInfo();
                locationMonitor_.stopMonitoring();
            }
            exerciseType_ = static_cast<std::int32_t>(type);
            weight_ = static_cast<float>(message["weight"].doubleValue().value_or(0));
            mBatchingInterval_ =
                static_cast<std::int32_t>(message["interval"].intValue().value_or(0));
            LG_INFO("exerciseType :  %d, weight : %f , interval : %d", exerciseType_, weight_,
                    mBatchingInterval_);
            locationMonitor_.startMonitoring(exerciseType_, weight_);
            mExerciseStatus_ = kRunning;
            lastSentExerciseTimestamp_ = env_.now();
            if (mLocationStatus_ == kTrackingOn) {
                LG_DEBUG("GPS is already running.");
            } else {
                locationServiceManager_.setDesiredAccuracy(
                    platform::LocationAccuracy::bestForNavigation);
                startUpdates();
            }
            return;
        }
        case kStop:
            LG_DEBUG("came to Exercise Cmd : Stop");
            stopExercise();
            return;
        case kRestart:
            LG_DEBUG("came to Exercise Cmd : Restart");
            return;
        case kPause:
            LG_DEBUG("came to Exercise Cmd : Pause");
            if (mExerciseStatus_ != kRunning) {
                LG_DEBUG("Cannot pause exercise. Exercise is stopped already.");
                return;
            }
            mExerciseStatus_ = kPaused;
            if (mLocationStatus_ != kTrackingOn) {
                LG_DEBUG("stopUpdatingLocation called for Pause.");
                locationServiceManager_.stopUpdatingLocation();
            }
            return;
        case kResume:
            LG_DEBUG("came to Exercise Cmd : Resume");
            if (mExerciseStatus_ != kPaused) {
                LG_DEBUG("Cannot resume exercise. Exercise is not paused status");
                return;
            }
            if (!mayLocate()) {
                return;
            }
            mExerciseStatus_ = kRunning;
            lastSentExerciseTimestamp_ = env_.now();
            if (mLocationStatus_ != kTrackingOn) {
                LG_DEBUG("startUpdatingLocation called for resume.");
                startUpdates();
            }
            return;
        case kChangeInterval:
            LG_DEBUG("came to Exercise Cmd : Change Interval");
            flushExerciseInfo();
            mBatchingInterval_ =
                static_cast<std::int32_t>(message["interval"].intValue().value_or(0));
            LG_DEBUG("Exercise Batching Interval : %d", mBatchingInterval_);
            return;
        default:
            LG_WARN("CMD is invalid");
            return;
    }
}

void TQLbsServerProvider::stopExercise() {
    flushExerciseInfo();
    locationMonitor_.stopMonitoring();
    mExerciseStatus_ = kStopped;
    LG_INFO("ExerciseMonitoring stopped");
    if (mLocationStatus_ == kTrackingOn) {
        LG_DEBUG("LBS is used now. GPS will be stopped when LBS get STOP CMD");
    } else {
        locationServiceManager_.stopUpdatingLocation();
        LG_DEBUG("UpdatingLocation stopped");
    }
}

void TQLbsServerProvider::DataCallback(const ExerciseResult& result) {
    LG_VERBOSE("Exercise callback");
    const double now = env_.now();
    const double sinceSent = std::fabs(now - lastSentExerciseTimestamp_);
    LG_VERBOSE("Exercise Callback : exerciseTimeIntervalSinceLastSent : %f", sinceSent);
    LG_VERBOSE("Exercise Callback : exerciseTimeIntervalSinceLastInjected : %f",
               std::fabs(now - mExerciseLastInjectedTimestamp_));
    mExerciseInfoArray_.push_back(exerciseInfo(result));
    mExerciseLastInjectedTimestamp_ = env_.now();
    LG_VERBOSE("ExerciseInfo Added, Count : %ld", mExerciseInfoArray_.size());
    if (sinceSent >= static_cast<double>(mBatchingInterval_)) {
        flushExerciseInfo();
    }
}

void TQLbsServerProvider::flushExerciseInfo() {
    LG_DEBUG("Flush Exercise Info");
    if (mExerciseInfoArray_.empty()) {
        LG_DEBUG("ExerciseInfo Object Count is Zero");
        return;
    }
    platform::Array batch;
    batch.swap(mExerciseInfoArray_);
    send(Value{{"msgId", "lbs-exercise-info-rsp"},
               {"result", 1},
               {"reason", 0},
               {"exerciseInfo", Value(std::move(batch))}});
    lastSentExerciseTimestamp_ = env_.now();
    LG_DEBUG("ExerciseInfo removed All Objects, Count : %ld", mExerciseInfoArray_.size());
}
