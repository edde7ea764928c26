#include "platform/location/GeoClueLocation.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <thread>
#include <utility>

#include "platform/foundation/LogSink.h"

namespace platform {
namespace {

constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kManagerPath = "/org/freedesktop/GeoClue2/Manager";
constexpr const char* kManagerInterface = "org.freedesktop.GeoClue2.Manager";
constexpr const char* kClientInterface = "org.freedesktop.GeoClue2.Client";
constexpr const char* kLocationInterface = "org.freedesktop.GeoClue2.Location";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";

using PropertyMap = std::map<std::string, sdbus::Variant>;

template <typename T>
T property(const PropertyMap& properties, const std::string& name, T fallback) {
    const auto found = properties.find(name);
    if (found == properties.end() || !found->second.containsValueOfType<T>()) {
        return fallback;
    }
    return found->second.get<T>();
}

LocationFix fixOf(const PropertyMap& properties) {
    LocationFix fix;
    fix.latitude = property(properties, "Latitude", 0.0);
    fix.longitude = property(properties, "Longitude", 0.0);
    fix.horizontalAccuracy = property(properties, "Accuracy", -1.0);
    // GeoClue marks an unknown altitude with the lowest double.
    const double altitude = property(properties, "Altitude", std::numeric_limits<double>::lowest());
    if (altitude > std::numeric_limits<double>::lowest()) {
        fix.altitude = altitude;
    }
    fix.speed = property(properties, "Speed", -1.0);
    fix.course = property(properties, "Heading", -1.0);
    using Stamp = sdbus::Struct<std::uint64_t, std::uint64_t>;
    const auto stamp = property(properties, "Timestamp", Stamp{std::uint64_t{0}, std::uint64_t{0}});
    fix.timestamp =
        static_cast<double>(std::get<0>(stamp)) + static_cast<double>(std::get<1>(stamp)) / 1e6;
    return fix;
}

// Runs a call on the bus; a bus that went away in the meantime is told by its loop's end.
template <typename Call>
void onBus(Call&& call) {
    try {
        call();
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_WARN("GeoClue: a call failed: ", error.what());
    }
}

}  // namespace

// The bus side: its connection, its thread and the proxies. Every reply and signal arrives on
// the bus's thread and is posted to the loop, where the weak pointer decides whether anyone
// still listens.
struct GeoClueLocation::Bus {
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<sdbus::IProxy> daemon;
    std::unique_ptr<sdbus::IProxy> manager;
    std::unique_ptr<sdbus::IProxy> client;
    std::string clientPath;
    std::thread thread;

    // The bus's own loop, which ends when asked or when the bus goes away; then `lost` runs.
    void run(std::function<void()> lost) {
        thread = std::thread([this, lost = std::move(lost)] {
            try {
                connection->enterEventLoop();
            } catch (const sdbus::Error& error) {
                PLATFORM_LOG_WARN("GeoClue: the bus went away: ", error.what());
                lost();
            }
        });
    }

