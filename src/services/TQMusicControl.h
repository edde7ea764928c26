#pragma once

#include <cstdint>
#include <memory>

#include "listener/handlers/TQMusicControlHandler.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/media/MediaPlayer.h"

class TQAP;

// The watch as a remote control of the phone's music player: keys, volume steps (0-16) and
// mute, and reports of what plays, the play state and the volume. All traffic is on
// identifier 9, priority 1, unacknowledged. One per link, on the main loop.
class TQMusicControl final : public TQMusicControlHandler,
                             private platform::media::MediaPlayerObserver {
public:
    static constexpr std::uint32_t kMusicAppId = 9;
    static constexpr std::uint32_t kMaxVolumeLevel = 16;
    // A burst of volume changes is reported at its start and once more this much later.
    static constexpr double kVolumeHold = 0.2;

    TQMusicControl(TQAP& kavoManager, platform::media::MediaPlayer& player,
                   platform::RunLoop& loop);
    ~TQMusicControl() override;
    TQMusicControl(const TQMusicControl&) = delete;
    TQMusicControl& operator=(const TQMusicControl&) = delete;

    void registerMediaPlayerNotifications() override;
    void unregisterMediaPlayerNotifications() override;
    void processMessage(const platform::Value& message) override;

    // 0-16 from a player volume of 0.0-1.0.
    [[nodiscard]] static std::uint32_t volumeLevel(double volume);
    [[nodiscard]] static double playerVolume(std::uint32_t level);

    [[nodiscard]] std::uint32_t currentVolumeLevel() const { return currentVolumeLevel_; }
    [[nodiscard]] bool isMediaChangedReqEnabled() const { return isMediaChangedReqEnabled_; }

private:
    void nowPlayingItemChanged() override;
    void playbackStateChanged() override;
    void volumeChanged() override;

    void remoteControl(const platform::Value& message);
    void setAttribute(const platform::Value& message);
    void playPause();
    void play();
    void pause();
    void stop();
    void volumeUp();
    void volumeDown();
    void mute();
    void unmute();
    // Sets the player's volume as mute and unmute do; marks it programmatic only when it
    // changes, since only a change brings a notification to clear the mark.
    void setVolumeProgrammatically(double volume);

    void sendCapability();
    void sendAttribute();
    void sendMediaChanged();
    void sendPlayState();
    void sendVolume(std::uint32_t level);
    void sendMsg(const platform::Value& message);
    void startVolumeHold();

    TQAP& kavoManager_;
    platform::media::MediaPlayer& player_;
    platform::RunLoop& loop_;
    bool isVolumeChangedProgrammatically_ = false;
    std::uint32_t currentVolumeLevel_ = 0;
    bool isMediaChangedReqEnabled_ = false;
    std::shared_ptr<platform::Timer> volumeHold_;
    platform::WeakPtrFactory<TQMusicControl> weak_{*this, loop_};
};
