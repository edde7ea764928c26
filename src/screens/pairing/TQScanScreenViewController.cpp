#include "screens/pairing/TQScanScreenViewController.h"

#include <algorithm>
#include <span>
#include <vector>

#include "link/TQAP.h"
#include "listener/TQCoreManager.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/Uuid.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Table.h"
#include "screens/pairing/TQPairingStyle.h"
#include "ui/TQStoryboard.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

namespace {

constexpr const char* kHomeSegue = "homeSegue";
constexpr double kMargin = 16;
constexpr double kTextHeight = 64;
constexpr double kButtonHeight = 44;

// What a row shows of a peripheral.
std::string rowTitle(const platform::Value& peripheral) {
    const std::string* name = peripheral["name"].stringIf();
    return name == nullptr || name->empty() ? TQScanScreenViewController::kUnknownDevice : *name;
}

}  // namespace

TQScanScreenViewController::TQScanScreenViewController(const TQScreenServices& services)
    : Page(kClassName), services_(services) {}

TQScanScreenViewController::~TQScanScreenViewController() {
    stopObserving();
}

void TQScanScreenViewController::viewDidLoad() {
    txtView_ = new platform::ui::TextView(&contentView());
    txtView_->show();
    txtView_->setName("txtView");
    txtView_->setText(
        TQLocalization::localizedString("WDS_WMGR_BODY_TAP_SCAN_THEN_TAP_A_DEVICE_TO_CONNECT"));

    scanButton_ = new platform::ui::Button(&contentView());
    scanButton_->show();
    scanButton_->setName("scanButton");
    scanButton_->setTitle(TQLocalization::localizedString("IDS_BT_BUTTON_SCAN"));
    scanButton_->setTitleColor(pairing_style::kPrimaryButtonTitle);
    scanButton_->setBackgroundColor(pairing_style::kButton);
    // The button is the page's: the connection goes with it.
    QObject::connect(scanButton_, &QAbstractButton::pressed, scanButton_,
                     [this] { onScanButtonTouchDown(); });
    scanButton_->onAction(guarded([this] { onScanButtonClick(); }));

    kavoListTable_ = new platform::ui::TableView(&contentView());
    kavoListTable_->show();
    kavoListTable_->setName("kavoListTable");
    layoutSubviews();
}

void TQScanScreenViewController::layoutSubviews() {
    if (kavoListTable_ == nullptr) {
        return;
    }
    const double w = contentView().width();
    const double h = contentView().height();
    const double inner = std::max(0.0, w - 2 * kMargin);
    txtView_->setFrame({kMargin, kMargin, inner, kTextHeight});
    const double buttonTop = kMargin + kTextHeight + kMargin / 2;
    scanButton_->setFrame({kMargin, buttonTop, inner, kButtonHeight});
    const double listTop = buttonTop + kButtonHeight + kMargin;
    kavoListTable_->setFrame({0, listTop, w, std::max(0.0, h - listTop)});
}

void TQScanScreenViewController::viewWillAppear(bool /*animated*/) {
    kavos_.clear();
    reloadList();
    // The link stays with the core manager: this page reads its notifications.
    if (TQCoreManager* link = services_.link()) {
        link->setup();
    } else {
        LG_INFO("TQScanScreenViewController: the link is not up");
    }
}

void TQScanScreenViewController::viewDidAppear(bool /*animated*/) {
    stopObserving();
    auto& center = services_.center;
    center.addObserver(
        "onDiscoverDevicesNotification",
        guarded([this](const platform::Notification& note) { onDiscoverDevices(note); }), this);
    center.addObserver("onConnectDeviceNotification",
                       guarded([this](const platform::Notification&) { onConnectDevice(); }),
                       this);
    center.addObserver("onDisconnectDeviceNotification",
                       [](const platform::Notification&) {
                           LG_VERBOSE("TQScanScreenViewController: onDisconnectDevice");
                       },
                       this);
    center.addObserver("onDataReceivedNotification",
                       [](const platform::Notification& note) {
                           LG_VERBOSE("TQScanScreenViewController: data received on %@",
                                      note.object["appId"]);
                       },
                       this);
    center.addObserver("onErrorNotification",
                       guarded([this](const platform::Notification& note) { onError(note); }),
                       this);
}

