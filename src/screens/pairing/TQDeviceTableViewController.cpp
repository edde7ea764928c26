#include "screens/pairing/TQDeviceTableViewController.h"

#include <utility>

#include "link/TQAP.h"
#include "link/TQCentral.h"
#include "logging/LGLog.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "platform/ui/Presentation.h"
#include "screens/pairing/TQKavoUpdateViewController.h"
#include "screens/pairing/TQPairingRules.h"
#include "screens/pairing/TQPairingSteps.h"
#include "screens/pairing/TQPairingStyle.h"
#include "ui/TQStoryboard.h"
#include "utils/TQLocalization.h"
#include "utils/TQPermission.h"

using platform::ui::Color;
using platform::ui::IndexPath;
namespace style = pairing_style;

namespace {

constexpr Color kSeparator{250 / 255.0, 250 / 255.0, 250 / 255.0, 1};
constexpr Color kSelectedRow{255 / 255.0, 224 / 255.0, 178 / 255.0, 1};

std::string localized(std::string_view key) {
    return TQLocalization::localizedString(key);
}

}  // namespace

TQDeviceTableViewController::TQDeviceTableViewController(const TQScreenServices& services)
    : Page(kClassName),
      services_(services),
      connectingPopup_(*this, [this] { restartScan(); }) {
    setName("deviceTablePageid");
    setTitle(localized("WDS_WMGR_HEADER_QUORVEL_KAVO_R5_LITE_ABB"));
}

TQDeviceTableViewController::~TQDeviceTableViewController() {
    if (timer_) {
        timer_->invalidate();
    }
    if (deviceListTable_ != nullptr) {
        deviceListTable_->setModel(nullptr);
    }
}

void TQDeviceTableViewController::viewDidLoad() {
    buildViews();
    observe(platform::kApplicationWillEnterForegroundNotification,
            [this](const platform::Notification&) { checkKavoAction(); });
    if (services_.pairing != nullptr) {
        if (const auto link = services_.pairing->link()) {
            services_.pairing->take(*this, *this);
            // The watches the welcome page accepted are shown at once.
            fillFrom(link->kavoManager.scannedDeviceNames());
        }
    }
    reloadList();
}

void TQDeviceTableViewController::viewWillAppear(bool /*animated*/) {
    // Back from the help page, or from a page that had the link: it is ours again.
    if (services_.pairing != nullptr) {
        services_.pairing->take(*this, *this);
    }
    if (!deviceNames_.empty()) {
        updateTable();
    } else {
        checkKavoAction();
    }
}

void TQDeviceTableViewController::viewWillDisappear(bool /*animated*/) {
    if (services_.pairing != nullptr) {
        if (const auto link = services_.pairing->link()) {
            link->kavoManager.stopScanForDevices();
        }
    }
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    connectingPopup_.close();
}

bool TQDeviceTableViewController::perform(std::string_view operation,
                                          const platform::Value& /*argument*/) {
    if (operation != "reloadDeviceList") {
        return false;
    }
    reloadDeviceList();
    return true;
}

