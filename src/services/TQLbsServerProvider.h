#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

#include "geofollow/Geofollow.h"
#include "listener/handlers/TQLbsHandler.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/host/AppHost.h"
#include "platform/location/LocationManager.h"
#include "platform/location/ReplayLocation.h"

class TQAP;

// The phone's location and exercise provider on the watch's location channel (identifier 4):
// tracking fixes for the watch, the watch's exercises run through the exercise monitor with
// their results sent in batches, the location-setting check and the permission reports.
// One per application, made by the composition root; everything on the main loop.
class TQLbsServerProvider final : public TQLbsHandler,
                                  private platform::LocationManagerDelegate,
                                  private LocationMonitorDelegate {
public:
    // Borrowed pieces; all outlive the provider.
    struct Environment {
        platform::LocationManager& location;
        platform::NotificationCenter& center;
        platform::AppHost& host;
        // The calendar clock the fixes are stamped by.
        platform::WallClock now;
        // Where the exercise monitor writes its CSV files.
        std::filesystem::path documents;
    };

    enum LocationStatus : std::int32_t { kTrackingOn = 1, kTrackingOff = 2 };
    enum ExerciseStatus : std::int32_t { kRunning = 1, kStopped = 2, kPaused = 3 };
    // checkLocationSettings: the authorisation values, and this for services switched off.
    static constexpr std::int32_t kServicesOff = 5;

    static constexpr std::uint32_t kLocationAppId = 4;
    static constexpr std::uint32_t kPriority = 1;
    // Fixes closer than this to the last one sent (or fed) wait; older ones are dropped.
    static constexpr double kSendGate = 0.9;
    static constexpr double kFixAgeLimit = 1.1;

    TQLbsServerProvider(Environment environment, TQAP* kavoManager);
    ~TQLbsServerProvider() override;
    TQLbsServerProvider(const TQLbsServerProvider&) = delete;
    TQLbsServerProvider& operator=(const TQLbsServerProvider&) = delete;

    void setTQAP(TQAP* kavoManager) { kavoManager_ = kavoManager; }
    void processSubCommand(const platform::Value& message) override;

    [[nodiscard]] std::int32_t checkLocationSettings() const;
    void handleRequestLocation(const platform::Value& message);
    void handleRequestExerciseInfo(const platform::Value& message);
    void handleLocationSettingInfo();
    void flushExerciseInfo();
    void onEnterBackground();
    void destroyLbsServer();

    // The location manager's reports.
    void didUpdateLocations(std::span<const platform::LocationFix> fixes) override;
    void didFailWithError(const platform::Error& error) override;
    void didChangeAuthorization(platform::LocationAuthorization status) override;

    // What the watch and the tests see of the state.
    [[nodiscard]] std::int32_t locationStatus() const { return mLocationStatus_; }
    [[nodiscard]] std::int32_t exerciseStatus() const { return mExerciseStatus_; }
    [[nodiscard]] std::int32_t batchingInterval() const { return mBatchingInterval_; }
    [[nodiscard]] std::size_t pendingResults() const { return mExerciseInfoArray_.size(); }
    [[nodiscard]] std::int32_t locationSettings() const { return locationSettings_; }
    [[nodiscard]] bool isBackground() const { return isBackground_; }
    [[nodiscard]] const LocationMonitorM& monitor() const { return locationMonitor_; }

    // The monitor's result as the watch reads it: 26 entries.
    [[nodiscard]] static platform::Value exerciseInfo(const ExerciseResult& result);

private:
    void DataCallback(const ExerciseResult& result) override;
    void onConnectDevice();
    void onDisconnectDevice();
    [[nodiscard]] bool locationUsable(platform::LocationAuthorization status) const;
    [[nodiscard]] bool authorized() const;
    // Location services on and the permission given; logs which is missing.
    [[nodiscard]] bool mayLocate() const;
    void send(const platform::Value& message, std::uint32_t appId = kLocationAppId);
    void stopExercise();
    void startUpdates();

    Environment env_;
    platform::LocationManager& locationServiceManager_;
    LocationMonitorM locationMonitor_;
    TQAP* kavoManager_;
    std::int64_t timestamp_ = 0;
    double latitude_ = 0, longitude_ = 0, altitude_ = 0, speed_ = 0, bearing_ = 0, hAccuracy_ = 0;
    double lastSentLocationTimestamp_;
    std::int32_t exerciseType_ = 0;
    float weight_ = 0;
    std::vector<platform::Value> mExerciseInfoArray_;
    double lastSentExerciseTimestamp_;
    double mExerciseLastInjectedTimestamp_;
    std::int32_t mBatchingInterval_ = 0;
    std::int32_t mLocationStatus_ = kTrackingOff;
    std::int32_t mExerciseStatus_ = kStopped;
    bool isBackground_ = false;
    platform::BackgroundTaskIdentifier bgTaskId_ = platform::kBackgroundTaskInvalid;
    std::int32_t locationSettings_ = 0;
    std::vector<platform::NotificationCenter::Token> observers_;
};
