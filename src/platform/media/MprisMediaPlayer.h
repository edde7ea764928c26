#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/media/MediaPlayer.h"

namespace platform::media {

// The desktop's music player: whichever program speaks MPRIS (org.mpris.MediaPlayer2.Player)
// on the session bus, followed as players come and go; one that is playing is preferred, else
// the first by name. No session bus and no player are normal states, logged once each.
//
// Commands and reads are bus calls from the loop's thread, each bounded by kCallTimeout; the
// players' change signals arrive on a connection of their own, read on a thread of its own and
// handed to the loop.
class MprisMediaPlayer final : public MediaPlayer {
public:
    static constexpr double kCallTimeout = 0.5;
    // Continuous seeking, which MPRIS lacks, is a step of kSeekStep seconds every kSeekInterval.
    static constexpr double kSeekStep = 5.0;
    static constexpr double kSeekInterval = 0.5;

    // The session bus of this process's environment, or the bus at address.
    explicit MprisMediaPlayer(RunLoop& loop, std::optional<std::string> address = std::nullopt);
    ~MprisMediaPlayer() override;
    MprisMediaPlayer(const MprisMediaPlayer&) = delete;
    MprisMediaPlayer& operator=(const MprisMediaPlayer&) = delete;

    // Whether the bus answered.
    [[nodiscard]] bool hasBus() const;
    // The bus name of the player followed; nothing without one.
    [[nodiscard]] std::optional<std::string> activePlayer() const;

    [[nodiscard]] PlaybackState playbackState() const override;
    [[nodiscard]] double currentPlaybackRate() const override;
    [[nodiscard]] double volume() const override;
    void setVolume(double volume) override;
    [[nodiscard]] std::optional<NowPlayingItem> nowPlayingItem() const override;

    void play() override;
    void pause() override;
    void stop() override;
    void skipToNextItem() override;
    void skipToPreviousItem() override;
    void beginSeekingForward() override;
    void beginSeekingBackward() override;
    void endSeeking() override;
    void playLibrary() override;

    void setObserver(MediaPlayerObserver* observer) override { observer_ = observer; }
    void beginGeneratingPlaybackNotifications() override { generating_ = true; }
    void endGeneratingPlaybackNotifications() override { generating_ = false; }

private:
    struct Bus;
    enum class Seeking { none, forward, backward };

    void chooseActivePlayer();
    void onPropertiesChanged(const std::string& sender, bool state, bool item, bool volume);
    void onNameOwnerChanged();
    void call(const char* method);
    void beginSeeking(Seeking direction);
    void notify(bool state, bool item, bool volume);

    RunLoop& loop_;
    std::unique_ptr<Bus> bus_;
    MediaPlayerObserver* observer_ = nullptr;
    bool generating_ = false;
    Seeking seeking_ = Seeking::none;
    std::shared_ptr<Timer> seekTimer_;
    bool loggedNoPlayer_ = false;
    WeakPtrFactory<MprisMediaPlayer> weak_{*this, loop_};
};

}  // namespace platform::media
