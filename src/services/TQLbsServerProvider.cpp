#include "services/TQLbsServerProvider.h"

#include <cmath>
#include <string>
#include <utility>

#include "link/TQKMCommand.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"

using platform::Value;

namespace {

constexpr const char* kAccuracyNames[] = {
    "LOC_REQ_ACCURACY_BEST_FOR_NAVI",      "LOC_REQ_ACCURACY_BEST",
    "LOC_REQ_ACCURACY_NEAREST_TEN_METERS", "LOC_REQ_ACCURACY_HUNDRED_METERS",
    "LOC_REQ_ACCURACY_KILOMETER",          "LOC_REQ_ACCURACY_THREE_KILOMETERS"};

// An absent or unreadable number counts as 0.
std::int64_t integerOf(const Value& message, std::string_view key) {
    return message[key].intValue().value_or(0);
}

}  // namespace

TQLbsServerProvider::TQLbsServerProvider(Environment environment, TQAP* kavoManager)
    : env_(std::move(environment)),
      locationServiceManager_(env_.location),
      locationMonitor_(LocationMonitorM::Settings{
          .documents = env_.documents,
          .now = env_.now,
          .log = [](std::string_view line) { LG_VERBOSE("Geofollow: %@", line); }}),
      kavoManager_(kavoManager),
      lastSentLocationTimestamp_(env_.now()),
      lastSentExerciseTimestamp_(lastSentLocationTimestamp_),
      mExerciseLastInjectedTimestamp_(lastSentLocationTimestamp_) {
    LG_INFO("LbsServerInit");
    locationServiceManager_.setDelegate(this);
    locationServiceManager_.setPausesLocationUpdatesAutomatically(false);
    locationMonitor_.setDelegate(this);
    observers_.push_back(env_.center.addObserver(
        "onConnectDeviceNotification", [this](const platform::Notification&) { onConnectDevice(); },
        this));
    observers_.push_back(env_.center.addObserver(
        "onDisconnectDeviceNotification",
        [this](const platform::Notification&) { onDisconnectDevice(); }, this));
    observers_.push_back(env_.center.addObserver(
        platform::kApplicationDidEnterBackgroundNotification,
        [this](const platform::Notification&) { onEnterBackground(); }, this));
}

TQLbsServerProvider::~TQLbsServerProvider() {
    for (const auto token : observers_) {
        env_.center.removeObserver(token);
    }
    locationServiceManager_.setDelegate(nullptr);
    if (mLocationStatus_ == kTrackingOn || mExerciseStatus_ != kStopped) {
        locationServiceManager_.stopUpdatingLocation();
    }
    if (bgTaskId_ != platform::kBackgroundTaskInvalid) {
        env_.host.endBackgroundTask(bgTaskId_);
    }
}

void TQLbsServerProvider::processSubCommand(const Value& message) {
    LG_DEBUG("processSubCommand for LbsServer");
    const std::string* msgId = message["msgId"].stringIf();
    if (msgId == nullptr) {
        return;
    }
    if (*msgId == "lbs-tracking-location-req") {
        handleRequestLocation(message);
    } else if (*msgId == "lbs-location-setting-check-req") {
        handleLocationSettingInfo();
    } else if (*msgId == "lbs-exercise-info-req") {
        handleRequestExerciseInfo(message);
    }
}

std::int32_t TQLbsServerProvider::checkLocationSettings() const {
    if (!locationServiceManager_.servicesEnabled()) {
        return kServicesOff;
    }
    const auto status = static_cast<std::int32_t>(locationServiceManager_.authorization());
    return status < kServicesOff ? status : 0;
}

bool TQLbsServerProvider::authorized() const {
    const auto settings = checkLocationSettings();
    return settings == static_cast<std::int32_t>(platform::LocationAuthorization::always) ||
           settings == static_cast<std::int32_t>(platform::LocationAuthorization::whenInUse);
}

bool TQLbsServerProvider::mayLocate() const {
    if (!locationServiceManager_.servicesEnabled()) {
        LG_WARN("locationService is Disabled");
        return false;
    }
    if (!authorized()) {
        LG_WARN("Location is not authorized");
        return false;
    }
    return true;
}

void TQLbsServerProvider::handleRequestLocation(const Value& message) {
    LG_DEBUG("handleRequestLocation for LbsServer");
    const auto command = integerOf(message, "cmd");
    if (command == 1) {
        LG_DEBUG("came to Start Cmd");
        // Only a start needs the service: a stop is carried out whatever the settings.
        if (!mayLocate()) {
            return;
        }
        const auto code = integerOf(message, "accuracy");
        if (code >= 1 && code <= 6) {
            LG_DEBUG("Acc : %@", kAccuracyNames[code - 1]);
            locationServiceManager_.setDesiredAccuracy(
                static_cast<platform::LocationAccuracy>(code - 1));
        } else {
            LG_DEBUG("Acc : Default Setting to Best");
            locationServiceManager_.setDesiredAccuracy(platform::LocationAccuracy::best);
        }
        mLocationStatus_ = kTrackingOn;
        if (mExerciseStatus_ != kRunning) {
            startUpdates();
        } else {
            LG_DEBUG("Exercise is running. GPS is already used.");
        }
        LG_INFO("Location Tracking Started");
    } else if (command == 2) {
        if (mExerciseStatus_ != kRunning) {
            locationServiceManager_.stopUpdatingLocation();
        } else {
            LG_DEBUG("Exercise is running. GPS will stop if Exercise get STOP CMD.");
        }
        mLocationStatus_ = kTrackingOff;
        LG_INFO("Location Tracking Stopped");
    } else {
        LG_WARN("Location Tracking CMD is invalid : %d", command);
    }
}