void TQDeviceTableViewController::buildViews() {
    View& content = contentView();
    bgView_ = new platform::ui::View(&content);
    bgView_->setName("bgView");
    bgView_->setBackgroundColor(style::kGround);

    scanning_ = new platform::ui::Label(&content);
    scanning_->setName("scanning");
    scanning_->setText(localized("IDS_WIFI_SBODY_SCANNING_ING_ABB"));
    scanning_->setTextColor(style::kWhite);
    activityIndicator_ = new platform::ui::Spinner(&content);
    activityIndicator_->setName("activityIndicator");
    activityIndicator_->setColor(style::kWhite);

    selectYourKavoLabel_ = new platform::ui::Label(&content);
    selectYourKavoLabel_->setName("selectYourKavoLabel");
    selectYourKavoLabel_->setText(localized("WDS_WMGR_HEADER_SELECT_YOUR_KAVO_ABB"));
    selectYourKavoLabel_->setTextColor(style::kWhite);
    selectReloadButton_ = new platform::ui::Button(&content);
    selectReloadButton_->setName("selectReloadButton");
    selectReloadButton_->setTitle(localized("IDS_WIFI_SK2_SCAN_AGAIN"));
    selectReloadButton_->setTitleColor(style::kLink);
    selectReloadButton_->onAction([this] { checkKavoAction(); });

    // The panel the page once showed for an empty scan; the help page is presented instead.
    const std::pair<const char*, std::string> labels[] = {
        {"noKavoLabel", localized("WDS_WMGR_NPBODY_NO_KAVO_DEVICES")},
        {"afterpowerOnLabel",
         localized("WDS_WMGR_BODY_AFTER_YOU_POWER_ON_YOUR_KAVO_DEVICES_THEY_WILL_BE_SHOWN_HERE")},
        {"turnOnLabel", ""}};
    for (const auto& [name, text] : labels) {
        auto* label = new platform::ui::Label(&content);
        label->setName(name);
        label->setText(text);
        label->hide();
        noKavoPanel_.push_back(label);
    }
    auto* checkKavo = new platform::ui::Button(&content);
    checkKavo->setName("checkKavo");
    checkKavo->onAction([this] { checkKavoAction(); });
    checkKavo->hide();
    noKavoPanel_.push_back(checkKavo);

    deviceListTable_ = new platform::ui::DataTableView(&content);
    deviceListTable_->setName("deviceListTable");
    deviceListTable_->setBackgroundColor(style::kGround);
    deviceListTable_->registerCell(kCellIdentifier, [] { return new platform::ui::TableCell(); });
    deviceListTable_->setModel(this);

    sendLogOutlet_ = new platform::ui::Button(&content);
    sendLogOutlet_->setName("sendLogOutlet");
    sendLogOutlet_->hide();
    layoutSubviews();
}

void TQDeviceTableViewController::layoutSubviews() {
    if (bgView_ == nullptr) {
        return;
    }
    const double s = style::scale();
    const double w = contentView().width();
    const double h = contentView().height();
    bgView_->setFrame({0, 0, w, h});
    // The header lines up with the rows' names.
    const double margin = platform::ui::TableCell::leftLayoutMargin();
    scanning_->setFont(style::kFont, 17 * s);
    activityIndicator_->setFrame({margin, 24 * s, 24 * s, 24 * s});
    scanning_->setFrame({margin + 34 * s, 20 * s, w - 2 * margin - 34 * s, 32 * s});
    selectYourKavoLabel_->setFont(style::kFont, 17 * s);
    selectYourKavoLabel_->setFrame({margin, 20 * s, w * 0.6 - margin, 32 * s});
    selectReloadButton_->setFont(style::kFont, 15 * s);
    selectReloadButton_->setFrame({w * 0.6, 20 * s, w * 0.4 - margin, 32 * s});
    for (std::size_t i = 0; i < noKavoPanel_.size(); ++i) {
        noKavoPanel_[i]->setGeometry(static_cast<int>(margin),
                                     static_cast<int>(80 * s + 40 * s * double(i)),
                                     static_cast<int>(w - 2 * margin), static_cast<int>(32 * s));
    }
    const double top = 64 * s;
    deviceListTable_->setFrame({0, top, w, std::max(0.0, h - top)});
    sendLogOutlet_->setFrame({w - 60, h - 40, 50, 30});
}

// ---- scanning ----

void TQDeviceTableViewController::checkKavoAction() {
    for (auto* view : noKavoPanel_) {
        view->hide();
    }
    selectReloadButton_->hide();
    selectYourKavoLabel_->hide();
    scanning_->show();
    activityIndicator_->show();
    deviceListTable_->show();
    activityIndicator_->startAnimating();
    if (timer_) {
        timer_->invalidate();
    }
    timer_ = services_.loop.scheduleTimer(kScanSeconds, false, guarded([this] {
                                              timer_.reset();
                                              updateTable();
                                          }));
    deviceNames_.clear();
    if (services_.pairing != nullptr) {
        if (const auto link = services_.pairing->link()) {
            link->kavoManager.scanForDevices();
        }
    }
    reloadList();
}

void TQDeviceTableViewController::updateTable() {
    if (deviceNames_.empty()) {
        showNoKavoPage();
        return;
    }
    for (auto* view : noKavoPanel_) {
        view->hide();
    }
    scanning_->hide();
    activityIndicator_->stopAnimating();
    activityIndicator_->hide();
    selectReloadButton_->show();
    selectYourKavoLabel_->show();
    deviceListTable_->show();
}

void TQDeviceTableViewController::showNoKavoPage() {
    // At most one help page at a time, however many empty scans ask for it.
    TQKavoUpdateViewController::presentOver(*this);
}

