#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/location/GpxTrack.h"
#include "platform/location/ReplayLocation.h"

namespace platform {
namespace {

// 2016-03-03 14:05:09 UTC.
constexpr double kTrackStart = 1457013909;

std::string gpx(const std::string& points) {
    return "<?xml version=\"1.0\"?>\n<gpx version=\"1.0\" creator=\"test\" "
           "xmlns=\"http://www.topografix.com/GPX/1/0\"><trk><trkseg>" +
           points + "</trkseg></trk></gpx>";
}

TEST(GpxTrack, ReadsPointsWithTheirElementsAndFillsWhatIsMissing) {
    const auto track = parseGpx(gpx(
        "<trkpt lat=\"52.5\" lon=\"13.4\"><ele>34.5</ele><time>2016-03-03T14:05:09Z</time>"
        "<hdop>2</hdop><vdop>3</vdop><speed>1.5</speed><course>90</course></trkpt>"
        "<trkpt lat=\"52.5001\" lon=\"13.4\"><time>2016-03-03T15:05:11.500+01:00</time></trkpt>"));
    ASSERT_TRUE(track.ok()) << track.error().message;
    ASSERT_EQ(track->size(), 2U);
    const LocationFix& first = (*track)[0];
    EXPECT_EQ(first.latitude, 52.5);
    EXPECT_EQ(first.altitude, 34.5);
    EXPECT_EQ(first.timestamp, kTrackStart);
    EXPECT_EQ(first.horizontalAccuracy, 10.0);
    EXPECT_EQ(first.verticalAccuracy, 15.0);
    EXPECT_EQ(first.speed, 1.5);
    EXPECT_EQ(first.course, 90.0);
    const LocationFix& second = (*track)[1];
    EXPECT_EQ(second.timestamp, kTrackStart + 2.5);
    EXPECT_EQ(second.horizontalAccuracy, 5.0);
    // About 11.1 m north in 2.5 s.
    EXPECT_NEAR(second.speed, distanceBetween(first, second) / 2.5, 1e-9);
    EXPECT_NEAR(second.speed, 4.448, 1e-3);
    EXPECT_NEAR(second.course, 0.0, 1e-6);
}

TEST(GpxTrack, RefusesWhatIsNotATrackOfTimedPoints) {
    const struct {
        const char* what;
        std::string document;
    } cases[] = {
        {"not XML", "<gpx><trk>"},
        {"no time", gpx("<trkpt lat=\"1\" lon=\"2\"></trkpt>")},
        {"bad time", gpx("<trkpt lat=\"1\" lon=\"2\"><time>yesterday</time></trkpt>")},
        {"latitude off the globe",
         gpx("<trkpt lat=\"91\" lon=\"2\"><time>2016-03-03T14:05:09Z</time></trkpt>")},
        {"no longitude", gpx("<trkpt lat=\"1\"><time>2016-03-03T14:05:09Z</time></trkpt>")},
        {"time goes back", gpx("<trkpt lat=\"1\" lon=\"2\"><time>2016-03-03T14:05:09Z</time>"
                               "</trkpt><trkpt lat=\"1\" lon=\"2\"><time>2016-03-03T14:05:08Z"
                               "</time></trkpt>")},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(parseGpx(c.document).ok()) << c.what;
    }
    EXPECT_TRUE(parseGpx(gpx("")).ok());
}

TEST(GpxTrack, ReadsIsoTimes) {
    EXPECT_EQ(parseIsoTime("2016-03-03T14:05:09Z"), kTrackStart);
    EXPECT_EQ(parseIsoTime("2016-03-03T14:05:09"), kTrackStart);
    EXPECT_EQ(parseIsoTime("2016-03-03T14:05:09.25Z"), kTrackStart + 0.25);
    EXPECT_EQ(parseIsoTime("2016-03-03T12:05:09-02:00"), kTrackStart);
    EXPECT_EQ(parseIsoTime("2016-03-03T16:05:09+02:00"), kTrackStart);
    EXPECT_FALSE(parseIsoTime("2016-03-03T14:05"));
    EXPECT_FALSE(parseIsoTime("2016-13-03T14:05:09Z"));
    EXPECT_FALSE(parseIsoTime("2016-03-03T14:05:09Zjunk"));
}

class Recorder final : public LocationManagerDelegate {
public:
    explicit Recorder(const RunLoop& loop) : loop_(loop) {}
    void didUpdateLocations(std::span<const LocationFix> fixes) override {
        for (const auto& fix : fixes) {
            arrivals.push_back(loop_.now());
            this->fixes.push_back(fix);
        }
    }
    void didChangeAuthorization(LocationAuthorization status) override {
        statuses.push_back(status);
    }
    std::vector<double> arrivals;
    std::vector<LocationFix> fixes;
    std::vector<LocationAuthorization> statuses;

private:
    const RunLoop& loop_;
};

std::vector<LocationFix> trackAt(const std::vector<double>& offsets) {
    std::vector<LocationFix> track;
    for (const double offset : offsets) {
        LocationFix fix;
        fix.latitude = 52.5 + offset / 1000;
        fix.timestamp = kTrackStart + offset;
        track.push_back(fix);
    }
    return track;
}

// Fixes come at their own spacing on the loop's clock, stamped with the wall clock of the
// moment; a stop keeps the place and a start goes on from there.
TEST(ReplayLocation, PlaysTheTrackWithItsOwnTimesOnTheLoopsClock) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    constexpr double kEpoch = 1'700'000'000;
    ReplayLocation replay(loop, loopWallClock(loop, kEpoch), trackAt({0, 0.5, 2, 3, 10}));
    Recorder recorder(loop);
    replay.setDelegate(&recorder);

    loop.advance(100);
    EXPECT_TRUE(recorder.fixes.empty());
    replay.startUpdatingLocation();
    loop.advance(2.5);
    EXPECT_EQ(recorder.arrivals, (std::vector<double>{100, 100.5, 102}));
    replay.stopUpdatingLocation();
    loop.advance(20);
    EXPECT_EQ(recorder.fixes.size(), 3U);

    replay.startUpdatingLocation();
    loop.advance(10);
    EXPECT_EQ(recorder.arrivals, (std::vector<double>{100, 100.5, 102, 122.5, 129.5}));
    std::vector<double> stamps;
    for (const auto& fix : recorder.fixes) {
        stamps.push_back(fix.timestamp - kEpoch);
    }
    EXPECT_EQ(stamps, (std::vector<double>{100, 100.5, 102, 122.5, 129.5}));
    EXPECT_EQ(replay.remaining(), 0U);
    EXPECT_FALSE(replay.isUpdating());
}

TEST(ReplayLocation, TellsTheDelegateWhenTheSettingsChange) {
    RunLoop loop(RunLoop::Clock::virtualTime);
    ReplayLocation replay(loop, loopWallClock(loop, 0), {});
    Recorder recorder(loop);
    replay.setDelegate(&recorder);
    EXPECT_EQ(replay.authorization(), LocationAuthorization::always);
    replay.setAuthorization(LocationAuthorization::denied);
    replay.setServicesEnabled(false);
    EXPECT_TRUE(recorder.statuses.empty());
    loop.runUntilIdle();
    EXPECT_EQ(recorder.statuses,
              (std::vector{LocationAuthorization::denied, LocationAuthorization::denied}));
    EXPECT_FALSE(replay.servicesEnabled());
}

}  // namespace
}  // namespace platform
