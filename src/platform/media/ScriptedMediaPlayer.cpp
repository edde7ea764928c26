#include "platform/media/ScriptedMediaPlayer.h"

#include <utility>

namespace platform::media {

ScriptedMediaPlayer::ScriptedMediaPlayer(RunLoop& loop) : loop_(loop) {}

void ScriptedMediaPlayer::setVolume(double volume) {
    commands.emplace_back("volume");
    if (volume == volume_) {
        return;
    }
    volume_ = volume;
    report(Change::volume);
}

void ScriptedMediaPlayer::play() {
    commands.emplace_back("play");
    userSetsState(PlaybackState::playing, 1.0);
}

void ScriptedMediaPlayer::pause() {
    commands.emplace_back("pause");
    userSetsState(PlaybackState::paused, 0);
}

void ScriptedMediaPlayer::stop() {
    commands.emplace_back("stop");
    userSetsState(PlaybackState::stopped, 0);
}

void ScriptedMediaPlayer::beginSeekingForward() {
    commands.emplace_back("seekForward");
    userSetsState(PlaybackState::seekingForward, 2.0);
}

void ScriptedMediaPlayer::beginSeekingBackward() {
    commands.emplace_back("seekBackward");
    userSetsState(PlaybackState::seekingBackward, -2.0);
}

void ScriptedMediaPlayer::endSeeking() {
    commands.emplace_back("endSeeking");
    userSetsState(PlaybackState::playing, 1.0);
}

void ScriptedMediaPlayer::playLibrary() {
    commands.emplace_back("playLibrary");
    userSetsState(PlaybackState::playing, 1.0);
}

void ScriptedMediaPlayer::userSetsState(PlaybackState state, double rate) {
    rate_ = rate;
    if (state == state_) {
        return;
    }
    state_ = state;
    report(Change::state);
}

void ScriptedMediaPlayer::userChangesItem(std::optional<NowPlayingItem> item) {
    item_ = std::move(item);
    report(Change::item);
}

void ScriptedMediaPlayer::report(Change change) {
    loop_.post([weak = weak_.weakPtr(), change] {
        ScriptedMediaPlayer* self = weak.get();
        if (self == nullptr || !self->generating_ || self->observer_ == nullptr) {
            return;
        }
        switch (change) {
            case Change::item:
                self->observer_->nowPlayingItemChanged();
                break;
            case Change::state:
                self->observer_->playbackStateChanged();
                break;
            case Change::volume:
                self->observer_->volumeChanged();
                break;
        }
    });
}

}  // namespace platform::media
