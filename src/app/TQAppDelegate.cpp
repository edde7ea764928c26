#include "app/TQAppDelegate.h"

#include <utility>

#include "logging/LGFormat.h"
#include "listener/TQPhoneScreens.h"
#include "logging/LGLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/URLOpener.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/TextMetrics.h"
#include "screens/TQMainStoryboard.h"
#include "services/TQPushNotification.h"
#include "ui/TQCustomNavigationViewController.h"
#include "ui/TQPopUpviewUtils.h"
#include "ui/TQStoryboard.h"
#include "utils/TQKeyChainWrapper.h"
#include "utils/TQUtils.h"

namespace {

constexpr const char* kWMSConnectedKey = "isWMSConnected";
constexpr const char* kSetupCompletedKey = "isCompletedSetupWizard";
constexpr const char* kOobeCompletedKey = "oobe_is_completed";
constexpr const char* kHiddenConditionKey = "hiddenConditionBitSet";
constexpr const char* kAccessTokenItem = "hasAccessToken";

// Every occurrence of separator splits; empty parts stay, as the platform's split keeps them.
std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    for (std::size_t at; (at = text.find(separator)) != std::string_view::npos;) {
        parts.push_back(text.substr(0, at));
        text.remove_prefix(at + separator.size());
    }
    parts.push_back(text);
    return parts;
}

std::string withoutEvery(std::string_view text, std::string_view removed) {
    std::string kept;
    for (const auto part : split(text, removed)) {
        kept += part;
    }
    return kept;
}

std::optional<std::string> stringAt(const platform::Dictionary& dictionary, std::string_view key) {
    const platform::Value* value = dictionary.find(key);
    if (value == nullptr || value->stringIf() == nullptr) {
        return std::nullopt;
    }
    return *value->stringIf();
}

}  // namespace

TQAppDelegate::TQAppDelegate(Environment environment) : env_(std::move(environment)) {}

TQAppDelegate::~TQAppDelegate() {
    *alive_ = false;
    if (fetchTimer_) {
        fetchTimer_->invalidate();
    }
    for (ShownAlert* field : {&firstAlert_, &secondAlert_, &updateKavoAlert_}) {
        dismiss(*field);
    }
}

bool TQAppDelegate::didFinishLaunching(const std::vector<std::string>& restorationIdentifiers) {
    // The status bar and its style, notification registration and the badge have no meaning
    // on a desktop; the console logger picks its colours by the terminal it writes to.
    if (env_.addLoggers) {
        env_.addLoggers();
    }
    logBanners();
    LG_VERBOSE("--- KavoManager ---");
    LG_VERBOSE("Software version : %@", env_.softwareVersion);

    startFetchTimer();

    platform::Array identifiers;
    for (const auto& identifier : restorationIdentifiers) {
        identifiers.emplace_back(identifier);
    }
    LG_VERBOSE("peripheralManagerIdentifiers: %@", platform::Value(std::move(identifiers)));

    env_.defaults.set(kWMSConnectedKey, 0);
    TQUtils::synchronizeDefaults(env_.defaults, "TQAppDelegate");
    LG_DEBUG("Kavo Manager : TQAppDelegate IS_WMS_CONNECTED FALSE");

    for (const auto& identifier : restorationIdentifiers) {
        if (identifier == kPeripheralRestoreIdentifier) {
            LG_VERBOSE("APP_DELEGATE: will restore");
            break;
        }
    }

    if (env_.createCoreManager && env_.createCoreManager()) {
        LG_VERBOSE("TQCoreManager singleton object has been created");
    } else {
        LG_VERBOSE("Failed to create TQCoreManager singleton object");
    }

    if (env_.installCrashHandlers) {
        env_.installCrashHandlers();
    }

    styleAppearance();

    const bool setupCompleted = env_.defaults.boolean(kSetupCompletedKey).value_or(false);
    const auto bounds = platform::ui::Screen::main().bounds();
    env_.window.resize(static_cast<int>(bounds.width), static_cast<int>(bounds.height));
    if (setupCompleted) {
        if (auto home = env_.storyboard.instantiate(TQMainStoryboard::kHomeScene)) {
            setRoot(new TQCustomNavigationViewController(std::move(home)));
        } else {
            LG_ERROR("TQAppDelegate: the storyboard has no scene %@", TQMainStoryboard::kHomeScene);
        }
    } else {
        if (auto setup = env_.storyboard.instantiate(TQMainStoryboard::kSetupScene)) {
            // The set-up scene is a stack: its first page goes on a navigation that the
            // pages after it are pushed onto.
            setRoot(new TQCustomNavigationViewController(std::move(setup)));
        } else {
            LG_ERROR("TQAppDelegate: the storyboard has no scene %@",
                     TQMainStoryboard::kSetupScene);
        }
        if (TQKeyChainWrapper::keychainStringFromMatchingIdentifier(kAccessTokenItem)) {
            TQKeyChainWrapper::deleteItemFromKeychainWithIdentifier(kAccessTokenItem);
        }
    }

    LG_VERBOSE("TQAppDelegate: exchangePushSettingsWithKavo");
    if (TQPushNotification* push = env_.push ? env_.push() : nullptr) {
        push->exchangePushSettingsWithKavo();
    }
    if (env_.giveWindowToLoadingView) {
        env_.giveWindowToLoadingView();
    }
    env_.window.makeKeyAndVisible();

    if (env_.defaults.boolean(kOobeCompletedKey).value_or(false) && env_.recordAppLaunch) {
        env_.recordAppLaunch();
    }
    if (env_.checkApplicationUpdate) {
        env_.checkApplicationUpdate();
    }
    return true;
}

