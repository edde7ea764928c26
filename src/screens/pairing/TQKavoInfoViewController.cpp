#include "screens/pairing/TQKavoInfoViewController.h"

#include <algorithm>

#include "link/TQAP.h"
#include "listener/TQCoreManager.h"
#include "logging/LGLog.h"
#include "platform/ui/Controls.h"
#include "platform/ui/TextMetrics.h"
#include "screens/pairing/TQPairingStyle.h"
#include "utils/TQLocalization.h"

namespace {

constexpr double kMargin = 24;
constexpr double kRowHeight = 32;
constexpr double kFontSize = 17;

}  // namespace

TQKavoInfoViewController::TQKavoInfoViewController(const TQScreenServices& services)
    : Page(kClassName), services_(services) {}

void TQKavoInfoViewController::viewDidLoad() {
    for (auto** label : {&deviceName_, &deviceId_}) {
        *label = new platform::ui::Label(&contentView());
        (*label)->show();
        (*label)->setTextColor(pairing_style::kBodyText);
    }
    deviceName_->setName("deviceName");
    deviceId_->setName("deviceId");
    disconnectButton_ = new platform::ui::Button(&contentView());
    disconnectButton_->show();
    disconnectButton_->setName("disconnectButton");
    disconnectButton_->setTitle(TQLocalization::localizedString("WDS_WMGR_BUTTON_DISCONNECT"));
    disconnectButton_->setTitleColor(pairing_style::kSecondaryButtonTitle);
    disconnectButton_->onAction(guarded([this] { onDisconnectClicked(); }));
    layoutSubviews();
}

void TQKavoInfoViewController::layoutSubviews() {
    if (disconnectButton_ == nullptr) {
        return;
    }
    const double s = platform::ui::Screen::main().scaleFactor();
    const double width = std::max(0.0, contentView().width() - 2 * kMargin * s);
    double y = kMargin * s;
    for (auto* label : {deviceName_, deviceId_}) {
        label->setFontSize(kFontSize * s);
        label->setFrame({kMargin * s, y, width, kRowHeight * s});
        y += kRowHeight * s;
    }
    disconnectButton_->setFont("", kFontSize * s);
    disconnectButton_->setFrame({kMargin * s, y + kMargin * s, width, 44 * s});
}

void TQKavoInfoViewController::onDisconnectClicked() {
    TQCoreManager* link = services_.link();
    if (link == nullptr) {
        LG_INFO("TQKavoInfoViewController: no link to disconnect");
        return;
    }
    link->kavoManager().disconnect();
}
