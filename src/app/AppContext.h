#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "db/TQDBManagerImpl.h"
#include "db/TQInitializeDB.h"
#include "http/HCNetworkReachabilityManager.h"
#include "link/TQMessageQueue.h"
#include "listener/TQHandlers.h"
#include "logging/LGClock.h"
#include "logging/LGFileLogger.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/Radio.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/LogSink.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "platform/host/DesktopNotifier.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/location/LocationManager.h"
#include "platform/mail/Mail.h"
#include "platform/net/NetworkMonitor.h"
#include "platform/net/URLSession.h"
#include "platform/oslog/Console.h"
#include "platform/oslog/ExtendedAttributes.h"
#include "platform/permissions/Permissions.h"
#include "platform/security/Keychain.h"
#include "platform/telephony/Telephony.h"
#include "services/TQPhoneServices.h"
#include "store/TQStoreServices.h"

class TQAP;
class TQBleManager;
class TQLbsServerProvider;
class TQEvent;
class TQContactMgr;
class TQBuddyUtil;
namespace platform::contacts {
class VCardFolderAddressBook;
}
namespace platform::calendar {
class IcsFolderStore;
}
namespace platform::net {
class URLLoader;
}
class TQCoreManager;
class TQInitSequence;
class TQCommandHandlers;
class TQAppIconLookup;
class TQSendLogUtil;
class TQAppUpdater;
class CrashHandler;

// The application's composition root: it makes, owns and wires everything the program runs
// on, installs the system's named instances (the platform's log sink, the main loop, the logging
// hub, the standard defaults, the default centre, the container, the host and navigator, the
// database engine (TQDBManagerImpl::getSharedInstance),
// TQBleManager::initialize, TQAP::initializeWithANCS, TQInitSequence::getInstance,
// TQCoreManager::sharedManager, TQMessageQueue::getInstance) for its lifetime, and takes them down
// in the reverse order. One context at a time; made and destroyed on the thread that runs its loop.
class AppContext {
public:
    struct Settings {
        platform::RunLoop::Clock clock = platform::RunLoop::Clock::real;
        // The container folder (Documents, Library, keychain).
        std::filesystem::path home;
        // The session's Secret Service when it offers one; otherwise, and always in tests, the
        // file store in the container's keychain folder.
        bool sessionKeychain = false;
        // What the phone services stand on; this machine's when empty.
        std::function<TQPhoneServiceBackends(platform::RunLoop&)> phoneBackends = nullptr;
        // The system bus's location service (GeoClue); otherwise, and always in tests, none.
        // Either way a track named by the user default kReplayTrackKey is played instead.
        bool systemLocation = false;
        // The HTTP loader of the icon lookup; the process's when null. Tests give their own.
        platform::net::URLLoader* iconLoader = nullptr;
        // The loader and session configuration (trust anchors) of the usage-log uploads and
        // the update lookup; the process's loader and the machine's anchors when unset.
        platform::net::URLLoader* serverLoader = nullptr;
        std::optional<platform::net::URLSessionConfiguration> serverConfiguration = std::nullopt;
        // Where mails go; xdg-email, else the container's "Outbox", when null.
        std::function<std::unique_ptr<platform::mail::MailComposer>(platform::RunLoop&)>
            mailComposer = nullptr;
        // The HTTP loader of the store's downloads; the process's when null.
        platform::net::URLLoader* storeLoader = nullptr;
        // The session's desktop notification service shows the host's local notifications;
        // otherwise, and always in tests, they are lines on standard error.
        bool sessionNotifications = false;
        // The SIM's carrier from the system bus's modem manager; otherwise, and always in
        // tests, the carrier installed before the context, else no SIM.
        bool systemCarrier = false;
    };

    // The folder of the container where mails wait without a mail program, and the one where
    // a crash report waits for the next launch.
    static constexpr const char* kOutboxFolder = "Outbox";
    // Set once the set-up is through: launches are recorded as usage logs from then on.
    static constexpr const char* kOobeCompletedKey = "oobe_is_completed";
    static constexpr const char* kCrashFolder = "Library/CrashReports";

    // The user setting that names a GPX track to play as the phone's position.
    static constexpr const char* kReplayTrackKey = "kavo.location.replayTrack";