void TQAppDelegate::logBanners() {
    LG_VERBOSE("VERBOSE");
    LG_INFO("INFO");
    LG_DEBUG("DEBUG");
    LG_WARN("WARNING");
    LG_ERROR("ERROR");
}

void TQAppDelegate::styleAppearance() {
    // Opaque, as every bar here is.
    appearance_.navigationBar.barTintColor = {249 / 255.0, 168 / 255.0, 37 / 255.0, 1};
    appearance_.navigationBar.tintColor = {1, 1, 1, 1};
    appearance_.navigationBar.titleColor = platform::ui::Color{1, 1, 1, 1};
    appearance_.selectedCellBackground = platform::ui::Color{1, 224 / 255.0, 178 / 255.0, 1};
    if (!installAppearance_) {
        installAppearance_ =
            std::make_unique<platform::ScopedInstall<platform::ui::Appearance>>(&appearance_);
    }
}

void TQAppDelegate::setRoot(platform::ui::View* root) {
    // A page the window shows as it is loads and appears as a navigation's top page would; the
    // old root's pages disappear and leave before it goes.
    auto* page = dynamic_cast<platform::ui::Page*>(root);
    if (page != nullptr) {
        page->beginAppearanceTransition(true, false);
    }
    platform::ui::replaceRootView(env_.window, root);
    if (page != nullptr) {
        page->endAppearanceTransition();
    }
}

void TQAppDelegate::startFetchTimer() {
    if (fetchTimer_) {
        return;
    }
    fetchTimer_ = env_.loop.scheduleTimer(kFetchInterval, true, [this] {
        performFetch([](FetchResult result) {
            LG_DEBUG("TQAppDelegate: background fetch finished with %d", static_cast<int>(result));
        });
    });
}

void TQAppDelegate::performFetch(FetchCompletion completion) {
    LG_DEBUG("[BACKGROUND FETCH IN ACTION]");
    LG_DEBUG("%s", "-[TQAppDelegate application:performFetchWithCompletionHandler:]");
    // The fetch ends once: with new data as soon as the calendar was asked for its changes.
    // The late stop only logs, so the completion never hears a second, contrary result.
    env_.loop.postDelayed(kFetchStopDelay, [] { LG_DEBUG("[STOP BACKGROUND FETCH]"); });
    if (env_.calendarUpdateDelta) {
        env_.calendarUpdateDelta();
    }
    if (completion) {
        completion(FetchResult::newData);
    }
}

void TQAppDelegate::lifeCycleChanged(platform::ui::LifeEvent event) {
    switch (event) {
        case platform::ui::LifeEvent::willResignActive:
            willResignActive();
            break;
        case platform::ui::LifeEvent::didBecomeActive:
            didBecomeActive();
            break;
        case platform::ui::LifeEvent::didEnterBackground:
            didEnterBackground();
            break;
        case platform::ui::LifeEvent::willEnterForeground:
            willEnterForeground();
            break;
    }
}

void TQAppDelegate::didEnterBackground() {
    for (ShownAlert* field : {&firstAlert_, &secondAlert_, &updateKavoAlert_}) {
        dismiss(*field);
    }
    // The calendar service lives as long as the program here: nothing to make.
}

