#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/location/GeoClueLocation.h"
#include "support/FakeGeoClue.h"
#include "support/PrivateBusTest.h"

namespace platform {
namespace {

class Recorder final : public LocationManagerDelegate {
public:
    void didUpdateLocations(std::span<const LocationFix> fixes) override {
        this->fixes.insert(this->fixes.end(), fixes.begin(), fixes.end());
    }
    void didChangeAuthorization(LocationAuthorization status) override {
        statuses.push_back(status);
    }
    void didFailWithError(const Error& error) override { errors.push_back(error); }
    std::vector<LocationFix> fixes;
    std::vector<LocationAuthorization> statuses;
    std::vector<Error> errors;
};

// The real backend against the tests' own GeoClue on a private bus. The bus answers on its own
// threads, so the loop runs on the real clock and every wait is for an event, bounded.
class GeoClueLocationTest : public testing_support::PrivateBusTest {
protected:
    void startService(unsigned level = GeoClueLocation::kExact) {
        service = testing_support::FakeGeoClue::start(bus->address(), level);
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(bus->waitForName(GeoClueLocation::kService));
    }

    void makeBackend() {
        location = std::make_unique<GeoClueLocation>(loop, "com.kavo.KavoManager", bus->address());
        location->setDelegate(&recorder);
    }

    // Runs the loop until done() holds, for at most ten seconds of real time.
    bool waitFor(const std::function<bool()>& done) {
        bool expired = false;
        const auto deadline = loop.scheduleTimer(10, false, [&] { expired = true; });
        loop.runUntil([&] { return expired || done(); });
        deadline->invalidate();
        return done();
    }

    static LocationFix fix(double latitude, double timestamp) {
        LocationFix f;
        f.latitude = latitude;
        f.longitude = 13.4;
        f.altitude = 34;
        f.horizontalAccuracy = 8;
        f.speed = 1.25;
        f.course = 270;
        f.timestamp = timestamp;
        return f;
    }

    RunLoop loop{RunLoop::Clock::real};
    std::unique_ptr<testing_support::FakeGeoClue> service;
    Recorder recorder;
    std::unique_ptr<GeoClueLocation> location;
};

TEST_F(GeoClueLocationTest, FixesArriveAtTheAccuracyLevelAsked) {
    startService();
    makeBackend();
    ASSERT_TRUE(waitFor([&] { return location->servicesEnabled() && !recorder.statuses.empty(); }));
    EXPECT_EQ(location->authorization(), LocationAuthorization::whenInUse);

    location->setDesiredAccuracy(LocationAccuracy::hundredMeters);
    location->startUpdatingLocation();
    ASSERT_TRUE(waitFor([&] {
        const auto clients = service->clients();
        return clients.size() == 1 && clients[0].active;
    }));
    const auto client = service->clients()[0];
    EXPECT_EQ(client.desktopId, "com.kavo.KavoManager");
    EXPECT_EQ(client.requestedLevel, GeoClueLocation::kNeighborhood);

    service->publish(fix(52.5, 1457013909.25));
    service->publish(fix(52.6, 1457013910.5));
    ASSERT_TRUE(waitFor([&] { return recorder.fixes.size() == 2; }));
    EXPECT_EQ(recorder.fixes[0], fix(52.5, 1457013909.25));
    EXPECT_EQ(recorder.fixes[1], fix(52.6, 1457013910.5));

    location->stopUpdatingLocation();
    ASSERT_TRUE(waitFor([&] { return !service->clients()[0].active; }));
    // A change while stopped goes to the client for the next start.
    location->setDesiredAccuracy(LocationAccuracy::best);
    ASSERT_TRUE(
        waitFor([&] { return service->clients()[0].requestedLevel == GeoClueLocation::kExact; }));
}

TEST_F(GeoClueLocationTest, TheServiceVanishingReadsAsServicesSwitchedOff) {
    startService();
    makeBackend();
    location->startUpdatingLocation();
    ASSERT_TRUE(waitFor([&] {
        const auto clients = service->clients();
        return clients.size() == 1 && clients[0].active;
    }));
    const auto reports = recorder.statuses.size();
    service->vanish();
    ASSERT_TRUE(waitFor([&] { return !location->servicesEnabled(); }));
    ASSERT_TRUE(waitFor([&] { return recorder.statuses.size() > reports; }));
    EXPECT_EQ(recorder.statuses.back(), LocationAuthorization::notDetermined);
}

TEST_F(GeoClueLocationTest, NoServiceOnTheBusIsServicesSwitchedOff) {
    makeBackend();
    // The answer to whether anyone owns the name comes back on the loop; nobody does.
    bool answered = false;
    loop.postDelayed(0.5, [&] { answered = true; });
    ASSERT_TRUE(waitFor([&] { return answered; }));
    EXPECT_FALSE(location->servicesEnabled());
    location->startUpdatingLocation();
    EXPECT_TRUE(recorder.fixes.empty());
}

TEST_F(GeoClueLocationTest, AServiceThatOffersNoAccuracyIsRestricted) {
    startService(GeoClueLocation::kNone);
    makeBackend();
    ASSERT_TRUE(waitFor([&] { return !recorder.statuses.empty(); }));
    EXPECT_EQ(location->authorization(), LocationAuthorization::restricted);
}

TEST_F(GeoClueLocationTest, TheAgentsRefusalIsDenied) {
    startService();
    service->refuseStarts();
    makeBackend();
    location->startUpdatingLocation();
    ASSERT_TRUE(waitFor([&] {
        return !recorder.statuses.empty() &&
               recorder.statuses.back() == LocationAuthorization::denied;
    }));
    EXPECT_FALSE(location->isUpdating());
    EXPECT_TRUE(service->clients()[0].active == false);
}

TEST_F(GeoClueLocationTest, TheBusGoingAwayIsTheServiceGoingAway) {
    startService();
    makeBackend();
    ASSERT_TRUE(waitFor([&] { return location->servicesEnabled(); }));
    service.reset();
    bus.reset();
    ASSERT_TRUE(waitFor([&] { return !location->servicesEnabled(); }));
}

}  // namespace
}  // namespace platform
