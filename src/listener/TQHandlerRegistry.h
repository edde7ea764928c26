#pragma once

#include <string_view>

#include "listener/handlers/TQCommandHandlers.h"
#include "listener/handlers/TQNumberSyncHandler.h"
#include "listener/handlers/TQStoreHandler.h"
#include "listener/handlers/TQUsageLogHandler.h"
#include "listener/handlers/TQDatabaseSetup.h"
#include "listener/handlers/TQInitSequenceHandler.h"
#include "listener/handlers/TQWebProxyHandler.h"
#include "platform/foundation/Replaceable.h"
#include "listener/handlers/TQCalendarHandler.h"
#include "listener/handlers/TQContactHandler.h"
#include "listener/handlers/TQLbsHandler.h"
#include "listener/handlers/TQMusicControlHandler.h"
#include "listener/handlers/TQPushNotificationHandler.h"
#include "listener/handlers/TQTextTemplateHandler.h"
#include "listener/handlers/TQWeatherHandler.h"

// Where the core manager and the command listener find the subsystems they hand the watch's
// messages and the link's events to. Members are borrowed process-wide instances, set once at
// launch. A null member is a subsystem not built yet: whoever needs it logs one line and leaves
// that piece of work undone, never pretending it was done.
//
// Interfaces still without an implementation (remove a line when its subsystem lands):
//   TQCommandHandlers      the listener's own message handlers (find-my-phone, blocked
//                          applications, icons, buddies, network status, time, number sync, ...)
//   TQWebProxyHandler      the web proxy, TQWebProxyURL
//   TQMusicControlHandler  music remote control, TQMusicControl
//   TQPushNotificationHandler  push settings for the watch, TQPushNotification
//   TQContactHandler       contact synchronisation, TQContactMgr
//   TQCalendarHandler      calendar synchronisation, TQEvent
//   TQWeatherHandler       weather settings, TQWeatherUtil
//   TQLbsHandler           location and exercise provider, TQLbsServerProvider
//   TQTextTemplateHandler  text templates, TQTextTemplateUtils
//   TQStoreHandler         watch applications and their update, TQAppManager and
//                          TQKavoAppAutoUpdate
//   TQDatabaseSetup        per-watch database check, TQInitializeDB
//   TQUsageLogHandler      usage logs, TQSendLogUtil
//   TQNumberSyncHandler    number-sync block rules, TQNumberSyncViewController
//   platform::ScreenNavigator has only the headless stand-in until the screens land.
class TQHandlerRegistry : public platform::Replaceable<TQHandlerRegistry> {
public:
    TQCommandHandlers* commandHandlers = nullptr;
    TQInitSequenceHandler* initSequence = nullptr;
    TQWebProxyHandler* webProxy = nullptr;
    TQMusicControlHandler* musicControl = nullptr;
    TQPushNotificationHandler* pushNotification = nullptr;
    TQContactHandler* contacts = nullptr;
    TQCalendarHandler* calendar = nullptr;
    TQWeatherHandler* weather = nullptr;
    TQLbsHandler* lbsServerProvider = nullptr;
    TQTextTemplateHandler* textTemplates = nullptr;
    TQStoreHandler* store = nullptr;
    TQDatabaseSetup* databaseSetup = nullptr;
    TQUsageLogHandler* usageLog = nullptr;
    TQNumberSyncHandler* numberSync = nullptr;

    // The installed registry, else the process's own, which the launch fills in.
    static TQHandlerRegistry& current();

    // handler, or null after logging that `work` waits for the subsystem `name`.
    template <typename Handler>
    static Handler* require(Handler* handler, std::string_view name, std::string_view work) {
        if (handler == nullptr) {
            logMissing(name, work);
        }
        return handler;
    }

private:
    static void logMissing(std::string_view name, std::string_view work);
};