void TQDeviceTableViewController::restartScan() {
    if (const auto link = services_.pairing != nullptr ? services_.pairing->link() : std::nullopt) {
        link->kavoManager.stopScanForDevices();
        link->kavoManager.scanForDevices();
    }
}

void TQDeviceTableViewController::fillFrom(
    const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals) {
    deviceNames_.clear();
    for (const auto* peripheral : peripherals) {
        if (pairing::isWatch(peripheral)) {
            deviceNames_.push_back({peripheral->identifier(), *peripheral->name()});
        }
    }
}

void TQDeviceTableViewController::reloadList() {
    if (deviceListTable_ != nullptr) {
        deviceListTable_->reloadData();
    }
}

// ---- the list ----

std::size_t TQDeviceTableViewController::numberOfRows(platform::ui::DataTableView& /*table*/,
                                                      std::size_t /*section*/) {
    return deviceNames_.size();
}

platform::ui::TableCell& TQDeviceTableViewController::cellForRow(
    platform::ui::DataTableView& table, IndexPath path) {
    const double s = style::scale();
    platform::ui::TableCell& cell = table.dequeueReusableCell(kCellIdentifier);
    cell.setRowHeight(56 * s);
    cell.setBackgroundColor(style::kGround);
    cell.setSelectedBackgroundColor(kSelectedRow);
    cell.setSeparatorColor(kSeparator);
    // A reused cell always shows its own row's name, never the one it showed before.
    auto& title = cell.textLabel();
    title.setFont(style::kFont, 17.33 * s);
    title.setTextColor(style::kWhite);
    title.setText(path.row < deviceNames_.size()
                      ? pairing::displayedWatchName(deviceNames_[path.row].name)
                      : std::string());
    auto* separator = cell.findChild<platform::ui::View*>("separator");
    if (separator == nullptr) {
        separator = new platform::ui::View(&cell);
        separator->setName("separator");
        separator->setProperty("tag", kSeparatorTag);
        separator->setBackgroundColor(kSeparator);
    }
    const double width = table.width();
    separator->setFrame({0, 56 * s - 3, width, 2});
    // The list ends without a line under its last row.
    separator->setVisible(path.row + 1 < deviceNames_.size());
    return cell;
}

void TQDeviceTableViewController::didSelectRow(platform::ui::DataTableView& /*table*/,
                                               IndexPath path) {
    const auto link = services_.pairing != nullptr ? services_.pairing->link() : std::nullopt;
    if (link && path.row < deviceNames_.size()) {
        const platform::bluetooth::Uuid identifiers[] = {deviceNames_[path.row].identifier};
        const auto found = link->kavoManager.getConnectedPeripherals(identifiers);
        if (!found.empty() && found.front() != nullptr) {
            platform::bluetooth::RemotePeripheral& watch = *found.front();
            services_.defaults.set("hiddenConditionBitSet", hiddenConditionFlag(watch));
            link->kavoManager.connectDevice(watch);
            connectingPopup_.show();
        }
    }
    reloadList();
}

// ---- the link ----

void TQDeviceTableViewController::onDiscoverDevices(
    const std::vector<platform::bluetooth::RemotePeripheral*>& devices) {
    if (const auto link = services_.pairing->link()) {
        link->kavoManager.scannedDeviceNames() = devices;
    }
    fillFrom(devices);
    reloadList();
}

void TQDeviceTableViewController::onConnectDevice() {
    connectingPopup_.connected();
    if (const auto link = services_.pairing->link()) {
        pairing::startSetUp(*link, services_.defaults,
                            pairing::ConnectDefaults::identityAndWeather);
    }
}

void TQDeviceTableViewController::onDisconnectDevice() {
    LG_VERBOSE("call OnDisconnectDevice");
}

void TQDeviceTableViewController::onBleManagerStateChange(bool enabled) {
    if (enabled) {
        checkKavoAction();
        return;
    }
    deviceNames_.clear();
    reloadList();
    showNoKavoPage();
}

void TQDeviceTableViewController::onError(const TQError& error) {
    pairing::showLinkError(error);
}

void TQDeviceTableViewController::autoConnectionInProgress() {
    connectingPopup_.show();
}

void TQDeviceTableViewController::onSyncInitSettingRes(bool isReconnecting) {
    connectingPopup_.close();
    const auto next = pairing::nextStepAfterSync(pairing::SetupPage::scanList, isReconnecting,
                                                 TQPermission::isAllAuthorized());
    TQStoryboard::perform(*this, next.segue);
}
