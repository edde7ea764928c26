#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "listener/ListenerWorld.h"
#include "platform/location/ReplayLocation.h"
#include "services/TQLbsServerProvider.h"
#include "sim/WatchExercise.h"

namespace e2e {
namespace {

using kavowatch::WatchExercise;
using platform::LocationAuthorization;
using platform::LocationFix;
using platform::Value;

constexpr double kEpoch = 1'700'000'000;
constexpr double kMetresPerDegree = 6'371'008.8 * 3.14159265358979323846 / 180.0;

// A walk north at 1.4 m/s, one fix a second, for ten minutes.
std::vector<LocationFix> walk() {
    std::vector<LocationFix> track;
    for (int second = 0; second < 600; ++second) {
        LocationFix fix;
        fix.latitude = 52.5 + 1.4 * second / kMetresPerDegree;
        fix.longitude = 13.4;
        fix.altitude = 30 + second % 7;
        fix.horizontalAccuracy = 5;
        fix.verticalAccuracy = 8;
        fix.speed = 1.4;
        fix.course = 0;
        fix.timestamp = 1457013909 + second;
        track.push_back(fix);
    }
    return track;
}

const std::vector<std::string> kResultKeys{
    "timestamp",       "latitude",     "longitude",   "totalDistance", "inclineDistance",
    "declineDistance", "flatDistance", "inclineTime", "declineTime",   "flatTime",
    "altitude",        "maxAltitude",  "minAltitude", "speed",         "maxSpeed",
    "averageSpeed",    "pace",         "maxPace",     "averagePace",   "consumedCalorie",
    "stepCount",       "basePressure", "gpsStatus",   "accuracy",      "durationTime",
    "movingTime"};

std::vector<std::string> keysOf(const Value& dictionary) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : *dictionary.dictionaryIf()) {
        keys.push_back(key);
    }
    return keys;
}

// The phone's link and dispatch with the real provider over a replayed walk, and the simulated
// watch's exercise application, on one virtual clock.
class LocationExerciseTest : public ::testing::Test {
protected:
    LocationExerciseTest() {
        world.handlers.registry.lbsServerProvider = &provider;
        world.connectWatch();
        // The post-connect handshake is a recorder here; the watch is in use.
        world.defaults.set("isWMSConnected", 1);
        std::filesystem::create_directories(world.container.documents());
    }

    // The watch sends; returns once the phone has handled it.
    template <typename Send>
    void command(Send&& send) {
        const int received = world.events.count("note:onDataReceivedNotification");
        ASSERT_TRUE(send().ok());
        ASSERT_TRUE(world.watch.waitUntil(
            [&] { return world.events.count("note:onDataReceivedNotification") > received; }, 5));
        // Long enough for the phone's answers to reach the watch.
        settle(0.1);
    }
    void settle(double seconds) { world.loop.advance(seconds); }
    double wallNow() const { return kEpoch + world.loop.now(); }

    // The messages the watch received from `from` on, by name.
    std::vector<std::string> namesSince(std::size_t from) const {
        std::vector<std::string> names;
        const auto& all = world.watch.messages().all();
        for (std::size_t i = from; i < all.size(); ++i) {
            names.push_back(all[i].msgId);
        }
        return names;
    }
    std::size_t received() const { return world.watch.messages().all().size(); }

    listener_test::ListenerWorld world;
    platform::ReplayLocation replay{world.loop, platform::loopWallClock(world.loop, kEpoch),
                                    walk()};
    TQLbsServerProvider provider{{.location = replay,
                                  .center = world.center,
                                  .host = platform::AppHost::current(),
                                  .now = platform::loopWallClock(world.loop, kEpoch),
                                  .documents = world.container.documents()},
                                 world.ap.get()};
    WatchExercise exercise{world.watch};
};

