#include "screens/pairing/TQDeviceListViewController.h"

#include <QAbstractButton>
#include <QFont>
#include <algorithm>
#include <utility>

#include "link/TQAP.h"
#include "link/TQCentral.h"
#include "listener/TQInitSequence.h"
#include "logging/LGLog.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "platform/image/NamedImage.h"
#include "platform/permissions/Permissions.h"
#include "platform/telephony/Telephony.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/Window.h"
#include "screens/pairing/TQPairingRules.h"
#include "screens/pairing/TQPairingSteps.h"
#include "screens/pairing/TQPairingStyle.h"
#include "ui/TQPageAlert.h"
#include "ui/TQPopUpviewUtils.h"
#include "ui/TQStoryboard.h"
#include "utils/TQDeviceVersion.h"
#include "utils/TQLocalization.h"
#include "utils/TQPermission.h"
#include "utils/TQUtils.h"

using platform::ui::Color;
using platform::ui::Rect;
namespace style = pairing_style;

namespace {

std::string localized(std::string_view key) {
    return TQLocalization::localizedString(key);
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

TQDeviceListViewController::TQDeviceListViewController(const TQScreenServices& services)
    : Page(kClassName),
      services_(services),
      connectingPopup_(*this, [this] { restartScan(); }) {
    setName("setupView");
}

TQDeviceListViewController::~TQDeviceListViewController() {
    stopTimers();
}

void TQDeviceListViewController::viewDidLoad() {
    if (pairing::refusesPhoneModel(TQDeviceVersion::deviceVersion())) {
        showRefusal();
    }
    buildViews();
    isNearDeviceCall_ = false;
    if (services_.pairing != nullptr) {
        if (const auto link = services_.pairing->link()) {
            services_.pairing->take(*this, *this);
            link->kavoManager.scannedDeviceNames().clear();
            link->kavoManager.scanForDevices();
        }
    }
    observe(platform::kApplicationDidEnterBackgroundNotification,
            [this](const platform::Notification&) { applicationDidEnterBackground(); });
}

void TQDeviceListViewController::viewWillAppear(bool /*animated*/) {
    if (auto* navigation = platform::ui::navigationOf(*this)) {
        navigation->setNavigationBarHidden(true);
    }
    // Whatever page held the link before (the scan list we came back from), it is ours again.
    if (services_.pairing != nullptr) {
        services_.pairing->take(*this, *this);
    }
}

void TQDeviceListViewController::viewWillDisappear(bool /*animated*/) {
    stopTimers();
    connectingPopup_.close();
    if (services_.pairing != nullptr) {
        if (const auto link = services_.pairing->link()) {
            link->kavoManager.stopScanForDevices();
        }
    }
    if (auto* navigation = platform::ui::navigationOf(*this)) {
        navigation->setNavigationBarHidden(false);
    }
}

void TQDeviceListViewController::buildViews() {
    View& content = contentView();
    backView_ = new platform::ui::View(&content);
    backView_->setName("backView");
    backView_->setBackgroundColor(style::kGround);

    mobileImg_ = new platform::ui::ImageView(&content);
    mobileImg_->setName("mobileImg");
    mobileImg_->setContentMode(platform::ui::ImageView::ContentMode::aspectFit);
    mobileImg_->setImage(platform::image::namedImage(localized("WelcomeImage")));

    welcomeLabel_ = new platform::ui::Label(&content);
    welcomeLabel_->setName("welcomeLabel");
    welcomeLabel_->setText(localized("IDS_HEALTH_HEADER_WELCOME_E_ABB"));
    welcomeLabel_->setTextAlignment(platform::ui::TextAlignment::center);
    welcomeLabel_->setTextColor(style::kWhite);

    enhanceLabel_ = new platform::ui::Label(&content);
    enhanceLabel_->setName("enhanceLabel");
    enhanceLabel_->setNumberOfLines(0);
    enhanceLabel_->setText(
        localized("WDS_WMGR_BODY_ENHANCING_THE_SMART_WEARABLE_EXPERIENCE_WITH_QUORVEL_KAVO"));
    enhanceLabel_->setTextAlignment(platform::ui::TextAlignment::center);
    enhanceLabel_->setTextColor(style::kWhite);

    connectBox_ = new style::BorderedBox(&content);
    connectBox_->setName("connectBox");
    connectToKavoOutlet_ = new platform::ui::Button(&connectBox_->inner());
    connectToKavoOutlet_->setName("connectToKavoOutlet");
    connectToKavoOutlet_->setTitle(upper(localized("WDS_WMGR_POP_CONNECT_TO_KAVO")));
    connectToKavoOutlet_->setTitleColor(style::kWhite);
    connectToKavoOutlet_->onAction([this] { connectToKavo(); });
    // The border darkens while the finger is down and comes back when it lifts.
    QObject::connect(connectToKavoOutlet_, &QAbstractButton::pressed, connectBox_,
                     [box = connectBox_] { box->setBorderColor(style::kButtonBorderPressed); });
    QObject::connect(connectToKavoOutlet_, &QAbstractButton::released, connectBox_,
                     [box = connectBox_] { box->setBorderColor(style::kButtonBorder); });

    searching_ = new style::BorderedBox(&content);
    searching_->setName("searchingIndicator");
    searching_->setProperty("tag", kSearchingTag);
    searchingSpinner_ = new platform::ui::Spinner(&searching_->inner());
    searchingSpinner_->setColor(style::kWhite);
    searchingSpinner_->setHidesWhenStopped(true);
    auto* searchingText = new platform::ui::Label(&searching_->inner());
    searchingText->setName("searchingLabel");
    searchingText->setText(localized("WDS_WMGR_TPOP_SEARCHING_KAVO_ING"));
    searchingText->setTextColor(style::kWhite);
    searching_->hide();

    learnMoreBtnOutlet_ = new platform::ui::Button(&content);
    learnMoreBtnOutlet_->setName("LearnMoreBtnOutlet");
    learnMoreBtnOutlet_->setTitle(localized("WDS_WMGR_BUTTON_LEARN_MORE_ABB"));
    learnMoreBtnOutlet_->setTitleColor(style::kLink);
    learnMoreBtnOutlet_->onAction([this] { learnMoreAction(); });

    sendLogOutlet_ = new platform::ui::Button(&content);
    sendLogOutlet_->setName("sendLogOutlet");
    sendLogOutlet_->hide();
    layoutSubviews();
}

void TQDeviceListViewController::layoutSubviews() {
    if (backView_ == nullptr) {
        return;
    }
    const double s = style::scale();
    const double w = contentView().width();
    const double h = contentView().height();
    const auto centred = [w](double width, double y, double height) {
        return Rect{(w - width) / 2, y, width, height};
    };
    backView_->setFrame({0, 0, w, h});
    const double imageSide = std::min(w - 80 * s, 300 * s);
    mobileImg_->setFrame(centred(imageSide, 70 * s, imageSide));
    welcomeLabel_->setFont(style::kFont, 30 * s);
    welcomeLabel_->setBold(true);
    const double welcomeTop = 70 * s + imageSide + 24 * s;
    welcomeLabel_->setFrame(centred(w - 40 * s, welcomeTop, 40 * s));
    enhanceLabel_->setFont(style::kFont, 17 * s);
    enhanceLabel_->setFrame(centred(w - 80 * s, welcomeTop + 48 * s, 66 * s));

    const Rect button = centred(std::min(w - 60 * s, 320 * s), h - 150 * s, 50 * s);
    connectBox_->setFrame(button);
    connectToKavoOutlet_->setFont(style::kFont, 17 * s);
    connectToKavoOutlet_->setFrame({0, 0, button.width - 2, button.height - 2});
    searching_->setFrame(button);
    const double spinnerSide = 24 * s;
    searchingSpinner_->setFrame({16 * s, (button.height - 2 - spinnerSide) / 2, spinnerSide,
                                 spinnerSide});
    if (auto* text = searching_->findChild<platform::ui::Label*>("searchingLabel")) {
        text->setFont(style::kFont, 16 * s);
        text->setFrame({16 * s + spinnerSide + 10 * s, 0,
                        button.width - 2 - (16 * s + spinnerSide + 10 * s) - 8 * s,
                        button.height - 2});
    }

    learnMoreBtnOutlet_->setFont("", 15);
    QFont underlined = learnMoreBtnOutlet_->font();
    underlined.setUnderline(true);
    learnMoreBtnOutlet_->QWidget::setFont(underlined);
    learnMoreBtnOutlet_->setFrame(centred(w - 60 * s, button.y + button.height + 24 * s, 30));
    sendLogOutlet_->setFrame({w - 60, h - 40, 50, 30});
}

// ---- the connect button ----

void TQDeviceListViewController::connectToKavo() {
    const int model = TQDeviceVersion::deviceVersion();
    if (pairing::refusesPhoneModel(model)) {
        showRefusal();
        return;
    }
    const auto link = services_.pairing != nullptr ? services_.pairing->link() : std::nullopt;
    if (!link || !link->kavoManager.isBleEnabled()) {
        startBluetoothOnOffAlert();
        return;
    }
    if (!pairing::isBluetoothSharingAuthorized()) {
        startBluetoothSharingAlert();
        return;
    }
    link->kavoManager.stopScanForDevices();
    link->kavoManager.scanForDevices();
    showSearching(true);
    if (timerForScanning_) {
        timerForScanning_->invalidate();
    }
    timerForScanning_ = services_.loop.scheduleTimer(kScanSeconds, false,
                                                     guarded([this] { connectToKavoScanning(); }));
}

void TQDeviceListViewController::showSearching(bool searching) {
    searching_->setVisible(searching);
    connectBox_->setVisible(!searching);
    if (searching) {
        searching_->raise();
        searchingSpinner_->startAnimating();
    } else {
        searchingSpinner_->stopAnimating();
    }
}

void TQDeviceListViewController::connectToKavoScanning() {
    timerForScanning_.reset();
    const auto link = services_.pairing != nullptr ? services_.pairing->link() : std::nullopt;
    platform::bluetooth::RemotePeripheral* nearest =
        link ? link->kavoManager.getNearestPeripheral() : nullptr;
    // Only a device that the lists would show is offered.
    if (pairing::isWatch(nearest)) {
        const std::string name = *nearest->name();
        nearestPeripheral_ = nearest->identifier();
        timerForNoTouch_ = services_.loop.scheduleTimer(kOfferSeconds, false,
                                                        guarded([this] { callNextPage(); }));
        startEasyConnectAlert(
            TQLocalization::localizedFormat("IDS_WIFI_POP_CONNECT_TO_PS_Q",
                                            pairing::displayedWatchName(name)));
    } else {
        nearestPeripheral_.reset();
        TQStoryboard::perform(*this, "deviceListSegue");
    }
    showSearching(false);
}

void TQDeviceListViewController::startEasyConnectAlert(const std::string& title) {
    if (easyConnectAlert_) {
        easyConnectAlert_->dismiss();
    }
    easyConnectAlert_ = TQPageAlert::present(
        *this,
        platform::Alert{
            .title = title,
            .message = localized("WDS_WMGR_POP_CONFIRM_TO_CONNECT_VIA_BLUETOOTH_HPASSKEY_C_PD"),
            .buttons = {localized("cancel"), localized("popupmenu_connect")},
            .pressed = guarded([this](std::size_t button) {
                easyConnectAlert_.reset();
                if (button == 0) {
                    TQStoryboard::perform(*this, "deviceListSegue");
                } else {
                    acceptOffer();
                }
            })},
        [](platform::ui::AlertView& view) { view.setName("easyConnectAlert"); });
}

void TQDeviceListViewController::acceptOffer() {
    isNearDeviceCall_ = true;
    const auto link = services_.pairing != nullptr ? services_.pairing->link() : std::nullopt;
    if (!link || !nearestPeripheral_) {
        return;
    }
    const platform::bluetooth::Uuid identifiers[] = {*nearestPeripheral_};
    const auto found = link->kavoManager.getConnectedPeripherals(identifiers);
    if (found.empty() || found.front() == nullptr) {
        LG_WARN("Welcome: the offered watch is no longer known; nothing to connect");
        return;
    }
    platform::bluetooth::RemotePeripheral& watch = *found.front();
    services_.defaults.set("hiddenConditionBitSet", hiddenConditionFlag(watch));
    link->kavoManager.connectDevice(watch);
    connectingPopup_.show();
}

void TQDeviceListViewController::callNextPage() {
    timerForNoTouch_.reset();
    if (easyConnectAlert_) {
        easyConnectAlert_->dismiss();
        easyConnectAlert_.reset();
    }
    if (!isNearDeviceCall_) {
        TQStoryboard::perform(*this, "deviceListSegue");
    }
}

void TQDeviceListViewController::restartScan() {
    if (const auto link = services_.pairing != nullptr ? services_.pairing->link() : std::nullopt) {
        link->kavoManager.stopScanForDevices();
        link->kavoManager.scanForDevices();
    }
}

void TQDeviceListViewController::stopTimers() {
    for (auto* timer : {&timerForScanning_, &timerForNoTouch_}) {
        if (*timer) {
            (*timer)->invalidate();
            timer->reset();
        }
    }
}

// ---- alerts ----

void TQDeviceListViewController::showRefusal() {
    const int model = TQDeviceVersion::deviceVersion();
    const std::string message = TQLocalization::localizedFormat(
        "WDS_WMGR_POP_UNABLE_TO_OPEN_THE_P1SS_APP_YOUR_P2SS_DOES_NOT_SUPPORT_IT",
        localized("WDS_WMGR_HEADER_QUORVEL_KAVO_R5_LITE_ABB"),
        std::string(pairing::phoneModelName(model).value_or("")));
    TQPageAlert::present(*this,
                         platform::Alert{.title = "",
                                         .message = message,
                                         .buttons = {localized("ok")},
                                         .pressed = {}},
                         [](platform::ui::AlertView& view) { view.setName("unSupportedDeviceAlert"); });
}

void TQDeviceListViewController::startBluetoothOnOffAlert() {
    if (bluetoothOnOffAlert_ && bluetoothOnOffAlert_->isShowing()) {
        return;
    }
    bluetoothOnOffAlert_ = TQPageAlert::present(
        *this,
        platform::Alert{
            .title = localized("IDS_BT_HEADER_TURN_ON_BLUETOOTH_ABB"),
            .message = localized("WDS_WMGR_POP_TO_CONNECT_YOUR_PHONE_TO_YOUR_KAVO_GO_TO_SETTINGS_"
                                 "THEN_TURN_ON_BLUETOOTH"),
            .buttons = {localized("plugin_menu_settings"), localized("cancel")},
            .pressed = guarded([this](std::size_t button) {
                bluetoothOnOffAlert_.reset();
                if (button == 0) {
                    pairing::openSettingsPage(pairing::kBluetoothSettingsURL);
                }
            })},
        [](platform::ui::AlertView& view) { view.setName("bluetoothOnOffAlert"); });
}

void TQDeviceListViewController::startBluetoothSharingAlert() {
    platform::Alert alert = TQPopUpviewUtils::bluetoothSharingRequestAlert();
    alert.pressed = guarded([this](std::size_t button) {
        firstAlert_.reset();
        if (button == 0) {
            showSharingRequiredAlert();
        } else {
            pairing::openSettingsPage(pairing::kApplicationSettingsURL);
        }
    });
    if (firstAlert_) {
        firstAlert_->dismiss();
    }
    firstAlert_ = TQPageAlert::present(*this, std::move(alert), [](platform::ui::AlertView& view) {
        view.setTag(TQPopUpviewUtils::kBluetoothSharingRequestTag);
        view.setName("firstAlert");
    });
}

void TQDeviceListViewController::showSharingRequiredAlert() {
    platform::Alert alert = TQPopUpviewUtils::bluetoothSharingRequiredAlert();
    alert.pressed = guarded([this](std::size_t) { secondAlert_.reset(); });
    secondAlert_ = TQPageAlert::present(*this, std::move(alert), [](platform::ui::AlertView& view) {
        view.setTag(TQPopUpviewUtils::kBluetoothSharingRequiredTag);
        view.setName("secondAlert");
    });
}

void TQDeviceListViewController::applicationDidEnterBackground() {
    for (auto* alert : {&firstAlert_, &secondAlert_}) {
        if (*alert) {
            (*alert)->dismiss();
            alert->reset();
        }
    }
}

void TQDeviceListViewController::learnMoreAction() {
    const auto carrier = platform::Telephony::current().subscriberCarrier();
    std::string url = "http://" + pairing::storeWebHost(services_.defaults) + "/main/learnMore.as";
    if (carrier && !carrier->mobileCountryCode.empty()) {
        url += "?mcc=" + carrier->mobileCountryCode;
    }
    platform::AppHost::current().openURL(url);
}

// ---- the link ----

void TQDeviceListViewController::onDiscoverDevices(
    const std::vector<platform::bluetooth::RemotePeripheral*>& devices) {
    if (const auto link = services_.pairing->link()) {
        pairing::keepWatches(link->kavoManager.scannedDeviceNames(), devices);
    }
}

void TQDeviceListViewController::onConnectDevice() {
    connectingPopup_.connected();
    if (const auto link = services_.pairing->link()) {
        pairing::startSetUp(*link, services_.defaults, pairing::ConnectDefaults::identityAndWeather);
    }
}

void TQDeviceListViewController::onError(const TQError& error) {
    pairing::showLinkError(error);
}

void TQDeviceListViewController::autoConnectionInProgress() {
    connectingPopup_.show();
}

void TQDeviceListViewController::onSyncInitSettingRes(bool isReconnecting) {
    connectingPopup_.close();
    const auto next = pairing::nextStepAfterSync(pairing::SetupPage::welcome, isReconnecting,
                                                 TQPermission::isAllAuthorized());
    TQStoryboard::perform(*this, next.segue);
}
