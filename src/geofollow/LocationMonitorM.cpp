#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <system_error>

#include "geofollow/Geofollow.h"

extern "C" {
const double GeofollowVersionNumber = 1.0;
const unsigned char GeofollowVersionString[] = "@(#)PROGRAM:Geofollow  PROJECT:Geofollow-1\n";
}

namespace {

constexpr float kSpeedCaps[] = {2.5F, 7.5F, 12.5F, 2.5F};
constexpr float kCalorieFactors[] = {0.000689F, 0.001041F, 0.000341F, 0.000911F};
constexpr const char* kTypeNames[] = {"WALKING", "RUNNING", "CYCLING", "HIKING"};
constexpr const char* kVersion = "v 1.2";
constexpr float kImpreciseAccuracy = 30.0F;
constexpr double kImpreciseCoordinate = 200.0;
// Fixes without speed in a row that still count as moving.
constexpr std::int32_t kStillMoving = 3;

bool validType(std::int32_t type) {
    return type >= LocationMonitorM::TYPE_WALK && type <= LocationMonitorM::TYPE_CLIMB;
}

float paceOf(float speed) {
    return speed == 0 ? 0.0F : 1000.0F / (speed * 60.0F);
}

std::int64_t wholeSeconds(double timestamp) {
    return static_cast<std::int64_t>(timestamp);
}

// Local time, 24-hour clock.
std::string localTime(double secondsSince1970) {
    const auto seconds = static_cast<std::time_t>(wholeSeconds(secondsSince1970));
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[32];
    const auto length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return std::string(text, length);
}

std::string decimals(double value) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.8f", value);
    return std::string(text, static_cast<std::size_t>(std::clamp(length, 0, 63)));
}

}  // namespace

LocationMonitorM::LocationMonitorM(Settings settings) : settings_(std::move(settings)) {
    if (!settings_.now) {
        settings_.now = [] {
            return std::chrono::duration<double>(
                       std::chrono::system_clock::now().time_since_epoch())
                .count();
        };
    }
    setDefault();
}

float LocationMonitorM::speedCap(std::int32_t type) {
    return validType(type) ? kSpeedCaps[type - 1] : kSpeedCaps[0];
}

float LocationMonitorM::calorieFactor(std::int32_t type) {
    return validType(type) ? kCalorieFactors[type - 1] : kCalorieFactors[0];
}

void LocationMonitorM::setDefault() {
    mType_ = TYPE_WALK;
    mUserWeight_ = 0;
    isStarted_ = false;
    mAverageCount_ = 0;
    mInitialTime_ = 0;
    mTotalDistance_ = 0;
    mFlatTime_ = 0;
    mMovingTime_ = 0;
    nomovecount_ = 0;
    mSpeed_ = mMaxSpeed_ = mAverageSpeed_ = 0;
    mAltitude_ = 0;
    mMaxAltitude_ = mMinAltitude_ = static_cast<float>(kPreviousAltitudeThreshold);
    hasLastLocation_ = false;
    myLocation_ = nullptr;
    result_ = ExerciseResult{};
}

LocationMonitorM& LocationMonitorM::startMonitoring(std::int32_t type, float weight) {
    if (isStarted_) {
        log("Alreay Started");
        return *this;
    }
    if (!validType(type)) {
        log("Type Parameter is incorrect!!!");
        return *this;
    }
    isStarted_ = true;
    mType_ = type;
    mUserWeight_ = weight;
    log("StartMonitoring");
    initializeParameters();
    if (mDebugMode_) {
        writeFileCSV(kCsvHeader);
    }
    return *this;
}

LocationMonitorM& LocationMonitorM::stopMonitoring() {
    if (!isStarted_) {
        log("Already Stopped");
        return *this;
    }
    log("StopMonitoring");
    setDefault();
    return *this;
}

void LocationMonitorM::initializeParameters() {
    mInitialTime_ = 0;
    mTotalDistance_ = 0;
    mAverageSpeed_ = 0;
    mFlatTime_ = 0;
    result_.durationTime = 0;
    hasLastLocation_ = false;
    myLocation_ = nullptr;
    saveFileCSV_ = localTime(settings_.now()) + ".csv";
    std::error_code error;
    mDebugMode_ = std::filesystem::is_directory(settings_.documents, error);
    if (!mDebugMode_) {
        log("Folder is not existed");
    }
}

void LocationMonitorM::getData(std::span<const platform::LocationFix> fixes) {
    if (fixes.empty()) {
        return;
    }
    // A fix after the stop would otherwise land in the last exercise's file.
    if (!isStarted_) {
        log("Not monitoring: fix ignored");
        return;
    }
    const platform::LocationFix& fix = fixes.back();
    myLocation_ = &fix;

    result_.accuracy = static_cast<float>(fix.horizontalAccuracy);
    if (result_.accuracy < kImpreciseAccuracy) {
        result_.latitude = fix.latitude;
        result_.longitude = fix.longitude;
        log("Accuracy is below 30");
    } else {
        result_.latitude = kImpreciseCoordinate;
        result_.longitude = kImpreciseCoordinate;
        log("Accuracy is above 30");
    }
    mSpeed_ = std::max(0.0F, static_cast<float>(fix.speed));
    if (isMovingFlag(mSpeed_)) {
        mMovingTime_ += 1000;
    }
    handleLocation();
    calculateExtraData(static_cast<float>(fix.altitude));
    generateCallback();

    mlastLocation_ = fix;
    hasLastLocation_ = true;
    myLocation_ = nullptr;
}