void TQLbsServerProvider::startUpdates() {
    locationServiceManager_.startUpdatingLocation();
    onEnterBackground();
}

void TQLbsServerProvider::didUpdateLocations(std::span<const platform::LocationFix> fixes) {
    LG_VERBOSE("didUpdateLocations");
    LG_VERBOSE("mLocationStatus : %d", mLocationStatus_);
    LG_VERBOSE("mExerciseStatus : %d", mExerciseStatus_);
    if (fixes.empty()) {
        return;
    }
    const platform::LocationFix& fix = fixes.back();
    const double now = env_.now();
    const double locationGap = std::fabs(lastSentLocationTimestamp_ - fix.timestamp);
    const double exerciseGap = std::fabs(mExerciseLastInjectedTimestamp_ - fix.timestamp);
    const double age = std::fabs(fix.timestamp - now);
    LG_VERBOSE("locationTimeIntervalSinceLastSent : %f", locationGap);
    LG_VERBOSE("exerciseTimeIntervalSinceLastInjected : %f", exerciseGap);
    LG_VERBOSE("timeIntervalSinceLastFix : %f", age);

    if (locationGap < kSendGate) {
        LG_VERBOSE("Location Info has been transferred within 1 second.");
    } else if (age >= kFixAgeLimit) {
        LG_DEBUG("Location Info expired");
        LG_VERBOSE("timestamp : %@", static_cast<std::int64_t>(fix.timestamp * 1000.0));
        LG_VERBOSE("latitude : %@", lg::roundedCoordinate(fix.latitude));
        LG_VERBOSE("longitude : %@", lg::roundedCoordinate(fix.longitude));
        LG_VERBOSE("altitude : %@", fix.altitude);
        LG_VERBOSE("speed : %@", fix.speed);
        LG_VERBOSE("horizontalAccuracy : %@", fix.horizontalAccuracy);
        LG_VERBOSE("course : %@", fix.course);
    } else {
        timestamp_ = static_cast<std::int64_t>(fix.timestamp * 1000.0);
        latitude_ = fix.latitude;
        longitude_ = fix.longitude;
        altitude_ = fix.altitude;
        speed_ = fix.speed;
        hAccuracy_ = fix.horizontalAccuracy;
        bearing_ = fix.course;
        if (mLocationStatus_ == kTrackingOn) {
            LG_VERBOSE("CMD Location Tracking Response");
            lastSentLocationTimestamp_ = fix.timestamp;
            send(Value{{"msgId", "lbs-tracking-location-rsp"},
                       {"result", 1},
                       {"reason", 0},
                       {"timestamp", timestamp_},
                       {"latitude", latitude_},
                       {"longitude", longitude_},
                       {"altitude", altitude_},
                       {"speed", speed_},
                       {"h_accuracy", hAccuracy_},
                       {"bearing", bearing_}});
        }
    }

    if (exerciseGap < kSendGate) {
        LG_VERBOSE("Exercise Info has been saved within 1 second.");
        return;
    }
    if (age >= kFixAgeLimit || mExerciseStatus_ != kRunning) {
        return;
    }
    LG_VERBOSE("Exercise GetDate is Called");
    locationMonitor_.getData(fixes);
}

void TQLbsServerProvider::didFailWithError(const platform::Error& error) {
    LG_ERROR("Error: %@", error.message);
    LG_ERROR("Failed to get location!");
}

void TQLbsServerProvider::onEnterBackground() {
    if (mLocationStatus_ != kTrackingOn && mExerciseStatus_ != kRunning &&
        mExerciseStatus_ != kPaused) {
        return;
    }
    LG_DEBUG("LbsServerProvider onEnterBackground");
    isBackground_ = true;
    if (bgTaskId_ != platform::kBackgroundTaskInvalid) {
        LG_DEBUG("LBS Background Task is running already");
        return;
    }
    bgTaskId_ = env_.host.beginBackgroundTask("LbsServerProvider", [this] {
        LG_DEBUG("LBS Background Task expired");
        env_.host.endBackgroundTask(bgTaskId_);
        bgTaskId_ = platform::kBackgroundTaskInvalid;
        isBackground_ = false;
    });
}

void TQLbsServerProvider::onConnectDevice() {
    LG_DEBUG("LbsServerProvider onConnectDevice");
}

void TQLbsServerProvider::onDisconnectDevice() {
    LG_DEBUG("LbsServerProvider onDisconnectDevice");
    destroyLbsServer();
}

void TQLbsServerProvider::destroyLbsServer() {
    LG_INFO("LbsServerProvider : destroyLbsServer");
    if (mLocationStatus_ == kTrackingOn || mExerciseStatus_ != kStopped) {
        if (mExerciseStatus_ == kRunning) {
            flushExerciseInfo();
        }
        // A paused exercise is over too: its monitor must not run on into the next one.
        if (mExerciseStatus_ != kStopped) {
            locationMonitor_.stopMonitoring();
            LG_DEBUG("stopped ExerciseMonitoring");
        }
        locationServiceManager_.stopUpdatingLocation();
        LG_DEBUG("stopped UpdatingLocation");
    }
    mExerciseStatus_ = kStopped;
    mLocationStatus_ = kTrackingOff;
    mExerciseInfoArray_.clear();
}

void TQLbsServerProvider::send(const Value& message, std::uint32_t appId) {
    TQKMCommand::processOutCommand(kavoManager_, message, appId, kPriority);
}
