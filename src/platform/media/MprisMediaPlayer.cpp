#include "platform/media/MprisMediaPlayer.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/foundation/LogSink.h"

namespace platform::media {

namespace {

constexpr const char* kPrefix = "org.mpris.MediaPlayer2.";
constexpr const char* kPath = "/org/mpris/MediaPlayer2";
constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";
constexpr const char* kBusName = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";

constexpr auto kTimeout = std::chrono::microseconds(
    static_cast<std::int64_t>(MprisMediaPlayer::kCallTimeout * 1'000'000));

std::unique_ptr<sdbus::IConnection> connectTo(const std::optional<std::string>& address) {
    return address ? sdbus::createSessionBusConnectionWithAddress(*address)
                   : sdbus::createSessionBusConnection();
}

}  // namespace

struct MprisMediaPlayer::Bus {
    // Calls from the loop's thread; no event loop of its own.
    std::unique_ptr<sdbus::IConnection> calls;
    std::unique_ptr<sdbus::IProxy> daemon;
    // Signals, read on the connection's own thread.
    std::unique_ptr<sdbus::IConnection> signals;
    std::vector<sdbus::Slot> matches;
    std::string activeName;
    std::string activeOwner;
    std::unique_ptr<sdbus::IProxy> active;

    ~Bus() {
        if (signals) {
            signals->leaveEventLoop();
        }
        matches.clear();
    }