void TQScanScreenViewController::viewDidDisappear(bool /*animated*/) {
    stopObserving();
}

void TQScanScreenViewController::stopObserving() {
    services_.center.removeAll(this);
}

void TQScanScreenViewController::onScanButtonTouchDown() {
    scanButton_->setSelectedState(true);
}

void TQScanScreenViewController::onScanButtonClick() {
    kavos_.clear();
    reloadList();
    if (TQCoreManager* link = services_.link()) {
        link->kavoManager().scanForDevices();
    } else {
        LG_INFO("TQScanScreenViewController: no link to scan with");
    }
    services_.loop.postDelayed(kDeselectDelay,
                               guarded([this] { scanButton_->setSelectedState(false); }));
}

void TQScanScreenViewController::onDiscoverDevices(const platform::Notification& notification) {
    const platform::Array* found = notification.object.arrayIf();
    if (found == nullptr || notification.name != "onDiscoverDevicesNotification") {
        return;
    }
    // Every device the link reported, whatever its name.
    kavos_ = *found;
    reloadList();
}

void TQScanScreenViewController::reloadList() {
    if (kavoListTable_ == nullptr) {
        return;
    }
    platform::ui::TableSection section;
    for (std::size_t row = 0; row < kavos_.size(); ++row) {
        // Each reload makes its rows afresh, so none shows an earlier title.
        auto* cell = new platform::ui::TableCell();
        cell->setName("cellKavo");
        cell->setRowHeight(kRowHeight);
        cell->textLabel().setText(rowTitle(kavos_[row]));
        cell->onTouched(guarded([this, row] { didSelectRow(row); }));
        section.cells.push_back(cell);
    }
    kavoListTable_->setSections({section});
}

void TQScanScreenViewController::didSelectRow(std::size_t row) {
    if (row >= kavos_.size()) {
        return;  // the list changed under the finger
    }
    TQCoreManager* link = services_.link();
    const std::string* text = kavos_[row]["identifier"].stringIf();
    const auto identifier =
        text != nullptr ? platform::bluetooth::Uuid::parse(*text) : std::nullopt;
    if (link == nullptr || !identifier) {
        LG_INFO("TQScanScreenViewController: row %@ cannot be connected", row);
        return;
    }
    TQAP& kavoManager = link->kavoManager();
    const auto found = kavoManager.getConnectedPeripherals(std::span(&*identifier, 1));
    if (found.empty()) {
        LG_INFO("TQScanScreenViewController: the device of row %@ is gone", row);
        return;
    }
    kavoManager.connectDevice(*found.front());
    const std::string* name = kavos_[row]["name"].stringIf();
    deviceName_ = name != nullptr ? *name : std::string();
}

void TQScanScreenViewController::onConnectDevice() {
    if (TQCoreManager* link = services_.link()) {
        if (const auto* device = link->kavoManager().getConnectedDevice()) {
            services_.defaults.set("deviceUUID", device->identifier().toLongString());
        }
    }
    kavos_.clear();
    reloadList();
    TQStoryboard::perform(*this, kHomeSegue);
}

void TQScanScreenViewController::onError(const platform::Notification& notification) {
    if (notification.object.isNull() || notification.name != "onErrorNotification") {
        return;
    }
    // Whatever its code.
    if (const std::string* description = notification.object["errorDescription"].stringIf()) {
        TQUtils::showToast(*description);
    }
}

void TQScanScreenViewController::prepareForSegue(std::string_view identifier,
                                                 platform::ui::Page& destination) {
    if (identifier == kHomeSegue) {
        destination.setTitle(deviceName_);
    }
}