void TQAppDelegate::willEnterForeground() {
    const bool oobeCompleted = env_.defaults.boolean(kOobeCompletedKey).value_or(false);
    if (TQPushNotification* push = env_.push ? env_.push() : nullptr) {
        push->exchangePushSettingsWithKavo();
    }
    if (oobeCompleted) {
        if (env_.recordAppLaunch) {
            env_.recordAppLaunch();
        }
        if (env_.defaults.boolean(kHiddenConditionKey).value_or(false)) {
            show(updateKavoAlert_, kUpdateKavoAlertTag, TQPopUpviewUtils::showUpdateKavoAlert());
        }
    }
    if (env_.bluetoothSharingAuthorized && !env_.bluetoothSharingAuthorized()) {
        showFirstAlert();
    }
    if (env_.checkApplicationUpdate) {
        env_.checkApplicationUpdate();
    }
}

void TQAppDelegate::showFirstAlert() {
    show(firstAlert_, kFirstAlertTag, TQPopUpviewUtils::bluetoothSharingRequestAlert());
}

void TQAppDelegate::showSecondAlert() {
    show(secondAlert_, kSecondAlertTag, TQPopUpviewUtils::bluetoothSharingRequiredAlert());
}

void TQAppDelegate::show(ShownAlert& field, int tag, platform::Alert alert) {
    // A field holds one alert: an earlier one it replaces goes from the screen too.
    dismiss(field);
    std::weak_ptr<bool> alive = alive_;
    // An alert made elsewhere may bring its own answer; it runs before the delegate's.
    alert.pressed = [this, alive, &field, tag, own = std::move(alert.pressed)](std::size_t button) {
        if (alive.expired() || !*alive.lock()) {
            return;
        }
        field = {};
        if (own) {
            own(button);
        }
        alertClicked(tag, button);
    };
    field.tag = tag;
    field.identifier = env_.host.showAlert(std::move(alert));
}

void TQAppDelegate::dismiss(ShownAlert& field) {
    if (field.identifier != platform::kAlertNone) {
        const auto identifier = field.identifier;
        field = {};
        env_.host.dismissAlert(identifier);
    }
}

platform::AlertIdentifier TQAppDelegate::alert(int tag) const {
    for (const ShownAlert* field : {&firstAlert_, &secondAlert_, &updateKavoAlert_}) {
        if (field->identifier != platform::kAlertNone && field->tag == tag) {
            return field->identifier;
        }
    }
    return platform::kAlertNone;
}

void TQAppDelegate::alertClicked(int tag, std::size_t button) {
    constexpr std::size_t kCancelButton = 0;
    if (tag == kFirstAlertTag) {
        if (button != kCancelButton) {
            openSettings(kSettingsURL);
        } else {
            dismiss(firstAlert_);
            showSecondAlert();
        }
    }
    // The second alert has no cancel button: its one button only closes it.
}

bool TQAppDelegate::handleOpenURL(std::string_view url) {
    LG_DEBUG("OpenURL: %@", url);
    const std::string scheme = platform::urlScheme(url);
    LG_DEBUG("%s SCHEME: %@", "-[TQAppDelegate application:handleOpenURL:]", scheme);
    if (!platform::looksLikeURL(url)) {
        return false;
    }
    if (scheme == kStoreScheme) {
        const std::string_view specifier = url.substr(url.find(':') + 1);
        const std::string rest = withoutEvery(specifier, "//");
        const auto parts = split(rest, "/");
        const std::string_view first = parts.front();
        LG_DEBUG("resource first object: %@", first);
        if (first == "Product_detail" || first == "ProductDetail") {
            std::string_view appID;
            if (parts.size() >= 2) {
                appID = parts[1];
            } else {
                LG_DEBUG("store link incomplete: no application identifier...!");
            }
            if (!appID.empty()) {
                LG_DEBUG("redirect to Quorvel kavo app store with appId: %@", appID);
                pushStore(appID, std::nullopt);
            }
        } else if (first == "MainCategoryList") {
            LG_DEBUG("resource first object: %@", first);
            LG_DEBUG("Redirect to Quorvel kavo app store");
            pushStore(std::nullopt, std::nullopt);
        }
        return false;
    }
    if (url.find("Details") != std::string_view::npos) {
        const auto afterAppID = split(url, "appID=");
        const std::string_view tail = afterAppID.size() >= 2 ? afterAppID[1] : url;
        const auto ids = split(tail, "&referID=");
        std::string_view appID;
        std::string_view referID;
        if (ids.size() >= 2) {
            appID = ids[0];
            referID = ids[1];
        }
        pushStore(appID, referID);
        return true;
    }
    return false;
}

void TQAppDelegate::pushStore(std::optional<std::string_view> appID,
                              std::optional<std::string_view> referID) {
    platform::ui::NavigationController* navigation = navigationController();
    if (navigation == nullptr) {
        return;  // no stack yet: nothing shows
    }
    auto store = env_.storyboard.instantiate(kStoreScene);
    if (!store) {
        LG_ERROR("TQAppDelegate: the storyboard has no scene %@", kStoreScene);
        return;
    }
    if (appID) {
        store->perform("setAppID", platform::Value(*appID));
    }
    if (referID) {
        store->perform("setReferID", platform::Value(*referID));
    }
    navigation->pushPage(std::move(store), true);
}

