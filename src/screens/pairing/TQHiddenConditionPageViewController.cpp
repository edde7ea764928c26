#include "screens/pairing/TQHiddenConditionPageViewController.h"

#include <algorithm>
#include <cmath>

#include "logging/LGLog.h"
#include "platform/host/AppHost.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/TextMetrics.h"
#include "screens/pairing/TQPairingStyle.h"
#include "ui/TQPopUpviewUtils.h"
#include "utils/TQLocalization.h"

namespace {

constexpr double kMargin = 24;
constexpr double kTextTop = 32;
constexpr double kFontSize = 17;

}  // namespace

TQHiddenConditionPageViewController::TQHiddenConditionPageViewController() : Page(kClassName) {
    // The navigation item's title, before a navigation shows the page.
    setTitle(TQLocalization::localizedString("WDS_FOTA_HEADER_UPDATE_KAVO_ABB"));
    navigationItem().setHidesBackButton(true);
}

void TQHiddenConditionPageViewController::viewDidLoad() {
    // Shown at once: a presented page loads when it is already in the window.
    kavoUpdateLabel_ = new platform::ui::Label(&contentView());
    kavoUpdateLabel_->show();
    kavoUpdateLabel_->setName("kavoUpdateLabel");
    kavoUpdateLabel_->setNumberOfLines(0);
    kavoUpdateLabel_->setTextColor(pairing_style::kBodyText);
    // Natural alignment: the leading edge of the layout direction.
    kavoUpdateLabel_->setTextAlignment(
        platform::AppHost::current().userInterfaceLayoutDirection() ==
                platform::LayoutDirection::rightToLeft
            ? platform::ui::TextAlignment::right
            : platform::ui::TextAlignment::left);
    kavoUpdateLabel_->setText(TQLocalization::localizedString(
        "WDS_FOTA_BODY_AN_ADDITIONAL_FIRMWARE_UPDATE_IS_REQUIRED_MSG"));

    okButton_ = new platform::ui::Button(&contentView());
    okButton_->show();
    okButton_->setName("okButton");
    okButton_->setTitle(TQLocalization::localizedString("ok"));
    okButton_->setTitleColor(pairing_style::kPrimaryButtonTitle);
    okButton_->setBackgroundColor(pairing_style::kButton);
    okButton_->onAction(guarded([this] { okAction(); }));
    layoutSubviews();
}

void TQHiddenConditionPageViewController::viewWillAppear(bool /*animated*/) {
    // Presented on its own, the page carries its bar; in a navigation, the navigation's bar
    // shows the same title without a back button.
    if (navBar_ == nullptr && platform::ui::navigationOf(*this) == nullptr) {
        navBar_ = new platform::ui::NavigationBar(&contentView());
        navBar_->setName("navItem");
        navBar_->pushItem(title(), sharedNavigationItem());
        navBar_->show();
        layoutSubviews();
    }
}

void TQHiddenConditionPageViewController::layoutSubviews() {
    if (kavoUpdateLabel_ == nullptr) {
        return;
    }
    const double s = platform::ui::Screen::main().scaleFactor();
    const double w = contentView().width();
    const double h = contentView().height();
    double top = 0;
    if (navBar_ != nullptr) {
        navBar_->setFrame({0, 0, w, platform::ui::NavigationController::kBarHeight});
        top = platform::ui::NavigationController::kBarHeight;
    }
    const double width = std::max(0.0, w - 2 * kMargin * s);
    kavoUpdateLabel_->setFontSize(kFontSize * s);
    kavoUpdateLabel_->setFrame(
        {kMargin * s, top + kTextTop * s, width,
         pairing_style::wrappedHeight(kavoUpdateLabel_->text(), kFontSize * s, width)});
    okButton_->setFont("", kFontSize * s);
    okButton_->setFrame(pairing_style::bottomButtonFrame(w, h, s));
}

void TQHiddenConditionPageViewController::okAction() {
    LG_VERBOSE("TQHiddenConditionPageViewController: OK");
    platform::ui::dismissPage(*this, true);
    // The alert outlives the page: it is the application's, not the page's.
    (void)platform::AppHost::current().showAlert(TQPopUpviewUtils::keepRunningKMAlert());
}
