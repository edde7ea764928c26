#include "support/mpris/MprisTestPlayer.h"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cstdint>
#include <map>

namespace testing_support {

namespace {

constexpr const char* kPath = "/org/mpris/MediaPlayer2";
constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";
constexpr auto kBound = std::chrono::seconds(10);

const std::vector<std::string> kTracks{"First Light", "Second Wind", "Third Time"};

}  // namespace

struct MprisTestPlayer::Bus {
    std::string name;
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<sdbus::IObject> object;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::string status = "Stopped";
    double volume = 0.5;
    std::size_t track = 0;
    std::vector<std::string> calls;

    std::map<std::string, sdbus::Variant> metadata() {
        std::lock_guard lock(mutex);
        return {{"mpris:trackid",
                 sdbus::Variant(sdbus::ObjectPath("/kavo/track/" + std::to_string(track)))},
                {"xesam:title", sdbus::Variant(kTracks[track % kTracks.size()])},
                {"xesam:artist", sdbus::Variant(std::vector<std::string>{"The Testers"})}};
    }

    // Records a call and its change, then announces the properties named.
    void apply(const std::string& call, const std::function<void()>& change,
               const std::vector<std::string>& properties) {
        {
            std::lock_guard lock(mutex);
            calls.push_back(call);
            change();
        }
        changed.notify_all();
        if (!properties.empty()) {
            object->emitPropertiesChangedSignal(kPlayer, properties);
        }
    }
};

std::unique_ptr<MprisTestPlayer> MprisTestPlayer::start(const std::string& address,
                                                        const std::string& name,
                                                        std::string& whyNot) {
    std::unique_ptr<MprisTestPlayer> player(new MprisTestPlayer());
    auto bus = std::make_unique<Bus>();
    Bus* const b = bus.get();
    try {
        bus->name = "org.mpris.MediaPlayer2." + name;
        bus->connection = sdbus::createSessionBusConnectionWithAddress(address);
        bus->object = sdbus::createObject(*bus->connection, kPath);
        const auto status = [b](const char* call, const char* to) {
            b->apply(call, [b, to] { b->status = to; }, {"PlaybackStatus"});
        };
        auto& object = *bus->object;
        object.registerMethod("Play").onInterface(kPlayer).implementedAs(
            [status] { status("Play", "Playing"); });
        object.registerMethod("Pause").onInterface(kPlayer).implementedAs(
            [status] { status("Pause", "Paused"); });
        object.registerMethod("Stop").onInterface(kPlayer).implementedAs(
            [status] { status("Stop", "Stopped"); });
        object.registerMethod("PlayPause").onInterface(kPlayer).implementedAs([b] {
            b->apply("PlayPause",
                     [b] { b->status = b->status == "Playing" ? "Paused" : "Playing"; },
                     {"PlaybackStatus"});
        });
        object.registerMethod("Next").onInterface(kPlayer).implementedAs(
            [b] { b->apply("Next", [b] { ++b->track; }, {"Metadata"}); });
        object.registerMethod("Previous").onInterface(kPlayer).implementedAs([b] {
            b->apply("Previous", [b] { b->track = b->track > 0 ? b->track - 1 : 0; }, {"Metadata"});
        });
        object.registerMethod("Seek").onInterface(kPlayer).implementedAs(
            [b](std::int64_t /*offset*/) { b->apply("Seek", [] {}, {}); });
        object.registerProperty("PlaybackStatus").onInterface(kPlayer).withGetter([b] {
            std::lock_guard lock(b->mutex);
            return b->status;
        });
        object.registerProperty("Rate").onInterface(kPlayer).withGetter([] { return 1.0; });
        object.registerProperty("Metadata").onInterface(kPlayer).withGetter([b] {
            return b->metadata();
        });
        object.registerProperty("Volume")
            .onInterface(kPlayer)
            .withGetter([b] {
                std::lock_guard lock(b->mutex);
                return b->volume;
            })
            .withSetter([b](const double& volume) {
                b->apply("SetVolume", [b, volume] { b->volume = volume; }, {"Volume"});
            });
        object.finishRegistration();
        bus->connection->requestName(bus->name);
        bus->connection->enterEventLoopAsync();
    } catch (const sdbus::Error& error) {
        whyNot = error.getMessage();
        return nullptr;
    }
    player->bus_ = std::move(bus);
    return player;
}

MprisTestPlayer::~MprisTestPlayer() {
    if (bus_ && bus_->connection) {
        bus_->connection->leaveEventLoop();
    }
}

std::string MprisTestPlayer::busName() const {
    return bus_->name;
}

std::string MprisTestPlayer::status() const {
    std::lock_guard lock(bus_->mutex);
    return bus_->status;
}

double MprisTestPlayer::volume() const {
    std::lock_guard lock(bus_->mutex);
    return bus_->volume;
}

std::string MprisTestPlayer::title() const {
    std::lock_guard lock(bus_->mutex);
    return kTracks[bus_->track % kTracks.size()];
}

std::vector<std::string> MprisTestPlayer::calls() const {
    std::lock_guard lock(bus_->mutex);
    return bus_->calls;
}

bool MprisTestPlayer::waitFor(const std::function<bool(const MprisTestPlayer&)>& condition) const {
    // The condition reads through the getters, which take the lock themselves.
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    std::unique_lock lock(bus_->mutex);
    while (true) {
        lock.unlock();
        if (condition(*this)) {
            return true;
        }
        lock.lock();
        if (bus_->changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            lock.unlock();
            return condition(*this);
        }
    }
}

void MprisTestPlayer::setVolumeFromAnotherProgram(const std::string& address,
                                                  const std::string& busName, double volume) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(address);
    auto proxy = sdbus::createProxy(*connection, busName, kPath);
    proxy->callMethod("Set")
        .onInterface("org.freedesktop.DBus.Properties")
        .withArguments(std::string(kPlayer), std::string("Volume"), sdbus::Variant(volume));
}

BusWithPlayer BusWithPlayer::start(const std::string& name) {
    BusWithPlayer started;
    started.bus = PrivateBus::start(started.whyNot);
    if (started.bus == nullptr) {
        return started;
    }
    started.player = MprisTestPlayer::start(started.bus->address(), name, started.whyNot);
    if (started.player != nullptr && !started.bus->waitForName(started.player->busName())) {
        started.whyNot = "the player's name did not appear on the bus";
        started.player.reset();
    }
    return started;
}

}  // namespace testing_support