TEST_F(LocationExerciseTest, AWholeExerciseWithBatchesPauseResumeAndTheLastFlush) {
    command([&] { return exercise.start(WatchExercise::Kind::walk, 70, 5); });
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kRunning);
    EXPECT_TRUE(replay.isUpdating());
    EXPECT_EQ(replay.desiredAccuracy(), platform::LocationAccuracy::bestForNavigation);
    settle(12.5);
    // The fix of the start and five more close the first interval; five close the second.
    ASSERT_EQ(exercise.batches().size(), 2U);
    EXPECT_EQ(exercise.batches()[0].size(), 6U);
    EXPECT_EQ(exercise.batches()[1].size(), 5U);
    EXPECT_EQ(provider.pendingResults(), 2U);

    command([&] { return exercise.pause(); });
    EXPECT_FALSE(replay.isUpdating());
    settle(60);
    EXPECT_EQ(exercise.batches().size(), 2U);
    EXPECT_EQ(provider.pendingResults(), 2U);

    command([&] { return exercise.resume(); });
    EXPECT_TRUE(replay.isUpdating());
    settle(5.5);
    // The results from before the pause go with the first batch after it.
    ASSERT_EQ(exercise.batches().size(), 3U);
    EXPECT_EQ(exercise.batches()[2].size(), 8U);

    settle(2);
    command([&] { return exercise.stop(); });
    settle(1);
    ASSERT_EQ(exercise.batches().size(), 4U);
    EXPECT_EQ(exercise.batches()[3].size(), 2U);
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kStopped);
    EXPECT_FALSE(replay.isUpdating());
    EXPECT_FALSE(provider.monitor().isStarted());

    // Every batch message as the watch reads it, and the results in order without a gap.
    std::vector<Value> results;
    for (const auto& message : world.watch.messages().all()) {
        if (message.msgId != "lbs-exercise-info-rsp") {
            continue;
        }
        EXPECT_EQ(message.appId, 4);
        EXPECT_EQ(message.priority, 1);
        EXPECT_EQ(keysOf(*message.json),
                  (std::vector<std::string>{"msgId", "result", "reason", "exerciseInfo"}));
        EXPECT_EQ((*message.json)["result"], Value(1));
        EXPECT_EQ((*message.json)["reason"], Value(0));
        for (const auto& result : *(*message.json)["exerciseInfo"].arrayIf()) {
            EXPECT_EQ(keysOf(result), kResultKeys);
            results.push_back(result);
        }
    }
    ASSERT_EQ(results.size(), 21U);
    for (std::size_t i = 1; i < results.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GT(*results[i]["timestamp"].intValue(), *results[i - 1]["timestamp"].intValue());
        EXPECT_GE(*results[i]["totalDistance"].doubleValue(),
                  *results[i - 1]["totalDistance"].doubleValue());
        EXPECT_EQ(*results[i]["movingTime"].intValue(), 1000 * static_cast<std::int64_t>(i + 1));
    }
    // 20 steps of 1.4 m and the pause in the duration.
    EXPECT_NEAR(*results.back()["totalDistance"].doubleValue(), 28.0, 0.01);
    EXPECT_GE(*results.back()["durationTime"].intValue(), 79'000);
    EXPECT_EQ(results.back()["speed"], Value(1.4));
    EXPECT_EQ(results.back()["gpsStatus"], Value(2));
    // And the monitor's file beside them: the header and one row per result.
    const auto documents = world.container.documents();
    int rows = 0;
    for (const auto& entry : std::filesystem::directory_iterator(documents)) {
        if (entry.path().extension() == ".csv") {
            std::ifstream file(entry.path());
            std::string line;
            while (std::getline(file, line)) {
                ++rows;
            }
        }
    }
    EXPECT_EQ(rows, 22);
}

TEST_F(LocationExerciseTest, LosingThePermissionWhileConnectedSendsTheBatchResetsAndReports) {
    command([&] { return exercise.startTracking(2); });
    command([&] { return exercise.start(WatchExercise::Kind::run, 80, 60); });
    settle(3.5);
    const auto pending = provider.pendingResults();
    EXPECT_GE(pending, 3U);
    const auto from = received();

    replay.setAuthorization(LocationAuthorization::denied);
    settle(1);
    EXPECT_EQ(namesSince(from),
              (std::vector<std::string>{"lbs-exercise-info-rsp", "mgr_gps_changed_req",
                                        "mgr_wps_changed_req"}));
    const auto& all = world.watch.messages().all();
    EXPECT_EQ((*all[from].json)["exerciseInfo"].arrayIf()->size(), pending);
    EXPECT_EQ(all[from + 1].appId, 1);
    EXPECT_EQ(*all[from + 1].json, (Value{{"msgId", "mgr_gps_changed_req"}, {"gps", false}}));
    EXPECT_EQ(*all[from + 2].json, (Value{{"msgId", "mgr_wps_changed_req"}, {"wps", false}}));
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kStopped);
    EXPECT_EQ(provider.locationStatus(), TQLbsServerProvider::kTrackingOff);
    EXPECT_FALSE(replay.isUpdating());
    EXPECT_FALSE(provider.monitor().isStarted());

    // Coming back only reports.
    const auto back = received();
    replay.setAuthorization(LocationAuthorization::whenInUse);
    settle(1);
    EXPECT_EQ(namesSince(back),
              (std::vector<std::string>{"mgr_gps_changed_req", "mgr_wps_changed_req"}));
    EXPECT_EQ(*world.watch.messages().all()[back].json,
              (Value{{"msgId", "mgr_gps_changed_req"}, {"gps", true}}));
    EXPECT_FALSE(replay.isUpdating());
}

