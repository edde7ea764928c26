#include "screens/pairing/TQKavoUpdateViewController.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "logging/LGLog.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/host/AppHost.h"
#include "platform/host/BluetoothSettings.h"
#include "platform/ui/Controls.h"
#include "platform/ui/LinkLabel.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextMetrics.h"
#include "screens/pairing/TQPairingStyle.h"
#include "ui/TQStoryboard.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

using platform::ui::Color;
using platform::ui::Rect;

namespace {

constexpr const char* kPlaceholder = "%1$s";
constexpr const char* kPresentedKey = "noWatchHelpPage";

// In units the page scales by the longer screen side / 736.
constexpr double kHeaderTop = 79;
constexpr double kHeaderBottom = 31;
constexpr double kHeadingFont = 25;
constexpr double kStepFont = 17;
constexpr double kMargin = 44;
constexpr double kStepSpacing = 14;

// The help page over a presenter, shown or waiting to be.
struct PresentedHelp {
    platform::WeakPtr<platform::ui::Page> page;
};

std::string text(const char* key) {
    return TQLocalization::localizedString(key);
}

// "n. text" or "n. text more", the number in the phone's locale.
std::string step(int number, const std::string& first, const std::string* second = nullptr) {
    const std::string n = TQUtils::convertNumberToLocalize(number);
    return second == nullptr ? TQLocalization::format("%@. %@", n, first)
                             : TQLocalization::format("%@. %@ %@", n, first, *second);
}


platform::ui::Label* stepLabel(QWidget* parent, const char* name) {
    // Shown at once: a presented page loads when it is already in the window.
    auto* label = new platform::ui::Label(parent);
    label->show();
    label->setName(name);
    label->setNumberOfLines(0);
    label->setTextColor(pairing_style::kWhite);
    return label;
}

}  // namespace

TQKavoUpdateViewController::TQKavoUpdateViewController() : Page(kClassName) {}

bool TQKavoUpdateViewController::presentOver(platform::ui::Page& presenter) {
    auto& presented = platform::ui::attached<PresentedHelp>(presenter, kPresentedKey);
    if (presented.page) {
        LG_VERBOSE("TQKavoUpdateViewController: the help page is already shown");
        return false;
    }
    const TQStoryboard* storyboard = TQStoryboard::of(presenter);
    auto page = storyboard != nullptr ? storyboard->instantiate(nibName()) : nullptr;
    if (!page) {
        LG_ERROR("TQKavoUpdateViewController: no storyboard makes %@", nibName());
        return false;
    }
    presented.page = page->weakPage();
    return platform::ui::presentPage(presenter, std::move(page),
                                     platform::ui::PresentationStyle::crossDissolve, true);
}

void TQKavoUpdateViewController::viewDidLoad() {
    setBackgroundColor(pairing_style::kGround);
    scrollveiw_ = new platform::ui::ScrollView(&contentView());
    scrollveiw_->show();
    scrollveiw_->setName("scrollveiw");
    auto& scrollContentView = scrollveiw_->contentView();
    scrollContentView.setName("scrollContentView");
    scrollContentView.setBackgroundColor(pairing_style::kGround);

    noKavoDeviceFound_ = stepLabel(&scrollContentView, "noKavoDeviceFound");
    noKavoDeviceFound_->setText(text("WDS_WMGR_NPBODY_NO_KAVO_DEVICES"));
    noKavoDeviceFound_->setTextAlignment(platform::ui::TextAlignment::center);
    firstHeadLabel_ = stepLabel(&scrollContentView, "firstHeadLabel");
    firstHeadLabel_->setText(text(
        "WDS_WMGR_BODY_CHECK_THAT_YOUR_KAVO_IS_POWERED_ON_IF_IT_STILL_CANNOT_BE_FOUND_FOLLOW_THE_"
        "STEPS_BELOW_MSG"));

    textViewiPhoneSettings_ = new platform::ui::LinkLabel(&scrollContentView);
    textViewiPhoneSettings_->show();
    textViewiPhoneSettings_->setName("textViewiPhoneSettings");
    prepareClickableString();

    const std::string threeG =
        text("WDS_WMGR_BODY_IF_YOUR_KAVO_CAN_USE_3G_ONE_MORE_STEP_IS_REQUIRED");
    secondLabel_ = stepLabel(&scrollContentView, "secondLabel");
    secondLabel_->setText(step(
        2, text("WDS_WMGR_BODY_ON_YOUR_KAVO_GO_TO_SETTINGS_KAVO_INFO_THEN_SELECT_UPDATE_KAVO_"
                "SOFTWARE")));
    thirdLabel_ = stepLabel(&scrollContentView, "thirdLabel");
    thirdLabel_->setText(step(3, text("WDS_WMGR_BODY_AFTER_YOUR_KAVO_HAS_BEEN_UPDATED_GO_TO_"
                                      "SETTINGS_KAVO_INFO_THEN_SELECT_RESET_MSG")));
    fourthLabel_ = stepLabel(&scrollContentView, "fourthLabel");
    const std::string tapInfo = text(
        "WDS_WMGR_BODY_ON_YOUR_PHONE_GO_TO_BLUETOOTH_SETTINGS_THEN_TAP_THE_I_ICON_NEXT_TO_THE_"
        "KAVO_NAME_MSG");
    fourthLabel_->setText(step(4, threeG, &tapInfo));
    fifthLabel_ = stepLabel(&scrollContentView, "fifthLabel");
    fifthLabel_->setText(step(5, text("WDS_WMGR_BODY_USE_THIS_APP_TO_CONNECT_TO_YOUR_KAVO")));

    scanAgainOutlet_ = new platform::ui::Button(&contentView());
    scanAgainOutlet_->show();
    scanAgainOutlet_->setName("scanAgainOutlet");
    scanAgainOutlet_->setTitle(platform::asciiUppercased(text("IDS_WIFI_SK2_SCAN_AGAIN")));
    scanAgainOutlet_->setTitleColor(pairing_style::kPrimaryButtonTitle);
    scanAgainOutlet_->setBackgroundColor(Color{1, 1, 1, 1});
    scanAgainOutlet_->onAction(guarded([this] { scanAgain(); }));

    // For the page's whole life: the way back from the settings may come at any time.
    observe(platform::kApplicationWillEnterForegroundNotification,
            [this](const platform::Notification&) { applicationWillEnterForeground(); });
    // On a desktop the settings open beside the window, which keeps going; only the focus
    // coming back tells the user returned.
    observe(platform::kApplicationDidBecomeActiveNotification,
            [this](const platform::Notification&) { applicationWillEnterForeground(); });
    layoutSubviews();
}

