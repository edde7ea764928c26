#pragma once

#include "platform/foundation/Value.h"

// The watch's remote control of the phone's music player (TQMusicControl): one per process,
// bound to the link it was first made with.
class TQMusicControlHandler {
public:
    virtual ~TQMusicControlHandler() = default;

    // Starts and stops keeping the watch told of the now-playing item, playback and volume.
    virtual void registerMediaPlayerNotifications() = 0;
    virtual void unregisterMediaPlayerNotifications() = 0;
    // One decoded music message (application identifier 9); unknown ones are ignored.
    virtual void processMessage(const platform::Value& message) = 0;
};
