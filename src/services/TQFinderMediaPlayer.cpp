#include "services/TQFinderMediaPlayer.h"

#include <cmath>
#include <utility>

#include "logging/LGLog.h"

TQFinderMediaPlayer::TQFinderMediaPlayer(platform::audio::QueuePlayer& player,
                                         platform::audio::SoundLoader& loader,
                                         platform::RunLoop& loop, std::filesystem::path alarmSound)
    : player_(player), loader_(loader), loop_(loop), alarmSound_(std::move(alarmSound)) {}

TQFinderMediaPlayer::~TQFinderMediaPlayer() {
    removeObserver();
}

std::optional<int> TQFinderMediaPlayer::copiesFor(double duration) {
    if (!std::isfinite(duration) || duration <= 0) {
        return std::nullopt;
    }
    return static_cast<int>(1.0 / duration + 2.0);
}

void TQFinderMediaPlayer::playAudio() {
    playbackInLoopWithURL(alarmSound_);
}

void TQFinderMediaPlayer::playbackInLoopWithURL(const std::filesystem::path& url) {
    if (observing_) {
        removeObserver();
        player_.removeAllItems();
    } else {
        LG_VERBOSE("Observer not found");
    }
    const std::uint64_t generation = ++generation_;
    loader_.load(url, [weak = weak_.weakPtr(), generation](auto sound) {
        if (auto* self = weak.get()) {
            self->loaded(generation, std::move(sound));
        }
    });
}

void TQFinderMediaPlayer::loaded(
    std::uint64_t generation,
    platform::Result<std::shared_ptr<const platform::audio::Sound>> sound) {
    if (generation != generation_) {
        return;
    }
    const std::optional<int> copies =
        sound.ok() ? copiesFor(sound.value()->duration()) : std::nullopt;
    if (!copies) {
        LG_ERROR("Failed to load duration property for asset: %@ with error: %@",
                 alarmSound_.string(),
                 sound.ok() ? std::string("no usable duration") : sound.error().message);
        return;
    }
    for (int i = 0; i < *copies; ++i) {
        player_.insertAtEnd(std::make_shared<platform::audio::PlayerItem>(
            platform::audio::PlayerItem{sound.value()}));
    }
    if (!observing_) {
        observing_ = true;
        player_.setCurrentItemObserver(
            [this](const platform::audio::QueuePlayer::Item& old) { currentItemChanged(old); });
    }
    player_.play();
}

void TQFinderMediaPlayer::currentItemChanged(const platform::audio::QueuePlayer::Item& old) {
    // The item that just ended goes to the back, so the queue never runs dry.
    if (old != nullptr && player_.canInsert(old)) {
        player_.insertAtEnd(old);
    }
}

void TQFinderMediaPlayer::removeObserver() {
    if (!observing_) {
        return;
    }
    LG_VERBOSE("Observer removed called");
    observing_ = false;
    player_.setCurrentItemObserver({});
}

void TQFinderMediaPlayer::stopPlayback() {
    ++generation_;
    player_.pause();
    removeObserver();
    player_.removeAllItems();
}

bool TQFinderMediaPlayer::isPlaying() const {
    return player_.rate() > 0 && !player_.error();
}

void TQFinderMediaPlayer::play() {
    player_.play();
}

void TQFinderMediaPlayer::pause() {
    player_.pause();
}

void TQFinderMediaPlayer::clear() {
    player_.removeAllItems();
}

void TQFinderMediaPlayer::remoteControlReceivedWithEvent(TQRemoteControlEvent event) {
    LG_VERBOSE("received event!");
    switch (event) {
        case TQRemoteControlEvent::play:
            play();
            break;
        case TQRemoteControlEvent::pause:
            pause();
            break;
        case TQRemoteControlEvent::togglePlayPause:
            if (player_.rate() > 0) {
                pause();
            } else {
                play();
            }
            break;
        case TQRemoteControlEvent::other:
            break;
    }
}

void TQFinderMediaPlayer::alertViewClickedButtonAtIndex(int /*index*/) {
    stopPlayback();
}
