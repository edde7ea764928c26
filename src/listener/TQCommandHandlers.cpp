#include "listener/TQCommandHandlers.h"

#include "listener/TQHandlers.h"

TQCommandHandlers::TQCommandHandlers(TQAP& kavoManager, platform::RunLoop& loop,
                                     platform::net::NetworkMonitor& network)
    : buddies_(kavoManager),
      networkStatus_(kavoManager, network),
      timeSync_(kavoManager, loop),
      notiIndicator_(kavoManager),
      numberSyncReplies_(kavoManager) {}

void TQCommandHandlers::fillIn(TQHandlers& handlers) {
    TQHandlers::fillIn(handlers.watchAppIcons, &watchAppIcons_);
    TQHandlers::fillIn(handlers.buddies, &buddies_);
    TQHandlers::fillIn(handlers.generalMessage, &buddies_);
    TQHandlers::fillIn(handlers.networkStatus, &networkStatus_);
    TQHandlers::fillIn(handlers.webSearch, &webSearch_);
    TQHandlers::fillIn(handlers.powerSaving, &powerSaving_);
    TQHandlers::fillIn(handlers.timeSync, &timeSync_);
    TQHandlers::fillIn(handlers.notiIndicator, &notiIndicator_);
    TQHandlers::fillIn(handlers.numberSyncReplies, &numberSyncReplies_);
    TQHandlers::fillIn(handlers.hfp, &hfp_);
}

void TQCommandHandlers::takeBack(TQHandlers& handlers) {
    TQHandlers::takeBack(handlers.watchAppIcons, &watchAppIcons_);
    TQHandlers::takeBack(handlers.buddies, &buddies_);
    TQHandlers::takeBack(handlers.generalMessage, &buddies_);
    TQHandlers::takeBack(handlers.networkStatus, &networkStatus_);
    TQHandlers::takeBack(handlers.webSearch, &webSearch_);
    TQHandlers::takeBack(handlers.powerSaving, &powerSaving_);
    TQHandlers::takeBack(handlers.timeSync, &timeSync_);
    TQHandlers::takeBack(handlers.notiIndicator, &notiIndicator_);
    TQHandlers::takeBack(handlers.numberSyncReplies, &numberSyncReplies_);
    TQHandlers::takeBack(handlers.hfp, &hfp_);
}