TEST_F(LocationExerciseTest, ThePermissionReportWaitsForAWatchInUse) {
    world.defaults.set("isWMSConnected", 0);
    command([&] { return exercise.start(WatchExercise::Kind::walk, 70, 60); });
    const auto from = received();
    replay.setAuthorization(LocationAuthorization::denied);
    settle(1);
    EXPECT_EQ(received(), from);
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kRunning);
}

TEST_F(LocationExerciseTest, TheWatchAsksForTheLocationSetting) {
    const struct {
        bool enabled;
        LocationAuthorization authorization;
        std::int64_t answer;
    } cases[] = {
        {true, LocationAuthorization::always, 2},
        {true, LocationAuthorization::whenInUse, 2},
        {true, LocationAuthorization::denied, 1},
        {true, LocationAuthorization::restricted, 1},
        {true, LocationAuthorization::notDetermined, 0},
        {false, LocationAuthorization::always, 1},
    };
    // Not in use, so that the settings change without reports.
    world.defaults.set("isWMSConnected", 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.authorization));
        replay.setServicesEnabled(c.enabled);
        replay.setAuthorization(c.authorization);
        command([&] { return exercise.askLocationSetting(); });
        settle(1);
        EXPECT_EQ(exercise.lastLocationSetting(), c.answer);
    }
    EXPECT_EQ(world.logs->count("handleLocationSettingInfo default : Unused "), 1);
}

// Tracking answers are at most one per 0.9 s of fix time, and never for a fix 1.1 s old.
TEST_F(LocationExerciseTest, TrackingSendsFixesThroughTheTimeGates) {
    command([&] { return exercise.startTracking(7); });
    EXPECT_EQ(replay.desiredAccuracy(), platform::LocationAccuracy::best);
    replay.stopUpdatingLocation();
    settle(5);
    const auto sent = [&] { return exercise.fixes().size(); };
    const auto feed = [&](double ageSeconds) {
        LocationFix fix = walk()[3];
        fix.timestamp = wallNow() - ageSeconds;
        provider.didUpdateLocations(std::span<const LocationFix>(&fix, 1));
        settle(0.5);
    };
    const std::size_t before = sent();
    feed(0);  // t
    EXPECT_EQ(sent(), before + 1);
    feed(0);  // t + 0.5: within the gate
    EXPECT_EQ(sent(), before + 1);
    feed(0.1);  // t + 0.9 exactly: passes
    EXPECT_EQ(sent(), before + 2);
    world.loop.advance(1.5);
    feed(1.15);  // older than 1.1 s: expired
    EXPECT_EQ(sent(), before + 2);
    feed(1.05);  // younger, and far enough from the last: sent
    EXPECT_EQ(sent(), before + 3);
    const Value last = exercise.fixes().back();
    EXPECT_EQ(keysOf(last), (std::vector<std::string>{"msgId", "result", "reason", "timestamp",
                                                      "latitude", "longitude", "altitude", "speed",
                                                      "h_accuracy", "bearing"}));
    EXPECT_EQ(last["latitude"], Value(walk()[3].latitude));
    EXPECT_EQ(world.logs->count("Location Info expired"), 1);
}

// Lines outlive the walk: a position reaches them rounded to what a city needs, whether it
// was sent, expired or went into an exercise's figures.
TEST_F(LocationExerciseTest, NoLogLineHoldsAPositionFinerThanACity) {
    LocationFix fix = walk()[3];
    fix.latitude = 52.516274;
    fix.longitude = 13.377704;
    const auto feed = [&](double ageSeconds) {
        fix.timestamp = wallNow() - ageSeconds;
        provider.didUpdateLocations(std::span<const LocationFix>(&fix, 1));
        settle(3);  // past the time gate of the last one sent
    };
    command([&] { return exercise.startTracking(7); });
    replay.stopUpdatingLocation();
    settle(5);
    feed(0);  // sent
    ASSERT_FALSE(exercise.fixes().empty());
    EXPECT_EQ(exercise.fixes().back()["latitude"], Value(52.516274)) << "the watch gets it all";
    feed(1.15);  // expired
    command([&] { return exercise.stopTracking(); });
    command([&] { return exercise.start(WatchExercise::Kind::walk, 70, 5); });
    replay.stopUpdatingLocation();
    feed(0);  // into the exercise
    EXPECT_EQ(world.logs->count("Location Info expired"), 1);
    for (const char* fine : {"52.516", "52.5163", "13.377", "13.3777"}) {
        EXPECT_EQ(world.logs->containing(fine), 0) << fine;
    }
    EXPECT_GT(world.logs->containing("52.52"), 0);
    EXPECT_GT(world.logs->containing("13.38"), 0);
}