void TQKavoUpdateViewController::prepareClickableString() {
    const std::string settings = text("IDS_ST_HEADER_BLUETOOTH_SETTINGS");
    const std::string listedTwice = text(
        "WDS_WMGR_BODY_IF_YOUR_KAVO_CAN_USE_3G_IT_WILL_BE_LISTED_TWICE_CONNECT_TO_BOTH_IN_THE_"
        "LIST");
    const std::string whole =
        step(1, text("WDS_WMGR_BODY_ON_YOUR_PHONE_GO_TO_PS_THEN_CONNECT_TO_YOUR_KAVO"), &listedTwice);
    const double size = kStepFont * pairing_style::scale();
    std::vector<platform::ui::TextRun> runs;
    const auto run = [&](std::string part, const Color& color) {
        platform::ui::TextRun made;
        made.text = std::move(part);
        made.size = size;
        made.color = color;
        return made;
    };
    const auto plain = [&](std::string part) {
        if (!part.empty()) {
            runs.push_back(run(std::move(part), pairing_style::kWhite));
        }
    };
    // The Bluetooth-settings words take the first placeholder's place; a text without one
    // shows as it stands, with no link.
    if (const std::size_t at = whole.find(kPlaceholder); at != std::string::npos) {
        plain(whole.substr(0, at));
        auto link = run(settings, pairing_style::kLink);
        link.action = guarded([this] { openBluetoothSettings(); });
        runs.push_back(std::move(link));
        plain(whole.substr(at + std::string_view(kPlaceholder).size()));
    } else {
        plain(whole);
    }
    textViewiPhoneSettings_->setRuns(std::move(runs));
}

void TQKavoUpdateViewController::layoutSubviews() {
    if (scrollveiw_ == nullptr) {
        return;
    }
    const double s = pairing_style::scale();
    const double w = contentView().width();
    const double h = contentView().height();
    const Rect button = pairing_style::bottomButtonFrame(w, h, s);
    const double buttonTop = button.y;
    scanAgainOutlet_->setFrame(button);
    scanAgainOutlet_->setFont("", kStepFont * s);
    // The steps scroll above the button when they do not fit.
    scrollveiw_->setFrame({0, 0, w, std::max(0.0, buttonTop - kStepSpacing * s)});

    const double textWidth = std::max(0.0, w - 2 * kMargin * s);
    double y = kHeaderTop * s;
    const auto place = [&](platform::ui::Label* label, double fontSize, double after) {
        label->setFontSize(fontSize);
        const double height = pairing_style::wrappedHeight(label->text(), fontSize, textWidth);
        label->setFrame({kMargin * s, y, textWidth, height});
        y += height + after;
    };
    place(noKavoDeviceFound_, kHeadingFont * s, kHeaderBottom * s);
    place(firstHeadLabel_, kStepFont * s, kStepSpacing * s);
    const double linkHeight = std::ceil(textViewiPhoneSettings_->heightForWidth(textWidth)) + 2;
    textViewiPhoneSettings_->setFrame({kMargin * s, y, textWidth, linkHeight});
    y += linkHeight + kStepSpacing * s;
    for (auto* label : {secondLabel_, thirdLabel_, fourthLabel_, fifthLabel_}) {
        place(label, kStepFont * s, kStepSpacing * s);
    }
    scrollveiw_->setContentHeight(y);
}

void TQKavoUpdateViewController::scanAgain() {
    showDeviceTablePage();
}

void TQKavoUpdateViewController::openBluetoothSettings() {
    isGoToSettings_ = true;
    LG_VERBOSE("TQKavoUpdateViewController: opening the Bluetooth settings");
    if (!platform::AppHost::current().openURL(platform::kBluetoothSettingsURL)) {
        LG_INFO("TQKavoUpdateViewController: nothing opened the Bluetooth settings");
    }
}

void TQKavoUpdateViewController::applicationWillEnterForeground() {
    if (isGoToSettings_) {
        showDeviceTablePage();
    }
}

void TQKavoUpdateViewController::showDeviceTablePage() {
    platform::ui::dismissPage(*this, true);
}
