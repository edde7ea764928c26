#include "platform/location/GeoClueLocation.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <utility>

#include "platform/dbus/BusThread.h"
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

}  // namespace

// The bus side: its connection, the proxies and the one thread that touches them. The loop
// hands it work with post(); every reply and signal is posted back to the loop, where the weak
// pointer decides whether anyone still listens.
struct GeoClueLocation::Bus {
    // Made once the bus is reached; first, so that it goes last.
    std::unique_ptr<dbus::BusThread> thread;
    std::unique_ptr<sdbus::IProxy> daemon;
    std::unique_ptr<sdbus::IProxy> manager;
    std::unique_ptr<sdbus::IProxy> client;
    // The newest location objects being read; a newer fix supersedes the oldest read.
    std::deque<std::unique_ptr<sdbus::IProxy>> locations;

    sdbus::IConnection& connection() { return thread->connection(); }

    void post(std::function<void()> task) {
        if (thread != nullptr) {
            thread->post(std::move(task));
        }
    }

    ~Bus() {
        // Work not yet begun is dropped: nobody is left to hear its answers.
        if (thread != nullptr) {
            thread->stop(dbus::BusThread::Pending::drop);
        }
        locations.clear();
        client.reset();
        manager.reset();
        daemon.reset();
    }
};

GeoClueLocation::GeoClueLocation(RunLoop& loop, std::string desktopId, std::string address)
    : loop_(loop), desktopId_(std::move(desktopId)), bus_(std::make_unique<Bus>()) {
    auto weak = weak_.weakPtr();
    RunLoop* loopPointer = &loop_;
    const auto presence = [weak, loopPointer](bool present) {
        loopPointer->post([weak, present] {
            if (auto* self = weak.get()) {
                self->serviceChanged(present);
            }
        });
    };
    try {
        bus_->thread = std::make_unique<dbus::BusThread>(address, "GeoClue",
                                                         dbus::BusThread::Lifetime::endsWithBus);
        bus_->daemon = sdbus::createProxy(bus_->connection(), kBusService, kBusPath);
        bus_->manager = sdbus::createProxy(bus_->connection(), kService, kManagerPath);
        bus_->daemon->uponSignal("NameOwnerChanged")
            .onInterface(kBusService)
            .call(
                [presence](const std::string& name, const std::string&, const std::string& owner) {
                    if (name == kService) {
                        presence(!owner.empty());
                    }
                });
        bus_->daemon->finishRegistration();
        bus_->manager->finishRegistration();
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_INFO("GeoClue: no bus, so no location service: ", error.what());
        bus_ = std::make_unique<Bus>();
        return;
    }
    bus_->thread->start([weak, loopPointer] {
        loopPointer->post([weak] {
            if (auto* self = weak.get()) {
                self->lost_ = true;
                self->serviceChanged(false);
            }
        });
    });
    Bus* bus = bus_.get();
    bus_->post([bus, presence] {
        bus->daemon->callMethodAsync("NameHasOwner")
            .onInterface(kBusService)
            .withArguments(std::string(kService))
            .uponReplyInvoke([presence](const sdbus::Error* error, bool present) {
                presence(error == nullptr && present);
            });
    });
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
    present = present && !lost_;
    if (present == present_) {
        return;
    }
    present_ = present;
    // A service that comes back knows nothing of our client.
    haveClient_ = false;
    creating_ = false;
    refused_ = false;
    availableLevel_ = kNone;
    if (!lost_) {
        Bus* bus = bus_.get();
        bus_->post([bus] { bus->client.reset(); });
    }
    if (!present) {
        PLATFORM_LOG_INFO("GeoClue: the location service left the bus");
        reportAuthorization();
        return;
    }
    auto weak = weak_.weakPtr();
    RunLoop* loopPointer = &loop_;
    Bus* bus = bus_.get();
    bus_->post([bus, weak, loopPointer] {
        bus->manager->callMethodAsync("Get")
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
    if (!present_) {
        return;
    }
    if (haveClient_) {
        startClient();
        return;
    }
    if (creating_) {
        return;
    }
    creating_ = true;
    auto weak = weak_.weakPtr();
    RunLoop* loopPointer = &loop_;
    Bus* bus = bus_.get();
    const std::string desktopId = desktopId_;
    const auto created = [weak, loopPointer](bool ok) {
        loopPointer->post([weak, ok] {
            if (auto* self = weak.get()) {
                self->clientCreated(ok);
            }
        });
    };
    bus_->post([bus, weak, loopPointer, desktopId, created] {
        bus->manager->callMethodAsync("CreateClient")
            .onInterface(kManagerInterface)
            .uponReplyInvoke([bus, weak, loopPointer, desktopId, created](const sdbus::Error* error,
                                                                          sdbus::ObjectPath path) {
                if (error != nullptr) {
                    created(false);
                    return;
                }
                // Still on the bus's thread: follow the client and name ourselves to it.
                bus->client = sdbus::createProxy(bus->connection(), kService, path);
                bus->client->uponSignal("LocationUpdated")
                    .onInterface(kClientInterface)
                    .call([bus, weak, loopPointer](const sdbus::ObjectPath&,
                                                   const sdbus::ObjectPath& location) {
                        auto proxy = sdbus::createProxy(bus->connection(), kService, location);
                        proxy->finishRegistration();
                        proxy->callMethodAsync("GetAll")
                            .onInterface(kProperties)
                            .withArguments(std::string(kLocationInterface))
                            .uponReplyInvoke([weak, loopPointer](const sdbus::Error* failed,
                                                                 PropertyMap properties) {
                                if (failed != nullptr) {
                                    return;
                                }
                                loopPointer->post([weak, fix = fixOf(properties)] {
                                    if (auto* self = weak.get()) {
                                        self->fixArrived(fix);
                                    }
                                });
                            });
                        bus->locations.push_back(std::move(proxy));
                        if (bus->locations.size() > 2) {
                            bus->locations.pop_front();
                        }
                    });
                bus->client->finishRegistration();
                bus->client->callMethodAsync("Set")
                    .onInterface(kProperties)
                    .withArguments(std::string(kClientInterface), std::string("DesktopId"),
                                   sdbus::Variant(desktopId))
                    .uponReplyInvoke([](const sdbus::Error*) {});
                created(true);
            });
    });
}

void GeoClueLocation::clientCreated(bool ok) {
    creating_ = false;
    if (!present_) {
        return;
    }
    if (!ok) {
        if (auto* listener = delegate()) {
            listener->didFailWithError(
                Error{"platform.location.geoclue", 1, "the location service made no client"});
        }
        return;
    }
    haveClient_ = true;
    if (wanted_) {
        startClient();
    }
}

void GeoClueLocation::accuracyChanged() {
    if (!haveClient_ || lost_) {
        return;
    }
    Bus* bus = bus_.get();
    const auto level = static_cast<std::uint32_t>(levelFor(desiredAccuracy()));
    bus_->post([bus, level] {
        if (bus->client == nullptr) {
            return;
        }
        bus->client->callMethodAsync("Set")
            .onInterface(kProperties)
            .withArguments(std::string(kClientInterface), std::string("RequestedAccuracyLevel"),
                           sdbus::Variant(level))
            .uponReplyInvoke([](const sdbus::Error*) {});
    });
}

void GeoClueLocation::startClient() {
    accuracyChanged();
    auto weak = weak_.weakPtr();
    RunLoop* loopPointer = &loop_;
    Bus* bus = bus_.get();
    bus_->post([bus, weak, loopPointer] {
        if (bus->client == nullptr) {
            return;
        }
        bus->client->callMethodAsync("Start")
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
    if (!haveClient_ || lost_) {
        return;
    }
    Bus* bus = bus_.get();
    bus_->post([bus] {
        if (bus->client != nullptr) {
            bus->client->callMethodAsync("Stop")
                .onInterface(kClientInterface)
                .uponReplyInvoke([](const sdbus::Error*) {});
        }
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