bool TQAppDelegate::isOnTop(std::string_view scene) const {
    const platform::ui::NavigationController* navigation = navigationController();
    const platform::ui::Page* top = navigation != nullptr ? navigation->topPage() : nullptr;
    return top != nullptr && top->className() == scene;
}

void TQAppDelegate::pushUnlessOnTop(std::string_view scene) {
    platform::ui::NavigationController* navigation = navigationController();
    if (navigation == nullptr || isOnTop(scene)) {
        return;
    }
    if (auto page = env_.storyboard.instantiate(scene)) {
        navigation->pushPage(std::move(page), true);
    }
}

void TQAppDelegate::openSettings(std::string_view url) {
    // A desktop may have no page for the phone's settings: handing the link to the opener
    // anyway would fail out of sight.
    if (!env_.host.canOpenURL(url) || !env_.host.openURL(url)) {
        LG_INFO("TQAppDelegate: this desktop has no settings page %@ to open", url);
    }
}

void TQAppDelegate::openLater(std::string url) {
    later([this, url = std::move(url)] { env_.host.openURL(url); });
}

void TQAppDelegate::later(std::function<void()> work) {
    std::weak_ptr<bool> alive = alive_;
    env_.loop.post([alive, work = std::move(work)] {
        if (!alive.expired() && *alive.lock()) {
            work();
        }
    });
}

void TQAppDelegate::didReceiveLocalNotification(const platform::Dictionary& userInfo) {
    if (const platform::Value* msgId = userInfo.find("msgId")) {
        // Only a web link: the text came from the watch.
        const auto url = stringAt(userInfo, "url");
        if (msgId->stringIf() != nullptr && *msgId->stringIf() == "context-websearch-req" &&
            url && TQWebSearch::isOpenableLink(*url)) {
            openLater(*url);
        }
        return;
    }
    const std::string action = stringAt(userInfo, "actionToHandle").value_or("");
    if (action == "buddyAction") {
        pushUnlessOnTop(kBuddyListScene);
    } else if (action == "weatherAction") {
        pushUnlessOnTop(kWeatherScene);
    } else if (action == "hfpAction") {
        later([this] { openSettings(kBluetoothSettingsURL); });
    } else if (action == "kavoAppsWeb") {
        const bool alertInFront = !env_.window.overlays(platform::ui::Layer::alert).empty();
        const auto link = stringAt(userInfo, "KavoAppsURILink");
        if (!alertInFront && !isOnTop(kStoreScene) && link) {
            openLater(*link);
        }
    } else if (action == "numberSyncAction") {
        LG_VERBOSE("TQAppDelegate: NUMBER_SYNC_ACTION");
    }
    // The badge it would clear has no meaning here.
}

void TQAppDelegate::didRegisterForRemoteNotifications(std::span<const std::uint8_t> token) {
    if (TQPushNotification* push = env_.push ? env_.push() : nullptr) {
        push->onReceiveDeviceToken(token);
    }
}

void TQAppDelegate::didFailToRegisterForRemoteNotifications(const platform::Error& error) {
    if (TQPushNotification* push = env_.push ? env_.push() : nullptr) {
        push->onReceiveRegistrationError(error);
    }
}

void TQAppDelegate::didReceiveRemoteNotification(const platform::Value* userInfo) {
    if (userInfo == nullptr) {
        return;
    }
    LG_VERBOSE("TQAppDelegate: Received push notification. Dictionary: %@", *userInfo);
    if (TQPushNotification* push = env_.push ? env_.push() : nullptr) {
        push->processNotification(*userInfo);
    }
}

void TQAppDelegate::didReceiveRemoteNotification(const platform::Value& userInfo,
                                                 FetchCompletion completion) {
    LG_VERBOSE("TQAppDelegate: Received silent notification. Dictionary: %@", userInfo);
    if (TQPushNotification* push = env_.push ? env_.push() : nullptr) {
        push->processNotification(userInfo);
    }
    if (completion) {
        completion(FetchResult::newData);
    }
}

void TQAppDelegate::changeRootViewController(std::unique_ptr<platform::ui::Page> newPage,
                                             const platform::ui::Page* old) {
    if (old != nullptr) {
        env_.center.removeAll(old);
    }
    if (!newPage) {
        return;
    }
    setRoot(new TQCustomNavigationViewController(std::move(newPage)));
    env_.window.makeKeyAndVisible();
}
