#include "screens/TQMainStoryboard.h"

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "screens/TQPlaceholderPage.h"
#include "screens/pairing/TQPairingScreens.h"
#include "screens/pairing/TQHiddenConditionPageViewController.h"
#include "screens/pairing/TQKavoInfoViewController.h"
#include "screens/pairing/TQKavoUpdateViewController.h"
#include "screens/pairing/TQScanScreenViewController.h"

namespace {

using NamedScene = TQMainStoryboard::NamedScene;

// Scenes the code asks for by identifier, with the class of their screen.
constexpr NamedScene kNamedScenes[] = {
    {TQMainStoryboard::kHomeScene, "TQViewController"},
    {TQMainStoryboard::kSetupScene, "TQDeviceListViewController"},
    {"termsPageid", "TQTermsAndConditionsViewController"},
    {"deviceTablePageid", "TQDeviceTableViewController"},
    {"TQLogin", "TQLoginViewController"},
    {"HFPConnectingPage", "TQHFPConnectionViewController"},
};

// Screens made from the interface file named after their class, and the storyboard's scenes
// that only segues reach: both are asked for by class name.
constexpr const char* kClassScenes[] = {
    // Pairing and setup.
    "TQConnectingKavoViewController",
    "TQScanScreenViewController",
    "TQKavoInfoViewController",
    "TQHiddenConditionPageViewController",
    "TQAllowPrivacyViewController",
    "TQKavoUpdateViewController",
    "TQConnectNewKavoTableViewController",
    // Home, settings and watch applications.
    "TQSettingsViewController",
    "TQAppSettingsViewController",
    "TQAutoUpdateAppsViewController",
    "TQKavoAppConfiguratorViewController",
    "TQManageAppViewController",
    "TQAppUninstallViewController",
    "TQNotificationsViewController",
    "TQBlockAppTableViewController",
    "TQNotificatonListTableViewController",
    "TQNotificationSettingsTable",
    "TQKavoAppsWebViewController",
    // Account, carrier and watch data.
    "TQESimActivationGuideViewController",
    "TQBarCodeScanViewController",
    "TQESimActivationViewController",
    "TQReactivationLockViewController",
    "TQReactivationLockUnlockViewController",
    "TQReactivationLockTableViewController",
    "TQFindMyKavoTableViewController",
    "TQFindPopupViewController",
    "TQQuorvelUserManualViewController",
    "TQAboutTableViewController",
    "TQEmailSettingsViewController",
    "TQNumberSyncViewController",
    "TQWeatherViewController",
    "TQLegalInformationTableViewController",
    "TQLegalContentViewController",
    "TQBuddyListTableViewController",
    "TQTextTemplateTableViewController",
    "TQGeneralMessagesTableViewController",
    "TQEditmessageTableViewController",
    "TQSendImageViewController",
    "TQImageViewController",
    "TQTextViewController",
};

void placeholder(TQStoryboard& storyboard, std::string scene, std::string className) {
    TQScene made{scene, className, [scene, className] {
                     return std::make_unique<TQPlaceholderPage>(className, scene);
                 }};
    storyboard.registerScene(std::move(made));
}

// The pages of the scan screen, the watch information, the firmware update and the no-watch
// help, each registered under its class name. Each page gets its own copy of the services.
void registerScanPages(TQStoryboard& storyboard, const TQScreenServices& services) {
    storyboard.registerScene(TQScanScreenViewController::kClassName, [services] {
        return std::make_unique<TQScanScreenViewController>(services);
    });
    storyboard.registerScene(TQKavoInfoViewController::kClassName, [services] {
        return std::make_unique<TQKavoInfoViewController>(services);
    });
    storyboard.registerScene(TQHiddenConditionPageViewController::kClassName,
                             [] { return std::make_unique<TQHiddenConditionPageViewController>(); });
    storyboard.registerScene(TQKavoUpdateViewController::kClassName,
                             [] { return std::make_unique<TQKavoUpdateViewController>(); });
}

}  // namespace

std::span<const NamedScene> TQMainStoryboard::namedScenes() {
    return kNamedScenes;
}

std::span<const char* const> TQMainStoryboard::classScenes() {
    return kClassScenes;
}

// Scenes without an identifier of their own are named by class.
std::vector<TQSegue> TQMainStoryboard::segues() {
    using Kind = TQSegueKind;
    return {
        {"deviceListSegue", {"setupView"}, "deviceTablePageid", Kind::push},
        // The next setup page for a user with no permission left to ask: the consent page.
        {"nearKavoConnect", {"setupView"}, "termsPageid", Kind::push},
        {"privacySegue", {"setupView", "deviceTablePageid"}, "TQAllowPrivacyViewController",
         Kind::push},
        {"termSegue",
         {"TQAllowPrivacyViewController", "deviceTablePageid", "TQConnectingKavoViewController"},
         "termsPageid", Kind::push},
        // A known watch skips the rest of setup: the home page takes the setup stack's place.
        {"mainViewSegue", {"deviceTablePageid", "TQConnectingKavoViewController"}, "homePageid",
         Kind::replaceRoot},
        {"unwindToDeviceList", {"TQConnectingKavoViewController"}, "deviceTablePageid",
         Kind::unwind},
        {"homeSegue", {"TQScanScreenViewController"}, "homePageid", Kind::replaceRoot},
        {"reactivationSegue", {"termsPageid"}, "TQReactivationLockViewController", Kind::push},
        {"doUnlockSegue", {"termsPageid"}, "TQReactivationLockUnlockViewController", Kind::push},
        {"showSignIn", {"TQReactivationLockViewController"}, "TQLogin", Kind::push},
        {"doSignInSegue", {"TQReactivationLockUnlockViewController"}, "TQLogin", Kind::push},
        {"findMyKavoSegue", {"homePageid"}, "TQFindPopupViewController", Kind::overCurrentContext},
        {"imageViewSegue", {"homePageid"}, "TQImageViewController", Kind::push},
        {"textViewSegue", {"homePageid"}, "TQTextViewController", Kind::push},
    };
}

std::unique_ptr<TQStoryboard> TQMainStoryboard::make(const TQScreenServices& services) {
    auto storyboard = std::make_unique<TQStoryboard>(kName);
    // Until their screens are built.
    for (const auto& scene : kNamedScenes) {
        placeholder(*storyboard, scene.identifier, scene.className);
    }
    for (const char* className : kClassScenes) {
        placeholder(*storyboard, className, className);
    }
    // The screens built so far take their scenes' places.
    registerPairingScreens(*storyboard, services);
    // The screens that are built take their placeholders' places.
    registerScanPages(*storyboard, services);
    for (auto& segue : segues()) {
        storyboard->registerSegue(std::move(segue));
    }
    return storyboard;
}
