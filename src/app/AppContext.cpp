#include "app/AppContext.h"

#include <string>
#include <utility>

#include "app/CrashHandler.h"
#include "app/TQAppUpdater.h"
#include "app/TQSendLogUtil.h"
#include "http/HCURLRequestSerialization.h"
#include "http/TQAppIconLookup.h"
#include "link/TQAP.h"
#include "link/TQBleManager.h"
#include "link/TQFileHandler.h"
#include "listener/TQCommandHandlers.h"
#include "listener/TQCoreManager.h"
#include "listener/TQInitSequence.h"
#include "listener/TQWebProxyURL.h"
#include "logging/LGASLLogger.h"
#include "logging/LGLogFileManager.h"
#include "logging/LGPlatformLogSink.h"
#include "logging/LGTTYLogger.h"
#include "platform/calendar/IcsFolderStore.h"
#include "platform/calendar/InotifyChangeSource.h"
#include "platform/contacts/VCardFolderAddressBook.h"
#include "platform/foundation/FolderWatch.h"
#include "platform/host/FreedesktopNotifier.h"
#include "platform/location/GeoClueLocation.h"
#include "platform/location/GpxTrack.h"
#include "platform/location/LocationServices.h"
#include "platform/location/ReplayLocation.h"
#include "platform/mail/XdgEmailComposer.h"
#include "platform/net/NetlinkSocketSource.h"
#include "platform/net/PollProxySockets.h"
#include "platform/security/FileKeychain.h"
#include "platform/telephony/ModemManagerTelephony.h"
#include "services/TQDeviceCalendar.h"
#include "services/TQEvent.h"
#include "services/TQLbsServerProvider.h"
#include "services/contacts/TQBuddyUtil.h"
#include "services/contacts/TQContactMgr.h"
#include "utils/TQUtils.h"

namespace {

template <typename T>
using Installed = platform::ScopedInstall<T>;

// The calendar clock of a context: the system's, or on a virtual loop one that starts at the
// system's time and moves with the loop.
platform::WallClock wallClockFor(const platform::RunLoop& loop) {
    return loop.isVirtual() ? platform::loopWallClock(loop, platform::systemWallClock()())
                            : platform::systemWallClock();
}

// A track the user chose, else the system's service when asked for, else none.
std::unique_ptr<platform::LocationManager> chooseLocation(platform::RunLoop& loop,
                                                          const platform::UserDefaults& defaults,
                                                          bool systemLocation) {
    if (const auto track = defaults.string(AppContext::kReplayTrackKey); track && !track->empty()) {
        auto fixes = platform::readGpxFile(*track);
        if (fixes.ok()) {
            LG_INFO("AppContext: replaying the track %@ as the phone's position", *track);
            return std::make_unique<platform::ReplayLocation>(loop, wallClockFor(loop),
                                                              std::move(fixes).value());
        }
        LG_ERROR("AppContext: cannot replay %@: %@", *track, fixes.error().message);
    }
    if (systemLocation) {
        return std::make_unique<platform::GeoClueLocation>(loop, platform::kBundleIdentifier);
    }
    return std::make_unique<platform::ReplayLocation>(
        loop, wallClockFor(loop), std::vector<platform::LocationFix>{},
        platform::ReplayLocation::Options{
            .servicesEnabled = false,
            .authorization = platform::LocationAuthorization::notDetermined});
}

}  // namespace

// Members in launch order, so that they go in the reverse one.
struct AppContext::Link {
    Link(std::unique_ptr<platform::bluetooth::Radio> radio, platform::RunLoop& loop,
         platform::UserDefaults& defaults, platform::NotificationCenter& center,
         TQHandlers& handlers, const std::filesystem::path& documents)
        : adapter(std::move(radio), loop),
          kavoManager(bleManager, loop, defaults),
          webProxy(loop, center,
                   std::make_unique<platform::net::PollProxySockets>(
                       platform::net::PollProxySockets::Options{
                           .destinations = TQWebProxyURL::destinations(defaults)})),
          sequence(kavoManager, handlers),
          coreManager(TQCoreManager::create(kavoManager, handlers)) {
        kavoManager.setFileHandler(std::make_unique<TQFileHandler>(kavoManager, kavoManager, loop,
                                                                   documents / kQueueFolder));
    }

    // Files waiting to go to the watch; emptied at every start.
    static constexpr const char* kQueueFolder = "QueueFiles";

    platform::bluetooth::Adapter adapter;
    TQBleManager bleManager{adapter};
    Installed<TQBleManager> installBleManager{&bleManager};
    TQAP kavoManager;
    Installed<TQAP> installKavoManager{&kavoManager};
    // Goes before the facade it answers through.
    TQWebProxyURL webProxy;
    TQInitSequence sequence;
    Installed<TQInitSequence> installSequence{&sequence};
    // The facade holds it too, as its delegate, while no screen has taken that role.
    std::shared_ptr<TQCoreManager> coreManager;
    Installed<TQCoreManager> installCoreManager{coreManager.get()};
};

