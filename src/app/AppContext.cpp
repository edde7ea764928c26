#include "app/AppContext.h"

#include <string>
#include <utility>

#include "link/TQAP.h"
#include "link/TQBleManager.h"
#include "link/TQFileHandler.h"
#include "listener/TQCoreManager.h"
#include "listener/TQInitSequence.h"
#include "logging/LGPlatformLogSink.h"
#include "platform/calendar/IcsFolderStore.h"
#include "platform/calendar/InotifyChangeSource.h"
#include "platform/location/LocationServices.h"
#include "platform/net/NetlinkSocketSource.h"
#include "platform/security/FileKeychain.h"
#include "services/TQDeviceCalendar.h"
#include "services/TQEvent.h"
#include "utils/TQUtils.h"

namespace {

template <typename T>
using Installed = platform::ScopedInstall<T>;

}  // namespace

// Members in launch order, so that they go in the reverse one.
struct AppContext::Link {
    Link(std::unique_ptr<platform::bluetooth::Radio> radio, platform::RunLoop& loop,
         platform::UserDefaults& defaults, TQHandlers& handlers,
         const std::filesystem::path& documents)
        : adapter(std::move(radio), loop),
          kavoManager(bleManager, loop, defaults),
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
      keychain_(settings.sessionKeychain
                    ? platform::Keychain::forThisMachine(container_)
                    : std::make_unique<platform::FileKeychain>(container_.keychain())),
      permissions_(defaults_, permissionPrompt_,
                   [] { return platform::LocationServices::current().servicesEnabled(); }),
      network_(loop_, std::make_unique<platform::net::NetlinkSocketSource>()),
      database_(container_.documents() / TQDBManagerImpl::kFileName) {
    handlers_.databaseSetup = &databaseSetup_;
    const std::filesystem::path calendars =
        container_.root() / defaults_.string(kCalendarFolderKey).value_or("calendars");
    calendarStore_ = std::make_unique<platform::calendar::IcsFolderStore>(
        calendars, [] { return TQDeviceCalendar::zone(); },
        std::make_unique<platform::calendar::InotifyChangeSource>(calendars, loop_));
    calendar_ = std::make_unique<TQEvent>(
        *calendarStore_, permissions_, defaults_, loop_,
        TQEvent::linkSender([this]() -> TQAP* { return link_ ? &link_->kavoManager : nullptr; }));
    handlers_.calendar = calendar_.get();
    backgroundObserver_ =
        center_.addObserver(platform::kApplicationDidEnterBackgroundNotification,
                            [this](const platform::Notification&) {
                                TQUtils::synchronizeDefaults(defaults_, "AppContext");
                            });
}

AppContext::~AppContext() {
    center_.removeObserver(backgroundObserver_);
    stopLink();
    platform::LogSink::install(std::move(previousLogSink_));
}

void AppContext::startLink(std::unique_ptr<platform::bluetooth::Radio> radio) {
    stopLink();
    // The sequence is made with the link; the core manager finds it among the handlers.
    const bool ownSequence = handlers_.initSequence == nullptr;
    link_ = std::make_unique<Link>(std::move(radio), loop_, defaults_, handlers_,
                                   container_.documents());
    if (ownSequence) {
        handlers_.initSequence = &link_->sequence;
    }
}

void AppContext::stopLink() {
    if (link_ == nullptr) {
        return;
    }
    if (handlers_.initSequence == &link_->sequence) {
        handlers_.initSequence = nullptr;
    }
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