// Starting over an exercise that runs or is paused ends it first; a start without a valid
// type changes nothing.
TEST_F(LocationExerciseTest, AStartOverARunningOrPausedExerciseEndsItFirst) {
    command([&] { return exercise.start(WatchExercise::Kind::walk, 70, 60); });
    settle(3.5);
    EXPECT_EQ(provider.pendingResults(), 4U);
    command([&] { return exercise.start(WatchExercise::Kind::run, 80, 60); });
    ASSERT_EQ(exercise.batches().size(), 1U);
    EXPECT_EQ(exercise.batches()[0].size(), 4U);
    settle(3.5);
    command([&] { return exercise.pause(); });
    command([&] { return exercise.start(WatchExercise::Kind::cycle, 80, 0); });
    ASSERT_EQ(exercise.batches().size(), 2U);
    settle(2.5);
    // The new exercise counts from nothing, and with no interval every result goes alone.
    ASSERT_GE(exercise.batches().size(), 4U);
    EXPECT_EQ(exercise.batches()[2].size(), 1U);
    EXPECT_EQ(exercise.batches()[3].size(), 1U);
    EXPECT_EQ(exercise.batches()[2][0]["durationTime"], Value(0));
    EXPECT_EQ(exercise.batches()[2][0]["totalDistance"], Value(0.0));

    for (const std::int64_t type : {0, 5}) {
        SCOPED_TRACE(type);
        command([&] {
            return exercise.send(Value{{"msgId", "lbs-exercise-info-req"},
                                       {"cmd", 1},
                                       {"exerciseType", type},
                                       {"interval", 1}});
        });
        EXPECT_EQ(provider.batchingInterval(), 0);
        EXPECT_TRUE(provider.monitor().isStarted());
    }
    command([&] { return exercise.stop(); });
    command([&] {
        return exercise.send(
            Value{{"msgId", "lbs-exercise-info-req"}, {"cmd", 1}, {"interval", 3}});
    });
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kStopped);
    EXPECT_FALSE(replay.isUpdating());
}

TEST_F(LocationExerciseTest, ADisconnectionWhilePausedStopsTheMonitor) {
    command([&] { return exercise.start(WatchExercise::Kind::walk, 70, 60); });
    settle(2.5);
    command([&] { return exercise.pause(); });
    EXPECT_TRUE(provider.monitor().isStarted());
    world.center.post("onDisconnectDeviceNotification");
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kStopped);
    EXPECT_FALSE(provider.monitor().isStarted());
    EXPECT_EQ(provider.pendingResults(), 0U);
}

// With the location services off only what needs a position waits: stop and pause are
// carried out, start and resume are not.
TEST_F(LocationExerciseTest, WithLocationServicesOffStopAndPauseAreStillCarriedOut) {
    world.defaults.set("isWMSConnected", 0);
    command([&] { return exercise.startTracking(1); });
    command([&] { return exercise.start(WatchExercise::Kind::walk, 70, 60); });
    settle(2.5);
    const auto pending = provider.pendingResults();
    EXPECT_GE(pending, 2U);
    replay.setServicesEnabled(false);
    command([&] { return exercise.pause(); });
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kPaused);
    command([&] { return exercise.resume(); });
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kPaused);
    command([&] { return exercise.stop(); });
    settle(0.5);
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kStopped);
    ASSERT_EQ(exercise.batches().size(), 1U);
    EXPECT_EQ(exercise.batches()[0].size(), pending);
    EXPECT_EQ(provider.locationStatus(), TQLbsServerProvider::kTrackingOn);
    command([&] { return exercise.stopTracking(); });
    EXPECT_EQ(provider.locationStatus(), TQLbsServerProvider::kTrackingOff);
    EXPECT_FALSE(replay.isUpdating());
    command([&] { return exercise.start(WatchExercise::Kind::walk, 70, 60); });
    EXPECT_EQ(provider.exerciseStatus(), TQLbsServerProvider::kStopped);
}

}  // namespace
}  // namespace e2e