    ~Bus() {
        if (connection != nullptr) {
            connection->leaveEventLoop();
        }
        if (thread.joinable()) {
            thread.join();
        }
        client.reset();
        manager.reset();
        daemon.reset();
    }
};

GeoClueLocation::GeoClueLocation(RunLoop& loop, std::string desktopId, std::string address)
    : loop_(loop), desktopId_(std::move(desktopId)), bus_(std::make_unique<Bus>()) {
    try {
        bus_->connection = address.empty() ? sdbus::createSystemBusConnection()
                                           : sdbus::createSessionBusConnectionWithAddress(address);
        bus_->daemon = sdbus::createProxy(*bus_->connection, kBusService, kBusPath);
        bus_->manager = sdbus::createProxy(*bus_->connection, kService, kManagerPath);
        auto weak = weak_.weakPtr();
        RunLoop* loopPointer = &loop_;
        bus_->daemon->uponSignal("NameOwnerChanged")
            .onInterface(kBusService)
            .call([weak, loopPointer](const std::string& name, const std::string&,
                                      const std::string& owner) {
                if (name != kService) {
                    return;
                }
                loopPointer->post([weak, present = !owner.empty()] {
                    if (auto* self = weak.get()) {
                        self->serviceChanged(present);
                    }
                });
            });
        bus_->daemon->finishRegistration();
        bus_->manager->finishRegistration();
        bus_->run([weak, loopPointer] {
            loopPointer->post([weak] {
                if (auto* self = weak.get()) {
                    self->serviceChanged(false);
                    self->bus_->manager.reset();
                }
            });
        });
        bus_->daemon->callMethodAsync("NameHasOwner")
            .onInterface(kBusService)
            .withArguments(std::string(kService))
            .uponReplyInvoke([weak, loopPointer](const sdbus::Error* error, bool present) {
                loopPointer->post([weak, present = error == nullptr && present] {
                    if (auto* self = weak.get()) {
                        self->serviceChanged(present);
                    }
                });
            });
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_INFO("GeoClue: no bus, so no location service: ", error.what());
        bus_ = std::make_unique<Bus>();
    }
}

GeoClueLocation::~GeoClueLocation() = default;

GeoClueLocation::AccuracyLevel GeoClueLocation::levelFor(LocationAccuracy accuracy) {
    switch (accuracy) {
        case LocationAccuracy::bestForNavigation:
        case LocationAccuracy::best:
            return kExact;
        case LocationAccuracy::nearestTenMeters:
            return kStreet;
        case LocationAccuracy::hundredMeters:
            return kNeighborhood;
        case LocationAccuracy::kilometer:
        case LocationAccuracy::threeKilometers:
            return kCity;
    }
    return kExact;
}

LocationAuthorization GeoClueLocation::authorization() const {
    if (!present_) {
        return LocationAuthorization::notDetermined;
    }
    if (refused_) {
        return LocationAuthorization::denied;
    }
    return availableLevel_ == kNone ? LocationAuthorization::restricted
                                    : LocationAuthorization::whenInUse;
}

void GeoClueLocation::serviceChanged(bool present) {
    // After the bus went away nothing comes back.
    present = present && bus_->manager != nullptr;
    if (present == present_) {
        return;
    }
    present_ = present;
    // A service that comes back knows nothing of our client.
    bus_->client.reset();
    bus_->clientPath.clear();
    creating_ = false;
    refused_ = false;
    availableLevel_ = kNone;
    if (!present) {
        PLATFORM_LOG_INFO("GeoClue: the location service left the bus");
        reportAuthorization();
        return;
    }
    auto weak = weak_.weakPtr();
    RunLoop* loopPointer = &loop_;
    onBus([&] {
        bus_->manager->callMethodAsync("Get")
            .onInterface(kProperties)
            .withArguments(std::string(kManagerInterface), std::string("AvailableAccuracyLevel"))
            .uponReplyInvoke([weak, loopPointer](const sdbus::Error* error, sdbus::Variant value) {
                unsigned level = kNone;
                if (error == nullptr && value.containsValueOfType<std::uint32_t>()) {
                    level = value.get<std::uint32_t>();
                }
                loopPointer->post([weak, level] {
                    if (auto* self = weak.get()) {
                        self->levelAvailable(level);
                    }
                });
            });
    });
}

void GeoClueLocation::levelAvailable(unsigned level) {
    availableLevel_ = level;
    reportAuthorization();
    if (wanted_) {
        startUpdatingLocation();
    }
}

void GeoClueLocation::reportAuthorization() {
    if (auto* listener = delegate()) {
        listener->didChangeAuthorization(authorization());
    }
}

void GeoClueLocation::startUpdatingLocation() {
    wanted_ = true;
    if (!present_ || bus_->manager == nullptr) {
        return;
    }
    if (bus_->client != nullptr) {
        startClient();
        return;
    }
    if (creating_) {
        return;
    }
    creating_ = true;
    auto weak = weak_.weakPtr();
    RunLoop* loopPointer = &loop_;
    onBus([&] {
        bus_->manager->callMethodAsync("CreateClient")
            .onInterface(kManagerInterface)
            .uponReplyInvoke(
                [weak, loopPointer](const sdbus::Error* error, sdbus::ObjectPath path) {
                    std::string created = error == nullptr ? std::string(path) : std::string();
                    loopPointer->post([weak, created = std::move(created)] {
                        if (auto* self = weak.get()) {
                            self->clientCreated(created);
                        }
                    });
                });
    });
}

void GeoClueLocation::clientCreated(const std::string& path) {
    creating_ = false;
    if (path.empty() || !present_) {
        if (auto* listener = delegate(); listener != nullptr && present_) {
            listener->didFailWithError(
                Error{"platform.location.geoclue", 1, "the location service made no client"});
        }
        return;
    }
    try {
        bus_->clientPath = path;
        bus_->client = sdbus::createProxy(*bus_->connection, kService, path);
        auto weak = weak_.weakPtr();
        RunLoop* loopPointer = &loop_;
        sdbus::IConnection* connection = bus_->connection.get();
        bus_->client->uponSignal("LocationUpdated")
            .onInterface(kClientInterface)
            .call([weak, loopPointer, connection](const sdbus::ObjectPath&,
                                                  const sdbus::ObjectPath& location) {
                // Read the new location on the bus's own thread, which may wait for it.
                PropertyMap properties;
                try {
                    auto proxy = sdbus::createProxy(*connection, kService, location);
                    proxy->callMethod("GetAll")
                        .onInterface(kProperties)
                        .withArguments(std::string(kLocationInterface))
                        .storeResultsTo(properties);
                } catch (const sdbus::Error&) {
                    return;
                }
                loopPointer->post([weak, fix = fixOf(properties)] {
                    if (auto* self = weak.get()) {
                        self->fixArrived(fix);
                    }
                });
            });
        bus_->client->finishRegistration();
        bus_->client->callMethodAsync("Set")
            .onInterface(kProperties)
            .withArguments(std::string(kClientInterface), std::string("DesktopId"),
                           sdbus::Variant(desktopId_))
            .uponReplyInvoke([](const sdbus::Error*) {});
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_WARN("GeoClue: cannot follow the client: ", error.what());
        bus_->client.reset();
        return;
    }
    if (wanted_) {
        startClient();
    }
}

void GeoClueLocation::accuracyChanged() {
    if (bus_->client == nullptr) {
        return;
    }
    onBus([&] {
        bus_->client->callMethodAsync("Set")
            .onInterface(kProperties)
            .withArguments(std::string(kClientInterface), std::string("RequestedAccuracyLevel"),
                           sdbus::Variant(static_cast<std::uint32_t>(levelFor(desiredAccuracy()))))
            .uponReplyInvoke([](const sdbus::Error*) {});
    });
}

void GeoClueLocation::startClient() {
    accuracyChanged();
    auto weak = weak_.weakPtr();
    RunLoop* loopPointer = &loop_;
    onBus([&] {
        bus_->client->callMethodAsync("Start")
            .onInterface(kClientInterface)
            .uponReplyInvoke([weak, loopPointer](const sdbus::Error* error) {
                loopPointer->post(
                    [weak, ok = error == nullptr,
                     name = error != nullptr ? error->getName() : std::string(),
                     message = error != nullptr ? error->getMessage() : std::string()] {
                        if (auto* self = weak.get()) {
                            self->startAnswered(ok, name, message);
                        }
                    });
            });
    });
}

void GeoClueLocation::startAnswered(bool ok, const std::string& errorName,
                                    const std::string& message) {
    if (ok) {
        return;
    }
    wanted_ = false;
    if (errorName == kAccessDenied) {
        refused_ = true;
        reportAuthorization();
        return;
    }
    if (auto* listener = delegate()) {
        listener->didFailWithError(
            Error{"platform.location.geoclue", 2, errorName + ": " + message});
    }
}

void GeoClueLocation::stopUpdatingLocation() {
    wanted_ = false;
    if (bus_->client == nullptr) {
        return;
    }
    onBus([&] {
        bus_->client->callMethodAsync("Stop")
            .onInterface(kClientInterface)
            .uponReplyInvoke([](const sdbus::Error*) {});
    });
}

void GeoClueLocation::fixArrived(const LocationFix& fix) {
    if (!wanted_) {
        return;
    }
    if (auto* listener = delegate()) {
        listener->didUpdateLocations(std::span<const LocationFix>(&fix, 1));
    }
}

}  // namespace platform
