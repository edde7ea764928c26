#pragma once

// The exercise location monitor, a library of its own (libGeofollow.so.1). It owns no position
// source, thread or timer: it computes only when the application hands it a fix.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/location/LocationFix.h"

#define GEOFOLLOW_EXPORT __attribute__((visibility("default")))

extern "C" {
// 1.0
GEOFOLLOW_EXPORT extern const double GeofollowVersionNumber;
// "@(#)PROGRAM:Geofollow  PROJECT:Geofollow-1\n"
GEOFOLLOW_EXPORT extern const unsigned char GeofollowVersionString[];
}

// The running figures after one fix.
struct GEOFOLLOW_EXPORT ExerciseResult {
    std::int64_t timestamp = 0;  // the fix's time, ms since 1970
    double latitude = 0;         // 200 each when the fix is imprecise
    double longitude = 0;
    float totalDistance = 0;                               // m
    std::int64_t flatTime = 0;                             // s of travel counted with the distance
    float altitude = 0, maxAltitude = 0, minAltitude = 0;  // m
    float speed = 0, maxSpeed = 0, averageSpeed = 0;       // m/s, capped
    float pace = 0, maxPace = 0, averagePace = 0;          // min/km
    float consumedCalorie = 0;
    float accuracy = 0;             // horizontal, m
    std::int64_t durationTime = 0;  // ms since the first fix
    std::int64_t movingTime = 0;    // ms, 1000 per moving fix

    friend bool operator==(const ExerciseResult&, const ExerciseResult&) = default;
};

// Hears one result per fix, inside getData.
class GEOFOLLOW_EXPORT LocationMonitorDelegate {
public:
    virtual ~LocationMonitorDelegate() = default;
    virtual void DataCallback(const ExerciseResult& result) = 0;
};

// Turns the fixes of one exercise at a time into running figures, reports each to its
// delegate and appends it as a row to a CSV file in the documents folder, named after the
// local time of the start. Single-threaded: every call on the caller's thread.
class GEOFOLLOW_EXPORT LocationMonitorM {
public:
    enum Type : std::int32_t { TYPE_WALK = 1, TYPE_RUN = 2, TYPE_CYCLE = 3, TYPE_CLIMB = 4 };

    struct Settings {
        // Where the CSV files go; logging is off while it does not exist.
        std::filesystem::path documents;
        // Seconds since 1970 for the file's name; the system's clock when empty.
        std::function<double()> now;
        // Where the diagnostic lines go; standard error when empty.
        std::function<void(std::string_view)> log;
    };

    explicit LocationMonitorM(Settings settings);
    LocationMonitorM(const LocationMonitorM&) = delete;
    LocationMonitorM& operator=(const LocationMonitorM&) = delete;

    // Borrowed, not owned; null reports nothing.
    void setDelegate(LocationMonitorDelegate* delegate) { delegate_ = delegate; }
    // Forgets the exercise (the CSV file name stays until the next start). Construction does it.
    void setDefault();

    // Starts an exercise of type 1-4 for a body weight in kg; a second start while running,
    // or an unknown type, only logs.
    LocationMonitorM& startMonitoring(std::int32_t type, float weight);
    LocationMonitorM& stopMonitoring();
    // Processes the last fix; nothing for none, and nothing while no exercise runs.
    void getData(std::span<const platform::LocationFix> fixes);

    [[nodiscard]] const std::string& saveFileCSV() const { return saveFileCSV_; }
    [[nodiscard]] bool isStarted() const { return isStarted_; }
    [[nodiscard]] bool csvLogging() const { return mDebugMode_; }

    // The CSV file's first line.
    static constexpr std::string_view kCsvHeader =
        "Latitude, Longitude, Accuracy, TotalDistance, FlatTimes, Altitude, MaxAltitude, "
        "MinAltitude, Speed, MaxSpeed, AverageSpeed, Pace, MaxPace, AveragePace, Calories, Time, "
        "DurationTime, MovingTime, Version, Weight, Exercise Type \n";
    // Speed caps, m/s, and calorie factors per metre and kilogram, by type.
    [[nodiscard]] static float speedCap(std::int32_t type);
    [[nodiscard]] static float calorieFactor(std::int32_t type);

private:
    bool isMovingFlag(float speed);
    void handleLocation();
    void calculateExtraData(float altitude);
    [[nodiscard]] float getFilteredDistance(float metres, float seconds) const;
    void generateCallback();
    void initializeParameters();
    void writeFileCSV(std::string_view text);
    // The file's row; for the diagnostic line the position is rounded to two decimals, what a
    // city needs, since lines outlive the exercise.
    enum class Position { exact, rounded };
    [[nodiscard]] std::string csvRow(Position position) const;
    void log(std::string_view line) const;

    static constexpr std::int32_t kPreviousAltitudeThreshold = -1001;

    Settings settings_;
    LocationMonitorDelegate* delegate_ = nullptr;
    const platform::LocationFix* myLocation_ = nullptr;
    bool hasLastLocation_ = false;
    platform::LocationFix mlastLocation_;
    ExerciseResult result_;

    std::int32_t mType_ = TYPE_WALK;
    std::int32_t mAverageCount_ = 0;
    float mUserWeight_ = 0;
    bool isStarted_ = false;
    std::int64_t mInitialTime_ = 0;
    float mTotalDistance_ = 0;
    std::int64_t mFlatTime_ = 0;
    std::int64_t mMovingTime_ = 0;
    std::int32_t nomovecount_ = 0;
    float mSpeed_ = 0, mMaxSpeed_ = 0, mAverageSpeed_ = 0;
    float mAltitude_ = 0, mMaxAltitude_ = 0, mMinAltitude_ = 0;
    std::string saveFileCSV_;
    bool mDebugMode_ = false;
};
