#pragma once

#include <string_view>

#include "listener/handlers/TQAppIconHandler.h"
#include "listener/handlers/TQBuddyHandler.h"
#include "listener/handlers/TQBuddySyncHandler.h"
#include "listener/handlers/TQCalendarHandler.h"
#include "listener/handlers/TQContactHandler.h"
#include "listener/handlers/TQDatabaseSetup.h"
#include "listener/handlers/TQFindMyDeviceHandler.h"
#include "listener/handlers/TQGeneralMessageHandler.h"
#include "listener/handlers/TQHFPHandler.h"
#include "listener/handlers/TQInitSequenceHandler.h"
#include "listener/handlers/TQLbsHandler.h"
#include "listener/handlers/TQMusicControlHandler.h"
#include "listener/handlers/TQNetworkStatusHandler.h"
#include "listener/handlers/TQNotiIndicatorHandler.h"
#include "listener/handlers/TQNotificationAppHandler.h"
#include "listener/handlers/TQNumberSyncHandler.h"
#include "listener/handlers/TQNumberSyncReplyHandler.h"
#include "listener/handlers/TQPowerSavingHandler.h"
#include "listener/handlers/TQPushNotificationHandler.h"
#include "listener/handlers/TQStoreHandler.h"
#include "listener/handlers/TQTextTemplateHandler.h"
#include "listener/handlers/TQTimeSyncHandler.h"
#include "listener/handlers/TQUsageLogHandler.h"
#include "listener/handlers/TQWatchAppIconHandler.h"
#include "listener/handlers/TQWeatherHandler.h"
#include "listener/handlers/TQWebProxyHandler.h"
#include "listener/handlers/TQWebSearchHandler.h"

// The subsystems the core manager, the dispatch and the initialisation sequence hand the
// watch's messages and the link's events to, one interface per feature (listener/handlers).
// The application's composition root fills it in once and lends it to those three; members
// are borrowed and outlive them. A null member is a subsystem not built yet: whoever needs it
// logs one line and leaves that piece of work undone, never pretending it was done.
//
// Still without an implementation (remove a line when its subsystem lands): numberSync;
// platform::ScreenNavigator has only the headless stand-in until the screens land.
struct TQHandlers {
    // The listener's own handlers of single watch messages; their answers go through the link
    // facade they were made with.
    TQFindMyDeviceHandler* findMyDevice = nullptr;
    TQNotificationAppHandler* notificationApps = nullptr;
    TQAppIconHandler* appIcons = nullptr;
    TQWatchAppIconHandler* watchAppIcons = nullptr;
    TQBuddyHandler* buddies = nullptr;
    TQGeneralMessageHandler* generalMessage = nullptr;
    TQNetworkStatusHandler* networkStatus = nullptr;
    TQWebSearchHandler* webSearch = nullptr;
    TQPowerSavingHandler* powerSaving = nullptr;
    TQTimeSyncHandler* timeSync = nullptr;
    TQNotiIndicatorHandler* notiIndicator = nullptr;
    TQNumberSyncReplyHandler* numberSyncReplies = nullptr;
    TQHFPHandler* hfp = nullptr;

    // The other subsystems.
    TQInitSequenceHandler* initSequence = nullptr;
    TQWebProxyHandler* webProxy = nullptr;
    TQMusicControlHandler* musicControl = nullptr;
    TQPushNotificationHandler* pushNotification = nullptr;
    TQContactHandler* contacts = nullptr;
    TQBuddySyncHandler* buddySync = nullptr;
    TQCalendarHandler* calendar = nullptr;
    TQWeatherHandler* weather = nullptr;
    TQLbsHandler* lbsServerProvider = nullptr;
    TQTextTemplateHandler* textTemplates = nullptr;
    TQStoreHandler* store = nullptr;
    TQDatabaseSetup* databaseSetup = nullptr;
    TQUsageLogHandler* usageLog = nullptr;
    TQNumberSyncHandler* numberSync = nullptr;

    // handler, or null after logging that `work` waits for the subsystem `name`.
    template <typename Handler>
    static Handler* require(Handler* handler, std::string_view name, std::string_view work) {
        if (handler == nullptr) {
            logMissing(name, work);
        }
        return handler;
    }

    // Fills slot with ours when nobody did; gives back only ours.
    template <typename Handler, typename Ours>
    static void fillIn(Handler*& slot, Ours* ours) {
        if (slot == nullptr) {
            slot = ours;
        }
    }
    template <typename Handler, typename Ours>
    static void takeBack(Handler*& slot, Ours* ours) {
        if (slot == ours) {
            slot = nullptr;
        }
    }

private:
    static void logMissing(std::string_view name, std::string_view work);
};
