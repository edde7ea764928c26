#include "app/TQWindowedApp.h"

#include <utility>

#include "app/AppContext.h"
#include "app/TQAppUpdater.h"
#include "app/TQSendLogUtil.h"
#include "http/HCURLRequestSerialization.h"
#include "link/TQBleManager.h"
#include "link/TQPeripheral.h"
#include "listener/TQCoreManager.h"
#include "listener/TQInitSequence.h"
#include "logging/LGLog.h"
#include "platform/contacts/VCardFolderAddressBook.h"
#include "platform/foundation/Dispatch.h"
#include "platform/host/URLOpener.h"
#include "platform/image/NamedImage.h"
#include "platform/image/PicturesFolder.h"
#include "platform/permissions/Permissions.h"
#include "screens/TQMainStoryboard.h"
#include "screens/pairing/TQPairingSteps.h"
#include "services/TQEvent.h"
#include "services/TQFindMyDevice.h"
#include "store/TQAppManager.h"
#include "ui/TQMainWindow.h"

namespace {

std::optional<TQPairingLink> pairingLink(AppContext& context) {
    if (!context.isLinkUp()) {
        return std::nullopt;
    }
    return TQPairingLink{.kavoManager = context.kavoManager(),
                         .sequence = context.initSequence(),
                         .handlers = context.coreManager().handlers(),
                         .appManager = context.store().appManager()};
}

}  // namespace

TQWindowedApp::TQWindowedApp(AppContext& context, Settings settings)
    : context_(context),
      settings_(std::move(settings)),
      findMyPhone_(window_,
                   [](std::string_view name) { return platform::image::namedImage(name); }),
      contactPicker_(context.addressBook()),
      photos_(platform::image::picturesFolder(), platform::Permissions::current(), context.loop(),
              platform::DispatchQueue::global()),
      pairing_([&context] { return pairingLink(context); }),
      screenServices_{.loop = context.loop(),
                      .defaults = context.defaults(),
                      .center = context.center(),
                      .webViews = settings_.webViews != nullptr ? *settings_.webViews : noWebViews_,
                      .contactPicker = contactPicker_,
                      .photos = photos_,
                      .mail = context.mailComposer(),
                      .pairing = &pairing_,
                      .coreManager = [&context]() -> TQCoreManager* {
                          return context.isLinkUp() ? &context.coreManager() : nullptr;
                      }},
      storyboard_(TQMainStoryboard::make(screenServices_)),
      services_(window_, context.loop(), platform::AppHost::current(),
                storyboard_->pageFactory()),
      loading_(window_, context.loop()),
      delegate_(TQAppDelegate::Environment{
          .loop = context.loop(),
          .defaults = context.defaults(),
          .center = context.center(),
          .host = services_.host(),
          .window = window_,
          .storyboard = *storyboard_,
          .addLoggers = [&context] { context.addLaunchLoggers(); },
          .createCoreManager =
              [this] {
                  const bool made = settings_.startLink && settings_.startLink();
                  if (TQFindMyDevice* find = context_.phoneServices().findMyDevice()) {
                      find->setOverlayPresenter(&findMyPhone_);
                  }
                  return made;
              },
          .installCrashHandlers = [&context] { context.installCrashHandlers(); },
          .push = [&context] { return context.phoneServices().pushNotification(); },
          .giveWindowToLoadingView =
              [this] { loading_.setApplicationWindow(std::make_shared<TQMainWindow>(window_)); },
          .recordAppLaunch = [&context] { context.sendLogUtil().generateJSONForAppLaunch(); },
          .checkApplicationUpdate = [&context] { context.appUpdater().checkApplicationUpdate(); },
          .calendarUpdateDelta =
[&context] { context.calendar().updateDelta(); },
          .bluetoothSharingAuthorized =
              [&context] {
                  // The user's own refusal, or a radio that refuses the application.
                  return pairing::isBluetoothSharingAuthorized() &&
                         (!context.isLinkUp() ||
                          context.bleManager().peripheral().isSharingAuthorized());
              },
          .softwareVersion = HCClientFacts::current().shortVersion}) {
    window_.setName("mainWindow");
    window_.setWindowTitle("KavoManager");
    // Replace-root segues go through the delegate's root change.
    storyboard_->setRootChanger(
        [this](std::unique_ptr<platform::ui::Page> root, platform::ui::Page& from) {
            delegate_.changeRootViewController(std::move(root), &from);
        });
}

TQWindowedApp::~TQWindowedApp() {
    if (TQFindMyDevice* find = context_.phoneServices().findMyDevice()) {
        find->setOverlayPresenter(nullptr);
    }
    channel_.reset();
    lifeCycle_.reset();
    // The host that hears openings belongs to the context, which outlives the delegate.
    services_.host().onLocalNotificationOpened(nullptr);
}

void TQWindowedApp::launch(const std::optional<std::string>& url, std::function<void()> drawn) {
    platform::ui::whenFirstDrawn(window_, [drawn = std::move(drawn)] {
        LG_INFO("%s", kDrawnLine);
        if (drawn) {
            drawn();
        }
    });
    delegate_.didFinishLaunching();
    // Opened notifications lead to the delegate's actions.
    services_.host().onLocalNotificationOpened(
        [this](const platform::Dictionary& userInfo) {
            // What the notice leads to shows in the window, so the window comes up first.
            platform::ui::bringToFront(window_);
            delegate_.didReceiveLocalNotification(userInfo);
        });
    lifeCycle_ = std::make_unique<platform::ui::LifeCycle>(
        window_, [this](platform::ui::LifeEvent event) { lifeCycleChanged(event); });
    if (settings_.channel) {
        auto listening = platform::InstanceChannel::listen(
            *settings_.channel, context_.loop(),
            [this](std::string text) { openHandedURL(text); });
        if (listening.ok()) {
            channel_ = std::move(listening).value();
        } else {
            LG_INFO("TQWindowedApp: later starts cannot hand URLs here: %@",
                    listening.error().message);
        }
    }
    if (url) {
        openHandedURL(*url);
    }
}

void TQWindowedApp::openHandedURL(const std::string& text) {
    // The answer is the platform's (a store link is always answered no); what it opened
    // shows on screen, so the window comes up first.
    platform::ui::bringToFront(window_);
    if (!text.empty()) {  // empty: a later start only turned to the window
        (void)delegate_.handleOpenURL(text);
    }
}

void TQWindowedApp::lifeCycleChanged(platform::ui::LifeEvent event) {
    auto& host = services_.host();
    switch (event) {
        case platform::ui::LifeEvent::willResignActive:
            host.setApplicationState(platform::ApplicationState::inactive);
            delegate_.lifeCycleChanged(event);
            context_.center().post(platform::kApplicationWillResignActiveNotification);
            break;
        case platform::ui::LifeEvent::didBecomeActive:
            host.setApplicationState(platform::ApplicationState::active);
            delegate_.lifeCycleChanged(event);
            context_.center().post(platform::kApplicationDidBecomeActiveNotification);
            break;
        case platform::ui::LifeEvent::didEnterBackground:
            host.setApplicationState(platform::ApplicationState::background);
            delegate_.lifeCycleChanged(event);
            context_.center().post(platform::kApplicationDidEnterBackgroundNotification);
            break;
        case platform::ui::LifeEvent::willEnterForeground:
            host.setApplicationState(platform::ApplicationState::inactive);
            delegate_.lifeCycleChanged(event);
            context_.center().post(platform::kApplicationWillEnterForegroundNotification);
            break;
    }
}
