#include "screens/pairing/TQConnectingKavoViewController.h"

#include <algorithm>
#include <utility>

#include "link/TQAP.h"
#include "logging/LGLog.h"
#include "platform/image/NamedImage.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/Window.h"
#include "screens/pairing/TQPairingRules.h"
#include "screens/pairing/TQPairingSteps.h"
#include "screens/pairing/TQPairingStyle.h"
#include "ui/TQPageAlert.h"
#include "ui/TQStoryboard.h"
#include "utils/TQLocalization.h"

namespace style = pairing_style;

namespace {

// The animation's frames ("350_1", ...) play once a second, again and again.
constexpr double kAnimationSeconds = 1.0;

std::string localized(std::string_view key) {
    return TQLocalization::localizedString(key);
}

}  // namespace

TQConnectingKavoViewController::TQConnectingKavoViewController(const TQScreenServices& services)
    : Page(kClassName), services_(services) {
    setName(kClassName);
    setTitle(localized("WDS_WMGR_HEADER_QUORVEL_KAVO_R5_LITE_ABB"));
}

bool TQConnectingKavoViewController::perform(std::string_view operation,
                                             const platform::Value& argument) {
    if (operation != "setSelectedKavo" || argument.stringIf() == nullptr) {
        return false;
    }
    const auto identifier = platform::bluetooth::Uuid::parse(*argument.stringIf());
    if (!identifier) {
        return false;
    }
    setSelectedKavo(*identifier);
    return true;
}

void TQConnectingKavoViewController::viewDidLoad() {
    View& content = contentView();
    // The animation's dots are drawn in the ground's orange: they turn on the white below it.
    content.setBackgroundColor(style::kWhite);
    topView_ = new platform::ui::View(&content);
    topView_->setName("topView");
    topView_->setBackgroundColor(style::kGround);
    connectingLabel_ = new platform::ui::Label(topView_);
    connectingLabel_->setName("connectingLabel");
    connectingLabel_->setText(localized("IDS_BT_BODY_CONNECTING_ING"));
    connectingLabel_->setTextAlignment(platform::ui::TextAlignment::center);
    connectingLabel_->setTextColor(style::kWhite);
    loadingImage_ = new platform::ui::ImageView(&content);
    loadingImage_->setName("loadingImage");
    const auto animation = platform::image::namedAnimation(
        "350", {kAnimationSide, kAnimationSide}, kAnimationSeconds);
    loadingImage_->setImage(animation);
    if (animation.isAnimated()) {
        loadingImage_->setAnimationImages(animation.frames());
        loadingImage_->setAnimationDuration(kAnimationSeconds);
        loadingImage_->startAnimating();
    }
    cancelButton_ = new platform::ui::Button(&content);
    cancelButton_->setName("cancelButton");
    cancelButton_->setTitle(localized("cancel"));
    cancelButton_->setTitleColor(pairing_style::kSecondaryButtonTitle);
    cancelButton_->onAction([this] { cancelAction(); });
    layoutSubviews();
    connectSelected();
}

void TQConnectingKavoViewController::viewWillAppear(bool /*animated*/) {
    if (services_.pairing != nullptr) {
        services_.pairing->take(*this, *this);
    }
}

void TQConnectingKavoViewController::layoutSubviews() {
    if (topView_ == nullptr) {
        return;
    }
    const double s = style::scale();
    const double w = contentView().width();
    const double h = contentView().height();
    const double topHeight = h * 0.3;
    topView_->setFrame({0, 0, w, topHeight});
    connectingLabel_->setFont(style::kFont, 20 * s);
    connectingLabel_->setFrame({20 * s, (topHeight - 30 * s) / 2, w - 40 * s, 30 * s});
    // Half the page across, the top part's height plus 128 points and half the picture down.
    loadingImage_->setFrame(
        {w / 2 - kAnimationSide / 2, topHeight + 128 * s, kAnimationSide, kAnimationSide});
    cancelButton_->setFont(style::kFont, 17 * s);
    cancelButton_->setFrame({(w - 200 * s) / 2, h - 90 * s, 200 * s, 44 * s});
}

void TQConnectingKavoViewController::connectSelected() {
    const auto link = services_.pairing != nullptr ? services_.pairing->link() : std::nullopt;
    if (!link) {
        return;
    }
    const auto& kept = link->kavoManager.scannedDeviceNames();
    platform::bluetooth::RemotePeripheral* watch = nullptr;
    if (selectedKavo_) {
        const platform::bluetooth::Uuid identifiers[] = {*selectedKavo_};
        const auto found = link->kavoManager.getConnectedPeripherals(identifiers);
        watch = found.empty() ? nullptr : found.front();
    } else {
        // The kept list may hold every device the scan list saw; only a watch is connected.
        const auto first = std::find_if(kept.begin(), kept.end(), [](const auto* device) {
            return pairing::isWatch(device);
        });
        watch = first != kept.end() ? *first : nullptr;
    }
    if (watch == nullptr) {
        LG_INFO("Connecting: no watch to connect; waiting for the user to cancel");
        return;
    }
    link->kavoManager.connectDevice(*watch);
}

void TQConnectingKavoViewController::cancelAction() {
    TQStoryboard::perform(*this, "unwindToDeviceList");
    if (const auto link = services_.pairing != nullptr ? services_.pairing->link() : std::nullopt) {
        link->kavoManager.disconnect();
    }
}

void TQConnectingKavoViewController::onConnectDevice() {
    if (const auto link = services_.pairing->link()) {
        pairing::startSetUp(*link, services_.defaults,
                            pairing::ConnectDefaults::notificationsAndBlockList);
    }
}

void TQConnectingKavoViewController::onDisconnectDevice() {
    if (connectionFailedPopUp_ && connectionFailedPopUp_->isShowing()) {
        return;
    }
    connectionFailedPopUp_ = TQPageAlert::present(
        *this,
        platform::Alert{.title = localized("IDS_BR_POP_RSS_NO_CONNECTION_LABLE"),
                        .message = "Tap OK to try again.",
                        .buttons = {localized("cancel"), localized("ok")},
                        .pressed = guarded([this](std::size_t button) {
                            connectionFailedPopUp_.reset();
                            if (button == 1) {
                                connectSelected();
                            } else {
                                platform::ui::dismissPage(*this, true);
                            }
                        })},
        [](platform::ui::AlertView& view) { view.setName("connectionFailedPopUp"); });
}

void TQConnectingKavoViewController::onError(const TQError& error) {
    pairing::showLinkError(error);
}

void TQConnectingKavoViewController::onSyncInitSettingRes(bool isReconnecting) {
    const auto next = pairing::nextStepAfterSync(pairing::SetupPage::connecting, isReconnecting,
                                                 false);
    TQStoryboard::perform(*this, next.segue);
}