    sdbus::Variant property(const char* name) const {
        sdbus::Variant value;
        active->callMethod("Get")
            .onInterface("org.freedesktop.DBus.Properties")
            .withTimeout(kTimeout)
            .withArguments(std::string(kPlayer), std::string(name))
            .storeResultsTo(value);
        return value;
    }
};

MprisMediaPlayer::MprisMediaPlayer(RunLoop& loop, std::optional<std::string> address)
    : loop_(loop) {
    auto bus = std::make_unique<Bus>();
    try {
        bus->calls = connectTo(address);
        bus->daemon = sdbus::createProxy(*bus->calls, kBusName, kBusPath);
        bus->signals = connectTo(address);
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_INFO("MprisMediaPlayer: no session bus, no music player (", error.getMessage(),
                          ")");
        return;
    }
    const auto weak = weak_.weakPtr();
    RunLoop* const home = &loop_;
    bus->matches.push_back(bus->signals->addMatch(
        std::string("type='signal',interface='org.freedesktop.DBus.Properties',"
                    "member='PropertiesChanged',path='") +
            kPath + "',arg0='" + kPlayer + "'",
        [weak, home](sdbus::Message& message) {
            std::string interface;
            std::map<std::string, sdbus::Variant> changed;
            std::vector<std::string> invalidated;
            try {
                message >> interface >> changed >> invalidated;
            } catch (const sdbus::Error&) {
                return;
            }
            const auto has = [&](const char* key) {
                return changed.contains(key) ||
                       std::find(invalidated.begin(), invalidated.end(), key) != invalidated.end();
            };
            const bool state = has("PlaybackStatus") || has("Rate");
            const bool item = has("Metadata");
            const bool volume = has("Volume");
            home->post([weak, sender = message.getSender(), state, item, volume] {
                if (auto* self = weak.get()) {
                    self->onPropertiesChanged(sender, state, item, volume);
                }
            });
        }));
    bus->matches.push_back(bus->signals->addMatch(
        std::string("type='signal',sender='") + kBusName +
            "',interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0namespace='" +
            "org.mpris.MediaPlayer2'",
        [weak, home](sdbus::Message& /*message*/) {
            home->post([weak] {
                if (auto* self = weak.get()) {
                    self->onNameOwnerChanged();
                }
            });
        }));
    bus->signals->enterEventLoopAsync();
    bus_ = std::move(bus);
    chooseActivePlayer();
}

MprisMediaPlayer::~MprisMediaPlayer() {
    if (seekTimer_) {
        seekTimer_->invalidate();
    }
}

bool MprisMediaPlayer::hasBus() const {
    return bus_ != nullptr;
}

std::optional<std::string> MprisMediaPlayer::activePlayer() const {
    if (bus_ == nullptr || bus_->active == nullptr) {
        return std::nullopt;
    }
    return bus_->activeName;
}

void MprisMediaPlayer::chooseActivePlayer() {
    if (bus_ == nullptr) {
        return;
    }
    std::vector<std::string> names;
    try {
        bus_->daemon->callMethod("ListNames")
            .onInterface(kBusName)
            .withTimeout(kTimeout)
            .storeResultsTo(names);
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_WARN("MprisMediaPlayer: the bus does not list its names: ",
                          error.getMessage());
        return;
    }
    std::vector<std::string> players;
    for (auto& name : names) {
        if (name.starts_with(kPrefix)) {
            players.push_back(std::move(name));
        }
    }
    std::sort(players.begin(), players.end());

    std::string chosen;
    std::unique_ptr<sdbus::IProxy> chosenProxy;
    for (const auto& name : players) {
        try {
            auto proxy = sdbus::createProxy(*bus_->calls, name, kPath);
            sdbus::Variant status;
            proxy->callMethod("Get")
                .onInterface("org.freedesktop.DBus.Properties")
                .withTimeout(kTimeout)
                .withArguments(std::string(kPlayer), std::string("PlaybackStatus"))
                .storeResultsTo(status);
            const bool playing =
                status.containsValueOfType<std::string>() && status.get<std::string>() == "Playing";
            if (chosenProxy == nullptr || playing) {
                chosen = name;
                chosenProxy = std::move(proxy);
            }
            if (playing) {
                break;
            }
        } catch (const sdbus::Error&) {
            // A player that does not answer is passed over.
        }
    }
    if (chosen == bus_->activeName && (chosenProxy != nullptr) == (bus_->active != nullptr)) {
        return;
    }
    bus_->activeName = chosen;
    bus_->active = std::move(chosenProxy);
    bus_->activeOwner.clear();
    if (bus_->active != nullptr) {
        try {
            bus_->daemon->callMethod("GetNameOwner")
                .onInterface(kBusName)
                .withTimeout(kTimeout)
                .withArguments(chosen)
                .storeResultsTo(bus_->activeOwner);
        } catch (const sdbus::Error&) {
        }
        loggedNoPlayer_ = false;
        PLATFORM_LOG_INFO("MprisMediaPlayer: following the music player ", chosen);
    } else if (!loggedNoPlayer_) {
        loggedNoPlayer_ = true;
        PLATFORM_LOG_INFO("MprisMediaPlayer: no music player on the session bus");
    }
    notify(true, true, true);
}

void MprisMediaPlayer::onPropertiesChanged(const std::string& sender, bool state, bool item,
                                           bool volume) {
    if (bus_ == nullptr) {
        return;
    }
    if (sender != bus_->activeOwner) {
        // Another player that starts playing takes over.
        if (state) {
            chooseActivePlayer();
        }
        return;
    }
    notify(state, item, volume);
}

void MprisMediaPlayer::onNameOwnerChanged() {
    chooseActivePlayer();
}

void MprisMediaPlayer::notify(bool state, bool item, bool volume) {
    if (!generating_ || observer_ == nullptr) {
        return;
    }
    if (item) {
        observer_->nowPlayingItemChanged();
    }
    if (state) {
        observer_->playbackStateChanged();
    }
    if (volume) {
        observer_->volumeChanged();
    }
}

PlaybackState MprisMediaPlayer::playbackState() const {
    if (seeking_ != Seeking::none) {
        return seeking_ == Seeking::forward ? PlaybackState::seekingForward
                                            : PlaybackState::seekingBackward;
    }
    if (bus_ == nullptr || bus_->active == nullptr) {
        return PlaybackState::stopped;
    }
    try {
        const auto status = bus_->property("PlaybackStatus");
        const std::string text =
            status.containsValueOfType<std::string>() ? status.get<std::string>() : "";
        if (text == "Playing") {
            return PlaybackState::playing;
        }
        if (text == "Paused") {
            return PlaybackState::paused;
        }
    } catch (const sdbus::Error&) {
    }
    return PlaybackState::stopped;
}

double MprisMediaPlayer::currentPlaybackRate() const {
    if (bus_ == nullptr || bus_->active == nullptr) {
        return 0;
    }
    // A player that is not playing has no rate, whatever its Rate property says.
    if (playbackState() == PlaybackState::paused || playbackState() == PlaybackState::stopped) {
        return 0;
    }
    try {
        const auto rate = bus_->property("Rate");
        return rate.containsValueOfType<double>() ? rate.get<double>() : 1.0;
    } catch (const sdbus::Error&) {
        // Rate is optional: a playing player plays at its normal speed.
        return 1.0;
    }
}

double MprisMediaPlayer::volume() const {
    if (bus_ == nullptr || bus_->active == nullptr) {
        return 0;
    }
    try {
        const auto volume = bus_->property("Volume");
        if (volume.containsValueOfType<double>()) {
            return std::clamp(volume.get<double>(), 0.0, 1.0);
        }
    } catch (const sdbus::Error&) {
    }
    return 0;
}

void MprisMediaPlayer::setVolume(double volume) {
    if (bus_ == nullptr || bus_->active == nullptr) {
        return;
    }
    try {
        bus_->active->callMethod("Set")
            .onInterface("org.freedesktop.DBus.Properties")
            .withTimeout(kTimeout)
            .withArguments(std::string(kPlayer), std::string("Volume"),
                           sdbus::Variant(std::clamp(volume, 0.0, 1.0)));
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_WARN("MprisMediaPlayer: volume not set: ", error.getMessage());
    }
}

std::optional<NowPlayingItem> MprisMediaPlayer::nowPlayingItem() const {
    if (bus_ == nullptr || bus_->active == nullptr) {
        return std::nullopt;
    }
    try {
        const auto metadata = bus_->property("Metadata");
        using Map = std::map<std::string, sdbus::Variant>;
        if (!metadata.containsValueOfType<Map>()) {
            return std::nullopt;
        }
        const Map map = metadata.get<Map>();
        if (map.empty()) {
            return std::nullopt;
        }
        NowPlayingItem item;
        if (auto title = map.find("xesam:title");
            title != map.end() && title->second.containsValueOfType<std::string>()) {
            item.title = title->second.get<std::string>();
        }
        if (auto artist = map.find("xesam:artist");
            artist != map.end() && artist->second.containsValueOfType<std::vector<std::string>>()) {
            const auto artists = artist->second.get<std::vector<std::string>>();
            for (std::size_t i = 0; i < artists.size(); ++i) {
                item.artist += (i == 0 ? "" : ", ") + artists[i];
            }
        }
        return item;
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
}

void MprisMediaPlayer::call(const char* method) {
    if (bus_ == nullptr || bus_->active == nullptr) {
        return;
    }
    try {
        bus_->active->callMethod(method).onInterface(kPlayer).withTimeout(kTimeout);
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_WARN("MprisMediaPlayer: ", method, " failed: ", error.getMessage());
    }
}

void MprisMediaPlayer::play() {
    call("Play");
}

void MprisMediaPlayer::pause() {
    call("Pause");
}

void MprisMediaPlayer::stop() {
    call("Stop");
}

void MprisMediaPlayer::skipToNextItem() {
    call("Next");
}

void MprisMediaPlayer::skipToPreviousItem() {
    call("Previous");
}

void MprisMediaPlayer::playLibrary() {
    call("Play");
}

void MprisMediaPlayer::beginSeekingForward() {
    beginSeeking(Seeking::forward);
}

void MprisMediaPlayer::beginSeekingBackward() {
    beginSeeking(Seeking::backward);
}

void MprisMediaPlayer::beginSeeking(Seeking direction) {
    endSeeking();
    if (bus_ == nullptr || bus_->active == nullptr) {
        return;
    }
    seeking_ = direction;
    const auto step =
        static_cast<std::int64_t>(kSeekStep * 1'000'000) * (direction == Seeking::forward ? 1 : -1);
    const auto seek = [weak = weak_.weakPtr(), step] {
        auto* self = weak.get();
        if (self == nullptr || self->bus_ == nullptr || self->bus_->active == nullptr) {
            return;
        }
        try {
            self->bus_->active->callMethod("Seek")
                .onInterface(kPlayer)
                .withTimeout(kTimeout)
                .withArguments(step);
        } catch (const sdbus::Error&) {
        }
    };
    seek();
    seekTimer_ = loop_.scheduleTimer(kSeekInterval, true, seek);
    notify(true, false, false);
}

void MprisMediaPlayer::endSeeking() {
    if (seeking_ == Seeking::none) {
        return;
    }
    seeking_ = Seeking::none;
    if (seekTimer_) {
        seekTimer_->invalidate();
        seekTimer_.reset();
    }
    notify(true, false, false);
}

}  // namespace platform::media