bool LocationMonitorM::isMovingFlag(float speed) {
    if (speed > 0) {
        nomovecount_ = 0;
        return true;
    }
    ++nomovecount_;
    if (nomovecount_ <= kStillMoving) {
        return true;
    }
    nomovecount_ = kStillMoving;
    return false;
}

void LocationMonitorM::handleLocation() {
    const platform::LocationFix& fix = *myLocation_;
    if (!hasLastLocation_) {
        mInitialTime_ = wholeSeconds(fix.timestamp);
        return;
    }
    if (fix.speed <= 0) {
        return;
    }
    const std::int64_t elapsed =
        wholeSeconds(fix.timestamp) - wholeSeconds(mlastLocation_.timestamp);
    // A fix that is not later than the one before adds nothing: totals never go back.
    if (elapsed <= 0) {
        return;
    }
    const auto seconds = static_cast<float>(elapsed);
    const auto metres = static_cast<float>(platform::distanceBetween(mlastLocation_, fix));
    mTotalDistance_ += getFilteredDistance(metres, seconds);
    mFlatTime_ = static_cast<std::int64_t>(static_cast<float>(mFlatTime_) + seconds);
}

float LocationMonitorM::getFilteredDistance(float metres, float seconds) const {
    return std::min(metres, speedCap(mType_) * seconds);
}

void LocationMonitorM::calculateExtraData(float altitude) {
    mAltitude_ = altitude;
    if (mMaxAltitude_ == static_cast<float>(kPreviousAltitudeThreshold) &&
        mMinAltitude_ == static_cast<float>(kPreviousAltitudeThreshold)) {
        mMaxAltitude_ = mMinAltitude_ = altitude;
    } else {
        mMaxAltitude_ = std::max(mMaxAltitude_, altitude);
        mMinAltitude_ = std::min(mMinAltitude_, altitude);
    }
    mSpeed_ = std::min(mSpeed_, speedCap(mType_));
    mMaxSpeed_ = std::max(mMaxSpeed_, mSpeed_);
    ++mAverageCount_;
    mAverageSpeed_ = mAverageCount_ == 1
                         ? mSpeed_
                         : (mAverageSpeed_ * static_cast<float>(mAverageCount_ - 1) + mSpeed_) /
                               static_cast<float>(mAverageCount_);
    result_.consumedCalorie = calorieFactor(mType_) * mTotalDistance_ * mUserWeight_;
}

void LocationMonitorM::generateCallback() {
    const platform::LocationFix& fix = *myLocation_;
    const std::int64_t seconds = wholeSeconds(fix.timestamp);
    if (mInitialTime_ == 0) {
        mInitialTime_ = seconds;
    }
    result_.timestamp = static_cast<std::int64_t>(fix.timestamp * 1000.0);
    // A fix from before the last one does not take time back.
    result_.durationTime = std::max(result_.durationTime, (seconds - mInitialTime_) * 1000);
    result_.totalDistance = mTotalDistance_;
    result_.flatTime = mFlatTime_;
    result_.altitude = mAltitude_;
    result_.maxAltitude = mMaxAltitude_;
    result_.minAltitude = mMinAltitude_;
    result_.speed = mSpeed_;
    result_.maxSpeed = mMaxSpeed_;
    result_.averageSpeed = mAverageSpeed_;
    result_.pace = paceOf(mSpeed_);
    result_.maxPace = paceOf(mMaxSpeed_);
    result_.averagePace = paceOf(mAverageSpeed_);
    result_.movingTime = mMovingTime_;

    const std::string row = csvRow(Position::exact);
    log(csvRow(Position::rounded));
    if (delegate_ != nullptr) {
        delegate_->DataCallback(result_);
    }
    writeFileCSV(row);
}

std::string LocationMonitorM::csvRow(Position position) const {
    const ExerciseResult& r = result_;
    const auto degrees = [position](double value) {
        if (position == Position::exact) {
            return decimals(value);
        }
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", value);
        return std::string(text);
    };
    char flat[32];
    std::snprintf(flat, sizeof flat, "%.8lld", static_cast<long long>(r.flatTime));
    char weight[32];
    std::snprintf(weight, sizeof weight, "%.2f", static_cast<double>(mUserWeight_));
    const std::string fields[] = {degrees(r.latitude),
                                  degrees(r.longitude),
                                  decimals(r.accuracy),
                                  decimals(r.totalDistance),
                                  flat,
                                  decimals(r.altitude),
                                  decimals(r.maxAltitude),
                                  decimals(r.minAltitude),
                                  decimals(r.speed),
                                  decimals(r.maxSpeed),
                                  decimals(r.averageSpeed),
                                  decimals(r.pace),
                                  decimals(r.maxPace),
                                  decimals(r.averagePace),
                                  decimals(r.consumedCalorie),
                                  localTime(myLocation_->timestamp),
                                  std::to_string(r.durationTime),
                                  std::to_string(r.movingTime),
                                  kVersion,
                                  weight,
                                  kTypeNames[mType_ - 1]};
    std::string row;
    for (const auto& field : fields) {
        if (!row.empty()) {
            row += ", ";
        }
        row += field;
    }
    row += " \n";
    return row;
}

void LocationMonitorM::writeFileCSV(std::string_view text) {
    if (!mDebugMode_) {
        return;
    }
    // A file that cannot be written is skipped; the figures do not depend on it.
    std::ofstream file(settings_.documents / saveFileCSV_, std::ios::binary | std::ios::app);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void LocationMonitorM::log(std::string_view line) const {
    if (settings_.log) {
        settings_.log(line);
    } else {
        std::clog << "Geofollow: " << line << '\n';
    }
}