    explicit AppContext(Settings settings);
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    [[nodiscard]] platform::RunLoop& loop() { return loop_; }
    [[nodiscard]] const platform::Container& container() const { return container_; }
    [[nodiscard]] platform::UserDefaults& defaults() { return defaults_; }
    [[nodiscard]] platform::NotificationCenter& center() { return center_; }
    [[nodiscard]] platform::HeadlessScreenNavigator& navigator() { return navigator_; }
    // What the user answers when a permission is asked; nothing scripted is declined.
    [[nodiscard]] platform::ScriptedPermissionPrompt& permissionPrompt() {
        return permissionPrompt_;
    }
    // The subsystems the link hands work to; fill in before startLink. What is left empty
    // stays a subsystem not built yet, but for the initialisation sequence, which the context
    // provides itself.
    [[nodiscard]] TQHandlers& handlers() { return handlers_; }
    // Registers the launch's loggers, in its order: the system log, the console (standard
    // error) and the log files in Documents. Their queues start threads: a program that wants
    // signals on a thread of its own blocks them first. Once per context.
    void addLaunchLoggers();
    // The launch's file logger; null before addLaunchLoggers.
    [[nodiscard]] const std::shared_ptr<LGFileLogger>& fileLogger() const { return fileLogger_; }
    // Push, music, templates, weather, the find-my-phone alarm and the blocked-apps entry.
    [[nodiscard]] TQPhoneServices& phoneServices() { return phoneServices_; }
    [[nodiscard]] platform::mail::MailComposer& mailComposer() { return *mailComposer_; }
    // The usage logs (also the handlers' usageLog) and the update check. Their servers are the
    // user settings TQSendLogUtil::kFeedbackAddressKey and TQAppIconLookup::kLookupAddressKey.
    [[nodiscard]] TQSendLogUtil& sendLogUtil() { return *sendLog_; }
    [[nodiscard]] TQAppUpdater& appUpdater() { return *appUpdater_; }
    // The crash capture: keeps what the last run's crash left, installs the handlers and
    // offers that report as a mail with the launch's log files. Once per context; taken away
    // with it.
    void installCrashHandlers();
    [[nodiscard]] CrashHandler* crashHandler() { return crashHandler_.get(); }
    // The position source the context chose, and the provider that serves it to the watch.
    [[nodiscard]] platform::LocationManager& location() { return *location_; }
    [[nodiscard]] TQLbsServerProvider& lbsServerProvider() { return *lbsServer_; }
    // The watch's application lists and the store's download-and-install operations.
    [[nodiscard]] TQStoreServices& store() { return store_; }

    // The user setting that names the calendar folder.
    static constexpr const char* kCalendarFolderKey = "kavo.calendar.folder";
    // The user setting that names the folder of vCard files the address book is read from.
    static constexpr const char* kContactsFolderKey = "kavo.contacts.folder";
    [[nodiscard]] platform::contacts::VCardFolderAddressBook& addressBook() { return *addressBook_; }
    // The calendar service that sends the watch its changes.
    [[nodiscard]] TQEvent& calendar() { return *calendar_; }
    [[nodiscard]] TQContactMgr& contactManager() { return *contacts_; }

    // Brings the link up on radio: Bluetooth manager, facade, initialisation sequence and core
    // manager, in launch order. At most one link at a time.
    void startLink(std::unique_ptr<platform::bluetooth::Radio> radio);
    // Takes the link down, newest first, as a relaunch does; nothing when it is not up.
    void stopLink();
    [[nodiscard]] bool isLinkUp() const { return link_ != nullptr; }

    // The link's parts; only while it is up.
    [[nodiscard]] TQBleManager& bleManager();
    [[nodiscard]] TQAP& kavoManager();
    [[nodiscard]] TQInitSequence& initSequence();
    [[nodiscard]] TQCoreManager& coreManager();

private:
    struct Link;

