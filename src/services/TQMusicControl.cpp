#include "services/TQMusicControl.h"

#include <cmath>
#include <optional>
#include <string>

#include "link/TQAP.h"
#include "link/TQJSONParser.h"
#include "logging/LGLog.h"

using platform::Value;
using platform::media::PlaybackState;

namespace {

constexpr double kLevelStep = 6.25;
constexpr std::uint32_t kPriority = 1;

std::optional<std::string_view> textOf(const Value& message, std::string_view key) {
    if (const std::string* text = message[key].stringIf()) {
        return *text;
    }
    return std::nullopt;
}

// Nothing while the player is interrupted.
std::optional<int> playStateCode(PlaybackState state) {
    switch (state) {
        case PlaybackState::stopped:
        case PlaybackState::paused:
            return 2;
        case PlaybackState::playing:
        case PlaybackState::seekingForward:
        case PlaybackState::seekingBackward:
            return 3;
        case PlaybackState::interrupted:
            return std::nullopt;
    }
    return std::nullopt;
}

const char* stateName(PlaybackState state) {
    switch (state) {
        case PlaybackState::stopped:
            return "stopped";
        case PlaybackState::playing:
            return "playing";
        case PlaybackState::paused:
            return "paused";
        case PlaybackState::interrupted:
            return "interrupted";
        case PlaybackState::seekingForward:
            return "seeking forward";
        case PlaybackState::seekingBackward:
            return "seeking backward";
    }
    return "unknown";
}

}  // namespace

TQMusicControl::TQMusicControl(TQAP& kavoManager, platform::media::MediaPlayer& player,
                               platform::RunLoop& loop)
    : kavoManager_(kavoManager),
      player_(player),
      loop_(loop),
      currentVolumeLevel_(volumeLevel(player.volume())) {}

TQMusicControl::~TQMusicControl() {
    unregisterMediaPlayerNotifications();
    if (volumeHold_) {
        volumeHold_->invalidate();
    }
}

std::uint32_t TQMusicControl::volumeLevel(double volume) {
    const double percent = std::trunc(volume * 100);
    const long level = std::lround(percent / kLevelStep);
    return static_cast<std::uint32_t>(std::clamp<long>(level, 0, kMaxVolumeLevel));
}

double TQMusicControl::playerVolume(std::uint32_t level) {
    return (level * kLevelStep) / 100;
}

void TQMusicControl::registerMediaPlayerNotifications() {
    player_.setObserver(this);
    player_.beginGeneratingPlaybackNotifications();
}

void TQMusicControl::unregisterMediaPlayerNotifications() {
    player_.setObserver(nullptr);
    player_.endGeneratingPlaybackNotifications();
}

void TQMusicControl::processMessage(const Value& message) {
    const std::string_view msgId = textOf(message, "msgId").value_or("");
    if (msgId == "capability-feature-ind") {
        if (message["distinct-state"].boolValue().value_or(false)) {
            sendCapability();
        }
    } else if (msgId == "music-remotecontrol-req") {
        remoteControl(message);
    } else if (msgId == "music-mediachanged-req") {
        isMediaChangedReqEnabled_ = message["value"].boolValue().value_or(false);
        if (isMediaChangedReqEnabled_) {
            sendMediaChanged();
            sendPlayState();
        }
    } else if (msgId == "music-getattribute-req") {
        sendAttribute();
    } else if (msgId == "music-setattribute-req") {
        setAttribute(message);
    } else if (msgId == "music-keepalive-ping") {
        sendPlayState();
        sendMediaChanged();
    }
}

void TQMusicControl::remoteControl(const Value& message) {
    const std::string_view action = textOf(message, "action").value_or("");
    LG_VERBOSE("TQMusicControl: remote control %@ %@", action, message["status"]);
    if (textOf(message, "status") == "pressed") {
        if (action == "playpause") {
            playPause();
        } else if (action == "play") {
            play();
        } else if (action == "pause") {
            pause();
        } else if (action == "stop") {
            stop();
        } else if (action == "forward") {
            player_.skipToNextItem();
        } else if (action == "backward") {
            player_.skipToPreviousItem();
        } else if (action == "fastforward") {
            player_.beginSeekingForward();
        } else if (action == "rewind") {
            player_.beginSeekingBackward();
        }
    } else if (action == "fastforward" || action == "rewind") {
        player_.endSeeking();
    }
}

void TQMusicControl::playPause() {
    const PlaybackState state = player_.playbackState();
    if (state == PlaybackState::paused || state == PlaybackState::interrupted) {
        player_.play();
    } else if (state == PlaybackState::stopped) {
        player_.playLibrary();
    } else if (player_.currentPlaybackRate() != 0) {
        player_.pause();
    }
}

