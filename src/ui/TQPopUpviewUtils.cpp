#include "ui/TQPopUpviewUtils.h"

#include <algorithm>
#include <cmath>

#include "logging/LGFormat.h"
#include "platform/ui/TextMetrics.h"
#include "utils/TQDeviceVersion.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

namespace {

// The connecting dressing's box inside an alert: room for the spinner and its line of text.
constexpr double kConnectingBoxHeight = 90;

std::string fromTable(std::string_view key) {
    return TQLocalization::localizedString(key);
}

platform::Alert alertWith(std::string title, std::string message, std::string cancel) {
    platform::Alert alert;
    alert.title = std::move(title);
    alert.message = std::move(message);
    alert.buttons = {std::move(cancel)};
    return alert;
}

}  // namespace

platform::Alert TQPopUpviewUtils::keepRunningKMAlert() {
    return keepRunningKMAlert(fromTable);
}

platform::Alert TQPopUpviewUtils::keepRunningKMAlert(const Localizer& localized) {
    const std::string model = localized("WDS_WMGR_HEADER_QUORVEL_KAVO_R5_LITE_ABB");
    const std::string title = lg::format(localized("WDS_WMGR_HEADER_KEEP_PS_APP_ACTIVE"), model);
    const std::string hint1 = lg::format(
        localized("WDS_WMGR_POP_TO_USE_ALL_THE_FUNCTIONS_ON_YOUR_KAVO_DO_NOT_CLOSE_THE_PS_APP"),
        model);
    const std::string hint2 = lg::format(
        localized("WDS_WMGR_POP_IF_YOUR_KAVO_FAILS_TO_RECONNECT_TO_YOUR_PHONE_VIA_BLUETOOTH_"
                  "AUTOMATICALLY_OPEN_THE_PS_APP"),
        model);
    const std::string message =
        lg::format("\n%@. %@\n\n%@. %@", TQUtils::convertNumberToLocalize(1), hint1,
                   TQUtils::convertNumberToLocalize(2), hint2);
    return alertWith(title, message, localized("ok"));
}

platform::Alert TQPopUpviewUtils::showUpdateKavoAlert() {
    return showUpdateKavoAlert(fromTable);
}

platform::Alert TQPopUpviewUtils::showUpdateKavoAlert(const Localizer& localized) {
    return alertWith(
        localized("WDS_FOTA_HEADER_UPDATE_KAVO_ABB"),
        localized("WDS_WMGR_POP_A_KAVO_SOFTWARE_UPDATE_IS_REQUIRED_TO_DOWNLOAD_AND_INSTALL_THE_"
                  "UPDATE_ON_YOUR_KAVO_MSG"),
        localized("ok"));
}

platform::Alert TQPopUpviewUtils::bluetoothSharingRequestAlert() {
    platform::Alert alert;
    alert.message = TQLocalization::localizedFormat(
        "WDS_WMGR_POP_PS_IS_REQUESTING_PERMISSION_TO_TURN_ON_BLUETOOTH_SHARING_THIS_WILL_ALLOW_"
        "THE_KAVO_MSG",
        fromTable("WDS_WMGR_HEADER_QUORVEL_KAVO_R5_LITE_ABB"));
    alert.buttons = {fromTable("WDS_WMGR_BUTTON_DONT_ALLOW_BB"), fromTable("plugin_menu_settings")};
    return alert;
}

platform::Alert TQPopUpviewUtils::bluetoothSharingRequiredAlert() {
    return alertWith("",
                     fromTable("WDS_WMGR_POP_TO_SYNC_KAVO_DATA_WITH_YOUR_PHONE_BLUETOOTH_SHARING_"
                               "MUST_BE_TURNED_ON_ON_YOUR_PHONE"),
                     fromTable("ok"));
}

platform::ui::View& TQPopUpviewUtils::connectingView(platform::ui::View& host,
                                                     std::string_view text) {
    return connectingView(host, text, TQDeviceVersion::deviceVersion(),
                          platform::AppHost::current().userInterfaceLayoutDirection());
}

platform::ui::AlertView& TQPopUpviewUtils::connectingView(platform::ui::AlertView& alert,
                                                          std::string_view text) {
    auto* box = new platform::ui::View();
    box->setName("alertAccessory");
    box->setFrame({0, 0, 270, kConnectingBoxHeight});
    connectingView(*box, text);
    alert.setContentView(box, kConnectingBoxHeight);
    return alert;
}

platform::ui::View& TQPopUpviewUtils::connectingView(platform::ui::View& host,
                                                     std::string_view text, int deviceModel,
                                                     platform::LayoutDirection direction) {
    const double centreY = deviceModel == 8 || deviceModel == 10 ? 45 : 40;
    const double textWidth =
        std::min(platform::ui::TextMetrics::current().lineWidth(text, 15), 213.0);
    const double labelWidth = std::ceil(textWidth + 20);

    auto* spinner = new platform::ui::Spinner;
    spinner->setName("connectingSpinner");
    spinner->setFrame({0, 0, 40, 40});
    spinner->setAlpha(1.0);
    spinner->setColor(platform::ui::Color{0.6, 0.4, 0.2, 1});
    spinner->setHidesWhenStopped(false);
    spinner->startAnimating();

    auto* label = new platform::ui::Label;
    label->setName("connectingLabel");
    label->setFrame({0, 0, labelWidth, 80});
    label->setText(text);
    label->setNumberOfLines(0);
    label->setTextColor(platform::ui::Color{1.0 / 3, 1.0 / 3, 1.0 / 3, 1});

    const double half = (labelWidth + 50) / 2;
    const double left = 135 - half;
    const double right = 135 + half;
    const double spinnerWidth = spinner->frame().width;
    if (direction != platform::LayoutDirection::rightToLeft) {
        spinner->setCenter({left + spinnerWidth / 2 + 10, centreY});
        label->setCenter({right - labelWidth / 2, centreY});
    } else {
        spinner->setCenter({right - spinnerWidth / 2 - 10, centreY});
        label->setCenter({left + labelWidth / 2, centreY});
    }
    label->setParent(&host);
    label->show();
    spinner->setParent(&host);
    spinner->show();
    return host;
}
