#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/media/MediaPlayer.h"

namespace platform::media {

// The test double: a player whose state a test sets, that records every command and, like the
// phone's player, reports each change later on its loop while notifications are generated.
class ScriptedMediaPlayer final : public MediaPlayer {
public:
    explicit ScriptedMediaPlayer(RunLoop& loop);

    [[nodiscard]] PlaybackState playbackState() const override { return state_; }
    [[nodiscard]] double currentPlaybackRate() const override { return rate_; }
    [[nodiscard]] double volume() const override { return volume_; }
    void setVolume(double volume) override;
    [[nodiscard]] std::optional<NowPlayingItem> nowPlayingItem() const override { return item_; }

    void play() override;
    void pause() override;
    void stop() override;
    void skipToNextItem() override { commands.emplace_back("next"); }
    void skipToPreviousItem() override { commands.emplace_back("previous"); }
    void beginSeekingForward() override;
    void beginSeekingBackward() override;
    void endSeeking() override;
    void playLibrary() override;

    void setObserver(MediaPlayerObserver* observer) override { observer_ = observer; }
    void beginGeneratingPlaybackNotifications() override { generating_ = true; }
    void endGeneratingPlaybackNotifications() override { generating_ = false; }
    [[nodiscard]] bool isGenerating() const { return generating_; }

    // What the user or another program does to the player.
    void userSetsVolume(double volume) { setVolume(volume); }
    void userSetsState(PlaybackState state, double rate);
    void userChangesItem(std::optional<NowPlayingItem> item);

    // Commands in order: "play", "pause", "stop", "next", "previous", "seekForward",
    // "seekBackward", "endSeeking", "playLibrary", "volume".
    std::vector<std::string> commands;

private:
    enum class Change { item, state, volume };
    void report(Change change);

    RunLoop& loop_;
    PlaybackState state_ = PlaybackState::stopped;
    double rate_ = 0;
    double volume_ = 0.5;
    std::optional<NowPlayingItem> item_;
    MediaPlayerObserver* observer_ = nullptr;
    bool generating_ = false;
    WeakPtrFactory<ScriptedMediaPlayer> weak_{*this, loop_};
};

}  // namespace platform::media