AppContext::AppContext(Settings settings)
    : previousLogSink_(platform::LogSink::install(std::make_shared<LGPlatformLogSink>())),
      loop_(settings.clock),
      container_(std::move(settings.home)),
      defaults_(container_.preferences() / (std::string(platform::kBundleIdentifier) + ".plist")),
      notifier_(settings.sessionNotifications
                    ? std::make_unique<platform::FreedesktopNotifier>(loop_)
                    : nullptr),
      host_(notifier_ != nullptr ? std::make_unique<platform::HeadlessAppHost>(loop_, *notifier_)
                                 : std::make_unique<platform::HeadlessAppHost>()),
      keychain_(settings.sessionKeychain
                    ? platform::Keychain::forThisMachine(container_)
                    : std::make_unique<platform::FileKeychain>(container_.keychain())),
      permissions_(defaults_, permissionPrompt_,
                   [] { return platform::LocationServices::current().servicesEnabled(); }),
      network_(loop_, std::make_unique<platform::net::NetlinkSocketSource>()),
      database_(container_.documents() / TQDBManagerImpl::kFileName),
      location_(chooseLocation(loop_, defaults_, settings.systemLocation)),
      installLocation_(location_.get()),
      lbsServer_(std::make_unique<TQLbsServerProvider>(
          TQLbsServerProvider::Environment{.location = *location_,
                                           .center = center_,
                                           .host = *host_,
                                           .now = wallClockFor(loop_),
                                           .documents = container_.documents()},
          nullptr)),
      phoneServices_(loop_,
                     settings.phoneBackends ? settings.phoneBackends(loop_)
                                            : TQPhoneServiceBackends::forThisMachine(loop_),
                     container_.caches() / "Sounds"),
      store_(settings.storeLoader),
      iconLoader_(settings.iconLoader) {
    if (settings.systemCarrier) {
        telephony_ = std::make_unique<platform::ModemManagerTelephony>(loop_);
        installTelephony_.emplace(telephony_.get());
    }
    handlers_.databaseSetup = &databaseSetup_;
    handlers_.lbsServerProvider = lbsServer_.get();
    phoneServices_.fillHandlers(handlers_);
    const std::filesystem::path calendars =
        container_.root() / defaults_.string(kCalendarFolderKey).value_or("calendars");
    calendarStore_ = std::make_unique<platform::calendar::IcsFolderStore>(
        calendars, [] { return TQDeviceCalendar::zone(); },
        std::make_unique<platform::calendar::InotifyChangeSource>(calendars, loop_));
    calendar_ = std::make_unique<TQEvent>(
        *calendarStore_, permissions_, defaults_, loop_,
        TQEvent::linkSender([this]() -> TQAP* { return link_ ? &link_->kavoManager : nullptr; }));
    handlers_.calendar = calendar_.get();
    store_.fillHandlers(handlers_);
    const std::filesystem::path contacts =
        container_.root() / defaults_.string(kContactsFolderKey).value_or("contacts");
    addressBook_ = std::make_unique<platform::contacts::VCardFolderAddressBook>(
        contacts, std::make_unique<platform::InotifyChangeSource>(contacts, loop_, "contacts"));
    const auto currentLink = [this]() -> TQAP* { return link_ ? &link_->kavoManager : nullptr; };
    contacts_ = std::make_unique<TQContactMgr>(*addressBook_, permissions_, defaults_, center_,
                                               loop_, TQContactLink::over(currentLink));
    handlers_.contacts = contacts_.get();
    buddies_ = std::make_unique<TQBuddyUtil>(*addressBook_, permissions_, loop_, buddyWork_,
                                             TQBuddyUtil::Sender::over(currentLink));
    handlers_.buddySync = buddies_.get();
    backgroundObserver_ =
        center_.addObserver(platform::kApplicationDidEnterBackgroundNotification,
                            [this](const platform::Notification&) {
                                TQUtils::synchronizeDefaults(defaults_, "AppContext");
                            });

    mailComposer_ =
        settings.mailComposer
            ? settings.mailComposer(loop_)
            : std::make_unique<platform::mail::XdgEmailComposer>(
                  loop_, platform::mail::EmlOutbox(container_.root() / kOutboxFolder, [this] {
                      return static_cast<std::int64_t>(wallClockFor(loop_)());
                  }));
    sendLog_ = std::make_unique<TQSendLogUtil>(
        TQSendLogUtil::Environment{.loop = loop_,
                                   .defaults = defaults_,
                                   .now = wallClockFor(loop_),
                                   .origin = defaults_.string(TQSendLogUtil::kFeedbackAddressKey)
                                                 .value_or(TQSendLogUtil::kDefaultFeedbackAddress),
                                   .configuration = settings.serverConfiguration,
                                   .loader = settings.serverLoader});
    handlers_.usageLog = sendLog_.get();
    appUpdater_ = std::make_unique<TQAppUpdater>(TQAppUpdater::Environment{
        .loop = loop_,
        .lookupAddress = defaults_.string(TQAppIconLookup::kLookupAddressKey)
                             .value_or(TQAppIconLookup::kDefaultLookupAddress),
        .bundleIdentifier = platform::kBundleIdentifier,
        .runningVersion = HCClientFacts::current().shortVersion,
        .network = network_,
        .configuration = settings.serverConfiguration,
        .loader = settings.serverLoader});
}

