#include "support/FakeGeoClue.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <utility>

namespace testing_support {
namespace {

constexpr const char* kName = "org.freedesktop.GeoClue2";
constexpr const char* kManagerPath = "/org/freedesktop/GeoClue2/Manager";
constexpr const char* kManager = "org.freedesktop.GeoClue2.Manager";
constexpr const char* kClient = "org.freedesktop.GeoClue2.Client";
constexpr const char* kLocation = "org.freedesktop.GeoClue2.Location";

}  // namespace

struct FakeGeoClue::Service {
    struct Client {
        std::unique_ptr<sdbus::IObject> object;
        ClientState state;
        sdbus::ObjectPath location{"/"};
    };

    mutable std::mutex mutex;
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<sdbus::IObject> manager;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<std::unique_ptr<sdbus::IObject>> locations;
    unsigned availableLevel = 8;
    bool refuse = false;

    sdbus::ObjectPath createClient() {
        std::lock_guard lock(mutex);
        auto client = std::make_unique<Client>();
        const sdbus::ObjectPath path("/org/freedesktop/GeoClue2/Client/" +
                                     std::to_string(clients.size() + 1));
        client->object = sdbus::createObject(*connection, path);
        Client* raw = client.get();
        auto& object = *client->object;
        object.registerMethod("Start").onInterface(kClient).implementedAs([this, raw] {
            std::lock_guard lock(mutex);
            if (refuse) {
                throw sdbus::Error("org.freedesktop.DBus.Error.AccessDenied", "the agent said no");
            }
            raw->state.active = true;
        });
        object.registerMethod("Stop").onInterface(kClient).implementedAs([this, raw] {
            std::lock_guard lock(mutex);
            raw->state.active = false;
        });
        object.registerProperty("DesktopId")
            .onInterface(kClient)
            .withGetter([this, raw] {
                std::lock_guard lock(mutex);
                return raw->state.desktopId;
            })
            .withSetter([this, raw](const std::string& id) {
                std::lock_guard lock(mutex);
                raw->state.desktopId = id;
            });
        object.registerProperty("RequestedAccuracyLevel")
            .onInterface(kClient)
            .withGetter([this, raw] {
                std::lock_guard lock(mutex);
                return static_cast<std::uint32_t>(raw->state.requestedLevel);
            })
            .withSetter([this, raw](const std::uint32_t& level) {
                std::lock_guard lock(mutex);
                raw->state.requestedLevel = level;
            });
        object.registerProperty("Active").onInterface(kClient).withGetter([this, raw] {
            std::lock_guard lock(mutex);
            return raw->state.active;
        });
        object.registerProperty("Location").onInterface(kClient).withGetter([this, raw] {
            std::lock_guard lock(mutex);
            return raw->location;
        });
        object.registerSignal("LocationUpdated")
            .onInterface(kClient)
            .withParameters<sdbus::ObjectPath, sdbus::ObjectPath>("old", "new");
        object.finishRegistration();
        clients.push_back(std::move(client));
        return path;
    }
};

std::unique_ptr<FakeGeoClue> FakeGeoClue::start(const std::string& address,
                                                unsigned availableLevel) {
    std::unique_ptr<FakeGeoClue> fake(new FakeGeoClue());
    fake->service_ = std::make_unique<Service>();
    Service& service = *fake->service_;
    service.availableLevel = availableLevel;
    try {
        service.connection = sdbus::createSessionBusConnectionWithAddress(address);
        service.manager = sdbus::createObject(*service.connection, kManagerPath);
        service.manager->registerMethod("CreateClient")
            .onInterface(kManager)
            .implementedAs([&service] { return service.createClient(); });
        service.manager->registerMethod("GetClient")
            .onInterface(kManager)
            .implementedAs([&service] { return service.createClient(); });
        service.manager->registerProperty("AvailableAccuracyLevel")
            .onInterface(kManager)
            .withGetter([&service] { return static_cast<std::uint32_t>(service.availableLevel); });
        service.manager->registerProperty("InUse").onInterface(kManager).withGetter(
            [] { return false; });
        service.manager->finishRegistration();
        service.connection->requestName(kName);
        service.connection->enterEventLoopAsync();
    } catch (const sdbus::Error&) {
        return nullptr;
    }
    return fake;
}

FakeGeoClue::~FakeGeoClue() {
    if (service_ != nullptr && service_->connection != nullptr) {
        service_->connection->leaveEventLoop();
    }
}

void FakeGeoClue::publish(const platform::LocationFix& fix) {
    // The bus's thread holds the library's lock while it runs our handlers, which take ours:
    // never call the library while holding ours.
    Service& service = *service_;
    const sdbus::ObjectPath path("/org/freedesktop/GeoClue2/Location/" +
                                 std::to_string(service.locations.size() + 1));
    auto object = sdbus::createObject(*service.connection, path);
    const auto stamp = static_cast<std::uint64_t>(fix.timestamp);
    const auto micros =
        static_cast<std::uint64_t>((fix.timestamp - static_cast<double>(stamp)) * 1e6);
    const auto constant = [&](const char* name, double value) {
        object->registerProperty(name).onInterface(kLocation).withGetter([value] { return value; });
    };
    constant("Latitude", fix.latitude);
    constant("Longitude", fix.longitude);
    constant("Accuracy", fix.horizontalAccuracy);
    constant("Altitude", fix.altitude);
    constant("Speed", fix.speed);
    constant("Heading", fix.course);
    object->registerProperty("Description").onInterface(kLocation).withGetter([] {
        return std::string("test");
    });
    object->registerProperty("Timestamp").onInterface(kLocation).withGetter([stamp, micros] {
        return sdbus::Struct<std::uint64_t, std::uint64_t>(stamp, micros);
    });
    object->finishRegistration();
    service.locations.push_back(std::move(object));

    std::vector<std::pair<sdbus::IObject*, sdbus::ObjectPath>> announce;
    {
        std::lock_guard lock(service.mutex);
        for (auto& client : service.clients) {
            if (client->state.active) {
                announce.emplace_back(client->object.get(), client->location);
                client->location = path;
            }
        }
    }
    for (const auto& [client, previous] : announce) {
        client->emitSignal("LocationUpdated").onInterface(kClient).withArguments(previous, path);
    }
}

void FakeGeoClue::refuseStarts() {
    std::lock_guard lock(service_->mutex);
    service_->refuse = true;
}

void FakeGeoClue::vanish() {
    service_->connection->releaseName(kName);
}

std::vector<FakeGeoClue::ClientState> FakeGeoClue::clients() const {
    std::lock_guard lock(service_->mutex);
    std::vector<ClientState> states;
    for (const auto& client : service_->clients) {
        states.push_back(client->state);
    }
    return states;
}

}  // namespace testing_support
