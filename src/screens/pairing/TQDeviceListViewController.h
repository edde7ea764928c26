#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/bluetooth/Uuid.h"
#include "platform/ui/Navigation.h"
#include "screens/TQScreenServices.h"
#include "screens/pairing/TQConnectingPopup.h"
#include "screens/pairing/TQPairingRoles.h"

class TQPageAlert;

namespace platform {
class Timer;
}
namespace platform::ui {
class Spinner;
}
namespace pairing_style {
class BorderedBox;
}

// The welcome page (scene "setupView"): greets the user, refuses phones the watch does not
// support, and connects the nearest watch in setup mode after a 3-second scan, or leads to the
// scan list ("deviceListSegue") when there is none or the user declines. While the link comes
// up it shows the connecting pop-up; once the watch's initial settings are synchronised it goes
// on to the permissions page or to the next setup page.
class TQDeviceListViewController final : public platform::ui::Page, private TQPairingEvents {
public:
    static constexpr const char* kClassName = "TQDeviceListViewController";
    static constexpr double kScanSeconds = 3.0;
    static constexpr double kOfferSeconds = 10.0;
    static constexpr int kSearchingTag = 17;

    explicit TQDeviceListViewController(const TQScreenServices& services);
    ~TQDeviceListViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void layoutSubviews() override;

    // The connect button's action.
    void connectToKavo();
    void learnMoreAction();

private:
    // TQPairingEvents
    void onDiscoverDevices(
        const std::vector<platform::bluetooth::RemotePeripheral*>& devices) override;
    void onConnectDevice() override;
    void onBleManagerStateChange(bool enabled) override { isBluetoothOn_ = enabled; }
    void onError(const TQError& error) override;
    void autoConnectionInProgress() override;
    void onSyncInitSettingRes(bool isReconnecting) override;

    void buildViews();
    void showRefusal();
    void startBluetoothOnOffAlert();
    void startBluetoothSharingAlert();
    void showSharingRequiredAlert();
    void applicationDidEnterBackground();
    void showSearching(bool searching);
    void connectToKavoScanning();
    void startEasyConnectAlert(const std::string& title);
    void acceptOffer();
    void callNextPage();
    void restartScan();
    void stopTimers();

    const TQScreenServices& services_;
    std::optional<platform::bluetooth::Uuid> nearestPeripheral_;
    bool isNearDeviceCall_ = false;
    bool isBluetoothOn_ = false;
    std::shared_ptr<TQPageAlert> easyConnectAlert_;
    std::shared_ptr<TQPageAlert> bluetoothOnOffAlert_;
    std::shared_ptr<TQPageAlert> firstAlert_;
    std::shared_ptr<TQPageAlert> secondAlert_;
    std::shared_ptr<platform::Timer> timerForScanning_;
    std::shared_ptr<platform::Timer> timerForNoTouch_;
    TQConnectingPopup connectingPopup_;

    platform::ui::View* backView_ = nullptr;
    platform::ui::ImageView* mobileImg_ = nullptr;
    platform::ui::Label* welcomeLabel_ = nullptr;
    platform::ui::Label* enhanceLabel_ = nullptr;
    pairing_style::BorderedBox* connectBox_ = nullptr;
    platform::ui::Button* connectToKavoOutlet_ = nullptr;
    pairing_style::BorderedBox* searching_ = nullptr;
    platform::ui::Spinner* searchingSpinner_ = nullptr;
    platform::ui::Button* learnMoreBtnOutlet_ = nullptr;
    platform::ui::Button* sendLogOutlet_ = nullptr;
};