    // Platform log lines reach the logging hub while the context lives.
    std::shared_ptr<platform::LogSink> previousLogSink_;
    platform::RunLoop loop_;
    platform::ScopedMainRunLoop installLoop_{loop_};
    platform::Container container_;
    platform::ScopedInstall<const platform::Container> installContainer_{&container_};
    platform::NotificationCenter center_;
    platform::ScopedInstall<platform::NotificationCenter> installCenter_{&center_};
    // Records and log-file rolling read the loop's clock. It, the console and the attributes
    // outlive the hub, which owns the loggers that use them.
    LGRunLoopClock logClock_ = LGRunLoopClock::following(loop_);
    platform::ScopedInstall<const LGClock> installLogClock_{&logClock_};
    platform::StandardErrorConsole console_;
    platform::HostExtendedAttributes extendedAttributes_;
    // After the centre, whose terminate notice it listens for, and before the defaults, whose
    // writer may still log while they go.
    LGLogHub logHub_;
    platform::ScopedInstall<LGLogHub> installLogHub_{&logHub_};
    platform::UserDefaults defaults_;
    platform::ScopedInstall<platform::UserDefaults> installDefaults_{&defaults_};
    // Null without the session's notification service; outlives the host that shows through it.
    std::unique_ptr<platform::DesktopNotifier> notifier_;
    std::unique_ptr<platform::HeadlessAppHost> host_;
    platform::ScopedInstall<platform::AppHost> installHost_{host_.get()};
    platform::HeadlessScreenNavigator navigator_;
    platform::ScopedInstall<platform::ScreenNavigator> installNavigator_{&navigator_};
    std::unique_ptr<platform::Keychain> keychain_;
    platform::ScopedInstall<platform::Keychain> installKeychain_{keychain_.get()};
    platform::ScriptedPermissionPrompt permissionPrompt_;
    platform::Permissions permissions_;
    platform::ScopedInstall<platform::Permissions> installPermissions_{&permissions_};
    // Watches the network once someone asks about it.
    platform::net::NetworkMonitor network_;
    platform::ScopedInstall<platform::net::NetworkMonitor> installNetwork_{&network_};
    // Made and installed only for the system's carrier.
    std::unique_ptr<platform::Telephony> telephony_;
    std::optional<platform::ScopedInstall<platform::Telephony>> installTelephony_;
    // Reachability of any route; made beside the monitor it reads, so it never outlives it.
    std::unique_ptr<HCNetworkReachabilityManager> reachability_{
        HCNetworkReachabilityManager::managerForAddress(platform::net::IPv4Address{}, network_)};
    platform::ScopedInstall<HCNetworkReachabilityManager> installReachability_{reachability_.get()};
    TQMessageQueue messageQueue_;
    platform::ScopedInstall<TQMessageQueue> installMessageQueue_{&messageQueue_};
    TQHandlers handlers_;
    // The database in Documents, and the per-watch initialisation the core manager asks.
    TQDBManagerImpl database_;
    platform::ScopedInstall<TQDBManagerImpl> installDatabase_{&database_};
    TQInitializeDB databaseSetup_{defaults_, handlers_};
    std::unique_ptr<platform::LocationManager> location_;
    platform::ScopedInstall<platform::LocationServices> installLocation_;
    std::unique_ptr<TQLbsServerProvider> lbsServer_;
    // With the process's one find-my-phone alarm, made at start-up.
    TQPhoneServices phoneServices_;
    // The calendars the watch is shown: the folder the user setting kCalendarFolderKey names
    // (relative to the container), else the container's "calendars", watched by inotify.
    std::unique_ptr<platform::calendar::IcsFolderStore> calendarStore_;
    std::unique_ptr<TQEvent> calendar_;
    TQStoreServices store_;
    // The address book: the folder the user setting kContactsFolderKey names (relative to the
    // container), else the container's "contacts", watched by inotify; the contact copy and
    // the buddies over it. The buddies' queue waits for its work before the book goes.
    std::unique_ptr<platform::contacts::VCardFolderAddressBook> addressBook_;
    std::unique_ptr<TQContactMgr> contacts_;
    platform::SerialQueue buddyWork_{"kavo.buddies"};
    std::unique_ptr<TQBuddyUtil> buddies_;
    // Going to the background writes the defaults at once: the process may not come back.
    platform::NotificationCenter::Token backgroundObserver_ = 0;
    std::unique_ptr<platform::mail::MailComposer> mailComposer_;
    std::unique_ptr<TQSendLogUtil> sendLog_;
    std::unique_ptr<TQAppUpdater> appUpdater_;
    std::unique_ptr<CrashHandler> crashHandler_;
    std::unique_ptr<Link> link_;
    platform::net::URLLoader* iconLoader_;
    // The listener's own handlers and the icon lookup answer through the link: made and gone
    // with it. The lookup's base address is the user setting TQAppIconLookup::kLookupAddressKey.
    std::unique_ptr<TQCommandHandlers> commands_;
    std::unique_ptr<TQAppIconLookup> iconLookup_;
    std::shared_ptr<LGFileLogger> fileLogger_;
};
