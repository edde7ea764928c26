#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/audio/QueuePlayer.h"
#include "platform/audio/Sound.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"

// Remote-control events of the phone's media keys that reach the alarm.
enum class TQRemoteControlEvent { play, pause, togglePlayPause, other };

// The find-my-phone alarm: plays the alarm sound in an endless loop until stopped, by keeping
// a queue player supplied with copies of the sound. One per process, on the main loop.
class TQFinderMediaPlayer {
public:
    TQFinderMediaPlayer(platform::audio::QueuePlayer& player, platform::audio::SoundLoader& loader,
                        platform::RunLoop& loop, std::filesystem::path alarmSound);
    ~TQFinderMediaPlayer();
    TQFinderMediaPlayer(const TQFinderMediaPlayer&) = delete;
    TQFinderMediaPlayer& operator=(const TQFinderMediaPlayer&) = delete;

    void playAudio();
    // Loops any sound file. A playback asked for while an earlier one still loads replaces it.
    void playbackInLoopWithURL(const std::filesystem::path& url);
    void stopPlayback();
    [[nodiscard]] bool isPlaying() const;

    void play();
    void pause();
    void clear();
    void remoteControlReceivedWithEvent(TQRemoteControlEvent event);
    // Any button of the alert stops the alarm.
    void alertViewClickedButtonAtIndex(int index);

    // Copies queued for a sound of this many seconds; nothing for a duration that cannot loop.
    [[nodiscard]] static std::optional<int> copiesFor(double duration);

private:
    void loaded(std::uint64_t generation,
                platform::Result<std::shared_ptr<const platform::audio::Sound>> sound);
    void removeObserver();
    void currentItemChanged(const platform::audio::QueuePlayer::Item& old);

    platform::audio::QueuePlayer& player_;
    platform::audio::SoundLoader& loader_;
    platform::RunLoop& loop_;
    const std::filesystem::path alarmSound_;
    // A load that finishes after a newer play or a stop is dropped.
    std::uint64_t generation_ = 0;
    bool observing_ = false;
    platform::WeakPtrFactory<TQFinderMediaPlayer> weak_{*this, loop_};
};
