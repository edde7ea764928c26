#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/bluetooth/Uuid.h"
#include "platform/ui/DataTable.h"
#include "platform/ui/Navigation.h"
#include "screens/TQScreenServices.h"
#include "screens/pairing/TQConnectingPopup.h"
#include "screens/pairing/TQPairingRoles.h"

namespace platform {
class Timer;
}

// The watch scan list (scene "deviceTablePageid"): scans for 3 seconds, lists the watches in
// reach (names beginning with "Kavo R5") as the scan goes on, connects the one tapped, and
// once its initial settings are synchronised goes home, to the consent page or to the
// permissions page. An empty scan presents the no-watch help page, once at a time.
class TQDeviceTableViewController final : public platform::ui::Page,
                                          private TQPairingEvents,
                                          private platform::ui::TableModel {
public:
    static constexpr const char* kClassName = "TQDeviceTableViewController";
    static constexpr const char* kNoWatchPage = "TQKavoUpdateViewController";
    static constexpr const char* kCellIdentifier = "deviceCell";
    static constexpr double kScanSeconds = 3.0;
    static constexpr int kSeparatorTag = 101;

    // One row: a watch as it was discovered.
    struct Row {
        platform::bluetooth::Uuid identifier;
        std::string name;
    };

    explicit TQDeviceTableViewController(const TQScreenServices& services);
    ~TQDeviceTableViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void layoutSubviews() override;
    // "reloadDeviceList": scans again, as the setup reset asks after showing the page.
    bool perform(std::string_view operation, const platform::Value& argument) override;

    // Scans for 3 seconds and fills the list again (the reload button, the foreground).
    void checkKavoAction();
    void reloadDeviceList() { checkKavoAction(); }
    [[nodiscard]] const std::vector<Row>& rows() const { return deviceNames_; }

private:
    // TQPairingEvents
    void onDiscoverDevices(
        const std::vector<platform::bluetooth::RemotePeripheral*>& devices) override;
    void onConnectDevice() override;
    void onDisconnectDevice() override;
    void onBleManagerStateChange(bool enabled) override;
    void onError(const TQError& error) override;
    void autoConnectionInProgress() override;
    void onSyncInitSettingRes(bool isReconnecting) override;

    // TableModel
    std::size_t numberOfRows(platform::ui::DataTableView& table, std::size_t section) override;
    platform::ui::TableCell& cellForRow(platform::ui::DataTableView& table,
                                        platform::ui::IndexPath path) override;
    void didSelectRow(platform::ui::DataTableView& table, platform::ui::IndexPath path) override;

    void buildViews();
    void fillFrom(const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals);
    void updateTable();
    void showNoKavoPage();
    void restartScan();
    void reloadList();

    const TQScreenServices& services_;
    std::vector<Row> deviceNames_;
    std::shared_ptr<platform::Timer> timer_;
    // The help page was asked for and has not come on screen yet.
    TQConnectingPopup connectingPopup_;

    platform::ui::View* bgView_ = nullptr;
    platform::ui::DataTableView* deviceListTable_ = nullptr;
    platform::ui::Label* scanning_ = nullptr;
    platform::ui::Spinner* activityIndicator_ = nullptr;
    platform::ui::Label* selectYourKavoLabel_ = nullptr;
    platform::ui::Button* selectReloadButton_ = nullptr;
    std::vector<QWidget*> noKavoPanel_;
    platform::ui::Button* sendLogOutlet_ = nullptr;
};