void AppContext::installCrashHandlers() {
    if (crashHandler_) {
        return;
    }
    crashHandler_ = std::make_unique<CrashHandler>(CrashHandler::Environment{
        .folder = container_.root() / kCrashFolder,
        .composer = *mailComposer_,
        .logFiles =
            [this] {
                std::vector<std::filesystem::path> files;
                if (fileLogger_) {
                    const auto folder = fileLogger_->logFileManager().logsDirectory();
                    for (const auto& name : fileLogger_->logFileManager().unsortedLogFileNames()) {
                        files.push_back(folder / name);
                    }
                }
                return files;
            },
        .shortDateTime = crashShortDateTime});
    if (!crashHandler_->installCrashHandlers().ok()) {
        crashHandler_.reset();
    }
}

void AppContext::addLaunchLoggers() {
    if (fileLogger_) {
        return;
    }
    // The launch's order: the system log first, then the console, then the files.
    LGLog::addLogger(std::make_shared<LGASLLogger>(
                         platform::openSystemLog(platform::probeSystemLog(), "kavomanager")),
                     LGASLLogger::kLevel);

    // The launch's switch for colours is on: a terminal that shows colour gets them, a pipe
    // or a file plain text.
    auto console = std::make_shared<LGTTYLogger>(console_, LGTTYLogger::processIdentity(), true);
    LGLog::addLogger(console);
    console->setColorsEnabled(true);
    console->setForegroundColor(LGColor{0, 0, 255}, std::nullopt, LGLogFlagDebug);
    console->setForegroundColor(LGColor{0, 128, 0}, std::nullopt, LGLogFlagInfo);

    auto manager = std::make_shared<LGLogFileManagerDefault>(
        container_.documents(), platform::kBundleIdentifier, extendedAttributes_, logClock_);
    manager->setMaximumNumberOfLogFiles(7);
    fileLogger_ = std::make_shared<LGFileLogger>(std::move(manager), logClock_);
    fileLogger_->setMaximumFileSize(5242880);
    fileLogger_->setRollingFrequency(86400);
    LGLog::addLogger(fileLogger_);
}

AppContext::~AppContext() {
    center_.removeObserver(backgroundObserver_);
    crashHandler_.reset();
    handlers_.usageLog = nullptr;
    appUpdater_.reset();
    sendLog_.reset();
    stopLink();
    store_.takeBack(handlers_);
    handlers_.lbsServerProvider = nullptr;
    lbsServer_.reset();
    platform::LogSink::install(std::move(previousLogSink_));
}

void AppContext::startLink(std::unique_ptr<platform::bluetooth::Radio> radio) {
    stopLink();
    // The sequence is made with the link; the core manager finds it among the handlers.
    const bool ownSequence = handlers_.initSequence == nullptr;
    link_ = std::make_unique<Link>(std::move(radio), loop_, defaults_, center_, handlers_,
                                   container_.documents());
    if (ownSequence) {
        handlers_.initSequence = &link_->sequence;
    }
    TQHandlers::fillIn(handlers_.webProxy, &link_->webProxy);
    phoneServices_.attachLink(link_->kavoManager, handlers_);
    lbsServer_->setTQAP(&link_->kavoManager);
    commands_ = std::make_unique<TQCommandHandlers>(link_->kavoManager, loop_, network_);
    commands_->fillIn(handlers_);
    iconLookup_ =
        std::make_unique<TQAppIconLookup>(link_->kavoManager, loop_,
                                          defaults_.string(TQAppIconLookup::kLookupAddressKey)
                                              .value_or(TQAppIconLookup::kDefaultLookupAddress),
                                          iconLoader_);
    TQHandlers::fillIn(handlers_.appIcons, iconLookup_.get());
    store_.attachLink(link_->kavoManager);
}

void AppContext::stopLink() {
    if (link_ == nullptr) {
        return;
    }
    if (handlers_.initSequence == &link_->sequence) {
        handlers_.initSequence = nullptr;
    }
    store_.detachLink();
    TQHandlers::takeBack(handlers_.appIcons, iconLookup_.get());
    iconLookup_.reset();
    commands_->takeBack(handlers_);
    commands_.reset();
    TQHandlers::takeBack(handlers_.webProxy, &link_->webProxy);
    phoneServices_.detachLink(handlers_);
    lbsServer_->setTQAP(nullptr);
    link_.reset();
}

TQBleManager& AppContext::bleManager() {
    return link_->bleManager;
}

TQAP& AppContext::kavoManager() {
    return link_->kavoManager;
}

TQInitSequence& AppContext::initSequence() {
    return link_->sequence;
}

TQCoreManager& AppContext::coreManager() {
    return *link_->coreManager;
}
