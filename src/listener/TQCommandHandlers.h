#pragma once

#include "listener/TQPhoneScreens.h"
#include "listener/TQTimeSync.h"
#include "listener/TQWatchAppIcons.h"
#include "listener/TQWatchSettings.h"

struct TQHandlers;

// The listener's own handlers of single watch messages, made with the link they answer
// through and gone with it. They fill in only the handlers nobody filled in before, and take
// back only theirs.
class TQCommandHandlers {
public:
    TQCommandHandlers(TQAP& kavoManager, platform::RunLoop& loop,
                      platform::net::NetworkMonitor& network);
    TQCommandHandlers(const TQCommandHandlers&) = delete;
    TQCommandHandlers& operator=(const TQCommandHandlers&) = delete;

    void fillIn(TQHandlers& handlers);
    void takeBack(TQHandlers& handlers);

    [[nodiscard]] TQTimeSync& timeSync() { return timeSync_; }

private:
    TQWatchAppIcons watchAppIcons_;
    TQBuddyScreens buddies_;
    TQNetworkStatus networkStatus_;
    TQWebSearch webSearch_;
    TQPowerSaving powerSaving_;
    TQTimeSync timeSync_;
    TQNotiIndicator notiIndicator_;
    TQNumberSyncReplies numberSyncReplies_;
    TQHFPRequest hfp_;
};