void TQMusicControl::play() {
    const PlaybackState state = player_.playbackState();
    LG_VERBOSE("TQMusicControl: play, state %@", stateName(state));
    if (state == PlaybackState::paused || state == PlaybackState::interrupted) {
        player_.play();
    } else if (state == PlaybackState::stopped) {
        player_.playLibrary();
    } else {
        LG_VERBOSE("No action needed");
    }
}

void TQMusicControl::pause() {
    if (player_.currentPlaybackRate() == 0) {
        LG_VERBOSE("No action needed");
        return;
    }
    player_.pause();
}

void TQMusicControl::stop() {
    if (player_.currentPlaybackRate() == 0 && player_.playbackState() != PlaybackState::paused) {
        LG_VERBOSE("No action needed");
        return;
    }
    player_.stop();
}

void TQMusicControl::setAttribute(const Value& message) {
    const std::string_view volume = textOf(message, "volume").value_or("");
    if (volume != "nochange") {
        if (volume == "up") {
            volumeUp();
        } else if (volume == "down") {
            volumeDown();
        }
        return;
    }
    const std::string_view muteText = textOf(message, "mute").value_or("");
    if (muteText == "on") {
        mute();
    } else if (muteText == "off") {
        unmute();
    }
}

void TQMusicControl::volumeUp() {
    if (currentVolumeLevel_ < kMaxVolumeLevel) {
        player_.setVolume(playerVolume(currentVolumeLevel_ + 1));
    }
}

void TQMusicControl::volumeDown() {
    if (currentVolumeLevel_ > 0) {
        player_.setVolume(playerVolume(currentVolumeLevel_ - 1));
    }
}

void TQMusicControl::mute() {
    setVolumeProgrammatically(0);
    sendVolume(0);
}

void TQMusicControl::unmute() {
    setVolumeProgrammatically(playerVolume(currentVolumeLevel_));
    sendVolume(currentVolumeLevel_);
}

void TQMusicControl::setVolumeProgrammatically(double volume) {
    if (std::abs(player_.volume() - volume) < 1e-6) {
        return;
    }
    isVolumeChangedProgrammatically_ = true;
    player_.setVolume(volume);
}

void TQMusicControl::nowPlayingItemChanged() {
    LG_VERBOSE("TQMusicControl: now playing item changed");
    if (isMediaChangedReqEnabled_) {
        sendMediaChanged();
    }
}

void TQMusicControl::playbackStateChanged() {
    LG_VERBOSE("TQMusicControl: playback state changed");
    if (isMediaChangedReqEnabled_) {
        sendPlayState();
    }
}

void TQMusicControl::volumeChanged() {
    if (isVolumeChangedProgrammatically_) {
        isVolumeChangedProgrammatically_ = false;
        return;
    }
    const std::uint32_t level = volumeLevel(player_.volume());
    const bool changed = level != currentVolumeLevel_;
    currentVolumeLevel_ = level;
    if (changed && isMediaChangedReqEnabled_ && volumeHold_ == nullptr) {
        sendVolume(level);
        startVolumeHold();
    }
}

void TQMusicControl::startVolumeHold() {
    LG_VERBOSE("Start T_VOLUME_RSP");
    volumeHold_ = loop_.scheduleTimer(kVolumeHold, false, [weak = weak_.weakPtr()] {
        auto* self = weak.get();
        if (self == nullptr) {
            return;
        }
        LG_VERBOSE("Expired T_VOLUME_RSP");
        self->volumeHold_.reset();
        self->sendVolume(self->currentVolumeLevel_);
    });
}

void TQMusicControl::sendCapability() {
    sendMsg(Value{
        {"msgId", "capability-feature-rsp"}, {"result", 1}, {"volumemax-state", kMaxVolumeLevel}});
}

void TQMusicControl::sendAttribute() {
    sendMsg(Value{{"msgId", "music-getattribute-rsp"},
                  {"result", "success"},
                  {"volume", currentVolumeLevel_}});
}

void TQMusicControl::sendMediaChanged() {
    const auto item = player_.nowPlayingItem();
    if (!item) {
        LG_VERBOSE("TQMusicControl - Current track is NIL");
    }
    sendMsg(Value{{"msgId", "music-mediachanged-ind"},
                  {"artist", item ? item->artist : std::string()},
                  {"title", item ? item->title : std::string()}});
}

void TQMusicControl::sendPlayState() {
    Value message{{"msgId", "music-playstatechange-rsp"}, {"result", "success"}};
    if (const auto code = playStateCode(player_.playbackState())) {
        message["playstate"] = *code;
    }
    sendMsg(message);
}

void TQMusicControl::sendVolume(std::uint32_t level) {
    sendMsg(Value{{"msgId", "music-volumechange-rsp"}, {"result", "success"}, {"volume", level}});
}

void TQMusicControl::sendMsg(const Value& message) {
    const auto data = TQJSONParser::getInstance().encodeToJSON(message);
    if (!data) {
        return;
    }
    kavoManager_.sendData(*data, kPriority, kMusicAppId, false);
}
