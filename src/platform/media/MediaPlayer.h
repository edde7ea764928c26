#pragma once

#include <optional>
#include <string>

namespace platform::media {

// The phone platform's playback states of its system music player.
enum class PlaybackState { stopped, playing, paused, interrupted, seekingForward, seekingBackward };

// What the player has in hand; either text is empty when the item has none.
struct NowPlayingItem {
    std::string artist;
    std::string title;
    friend bool operator==(const NowPlayingItem&, const NowPlayingItem&) = default;
};

// Told of the player's changes, on the player's run loop, while notifications are generated.
class MediaPlayerObserver {
public:
    virtual ~MediaPlayerObserver() = default;
    virtual void nowPlayingItemChanged() {}
    virtual void playbackStateChanged() {}
    virtual void volumeChanged() {}
};

// The system-wide music player: whatever player the desktop offers, or none. No player is a
// normal state: it reads as stopped, silent and empty, and every command does nothing. Called
// on the run loop it was made with.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;

    [[nodiscard]] virtual PlaybackState playbackState() const = 0;
    [[nodiscard]] virtual double currentPlaybackRate() const = 0;
    // 0.0-1.0.
    [[nodiscard]] virtual double volume() const = 0;
    virtual void setVolume(double volume) = 0;
    [[nodiscard]] virtual std::optional<NowPlayingItem> nowPlayingItem() const = 0;

    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual void skipToNextItem() = 0;
    virtual void skipToPreviousItem() = 0;
    virtual void beginSeekingForward() = 0;
    virtual void beginSeekingBackward() = 0;
    virtual void endSeeking() = 0;
    // Queues the whole music library and plays it; a player without a library just plays.
    virtual void playLibrary() = 0;

    // The one observer, or null; it outlives its registration.
    virtual void setObserver(MediaPlayerObserver* observer) = 0;
    virtual void beginGeneratingPlaybackNotifications() = 0;
    virtual void endGeneratingPlaybackNotifications() = 0;
};

}  // namespace platform::media
