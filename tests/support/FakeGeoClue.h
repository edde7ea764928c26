#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/location/LocationFix.h"

namespace testing_support {

// A small location service on a test's bus that answers as GeoClue 2 does: the manager makes
// clients, a client takes a desktop identifier and an accuracy level, starts and stops, and
// announces each new location object with LocationUpdated. Serves from a thread of its own.
class FakeGeoClue {
public:
    // Null when it cannot take the service's name on the bus at address.
    static std::unique_ptr<FakeGeoClue> start(const std::string& address,
                                              unsigned availableLevel = 8);
    ~FakeGeoClue();
    FakeGeoClue(const FakeGeoClue&) = delete;
    FakeGeoClue& operator=(const FakeGeoClue&) = delete;

    // A new location for every started client.
    void publish(const platform::LocationFix& fix);
    // The agent refuses every start from now on.
    void refuseStarts();
    // Leaves the bus, as a service that stops or crashes.
    void vanish();

    struct ClientState {
        std::string desktopId;
        unsigned requestedLevel = 0;
        bool active = false;
    };
    [[nodiscard]] std::vector<ClientState> clients() const;

private:
    FakeGeoClue() = default;
    struct Service;
    std::unique_ptr<Service> service_;
};

}  // namespace testing_support
