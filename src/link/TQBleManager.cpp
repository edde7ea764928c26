#include "link/TQBleManager.h"

#include <utility>

#include "link/TQBLEStatus.h"
#include "link/TQBlePacketTransferDelegate.h"
#include "link/TQBleResponseDelegate.h"
#include "link/TQPairedWatchKeys.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "utils/TQUtils.h"

TQBleManager::TQBleManager(platform::bluetooth::Adapter& adapter) : loop_(adapter.loop()) {
    // The central manager first, as the platform expects.
    central_ = std::make_unique<TQCentral>(adapter);
    peripheral_ = std::make_unique<TQPeripheral>(adapter);
    peripheral_->setDelegate(this);
    central_->setDelegate(this);
    auto& center = platform::NotificationCenter::defaultCenter();
    observers_.push_back(center.addObserver(
        platform::kApplicationDidEnterBackgroundNotification,
        [this](const platform::Notification&) { applicationDidEnterBackground(); }, this));
    observers_.push_back(center.addObserver(
        platform::kApplicationWillEnterForegroundNotification,
        [this](const platform::Notification&) { applicationWillEnterForeground(); }, this));
}

TQBleManager::~TQBleManager() {
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const auto token : observers_) {
        center.removeObserver(token);
    }
    if (autoConnectingTimer_) {
        autoConnectingTimer_->invalidate();
    }
    stopAwaitingSubscription();
    if (searchConnectedDeviceTimer_) {
        searchConnectedDeviceTimer_->invalidate();
    }
    peripheral_->setDelegate(nullptr);
    central_->setDelegate(nullptr);
}

void TQBleManager::setDelegate(TQBleResponseDelegate* responseDelegate,
                               TQBlePacketTransferDelegate* packetDelegate) {
    apiDelegate_ = responseDelegate;
    apDelegate_ = packetDelegate;
}

void TQBleManager::scanForPeripherals() {
    central_->startScan();
}

void TQBleManager::stopScanForPeripherals() {
    central_->stopScan();
}

void TQBleManager::connectWithPeripheral(platform::bluetooth::RemotePeripheral& peripheral) {
    peripheral_->setIsManualDisconnect(false);
    peripheral_->setIsConnectNewKavo(true);
    auto& defaults = platform::UserDefaults::standard();
    const auto deviceMac = getDeviceMacFromName(peripheral.name());
    // An empty token would match every watch's name in the search.
    if (deviceMac && !deviceMac->empty()) {
        defaults.set(paired_watch::kDeviceMacKey, *deviceMac);
    } else {
        defaults.remove(paired_watch::kDeviceMacKey);
    }
    TQUtils::synchronizeDefaults("BLE_MANAGER");
    central_->connectWithPeripheral(peripheral);
}

void TQBleManager::clearConnectedCentral() {
    peripheral_->clearConnectedCentral();
}

std::vector<platform::bluetooth::RemotePeripheral*> TQBleManager::getConnectedPeripherals(
    std::span<const platform::bluetooth::Uuid> identifiers) {
    return central_->getConnectedPeripherals(identifiers);
}

void TQBleManager::disconnect() {
    peripheral_->setIsManualDisconnect(true);
}

bool TQBleManager::isBleEnabled() {
    return peripheral_->isBleEnabled();
}

void TQBleManager::awaitSubscription() {
    stopAwaitingSubscription();
    subscriptionWaitTimer_ = loop_.scheduleTimer(kSubscriptionWait, false, [this] {
        if (peripheral_->isConnectNewKavo()) {
            LG_VERBOSE(
                "BLE_MANAGER: the connected watch did not subscribe; forgetting the new watch "
                "mark");
            peripheral_->setIsConnectNewKavo(false);
        }
    });
}

void TQBleManager::stopAwaitingSubscription() {
    if (subscriptionWaitTimer_) {
        subscriptionWaitTimer_->invalidate();
        subscriptionWaitTimer_.reset();
    }
}

platform::bluetooth::RemotePeripheral* TQBleManager::getConnectedDevice() {
    if (bleStatus_ != TQBLEStatus_Connect) {
        return nullptr;
    }
    // The central role keeps its last peripheral after a disconnection; a watch that
    // subscribed on its own must not be named after that older connection.
    auto* peripheral = central_->getConnectedPeripheral();
    const bool linked = peripheral != nullptr &&
                        peripheral->state() == platform::bluetooth::PeripheralState::connected;
    return linked ? peripheral : nullptr;
}

platform::bluetooth::RemotePeripheral* TQBleManager::getNearestPeripheral() {
    return isConnected_ ? nullptr : central_->getNearestPeripheral();
}

void TQBleManager::sendResetKavoRequest(bool flag) {
    if (apiDelegate_ != nullptr) {
        apiDelegate_->sendResetKavoRequest(flag);
    }
}

bool TQBleManager::isConnected() {
    LG_VERBOSE("BLE_MANAGER: is connected: %d", isConnected_);
    return isConnected_;
}

void TQBleManager::sendData(std::span<const std::uint8_t> packet) {
    peripheral_->sendPacket(packet);
}

void TQBleManager::onChangeBleStatus(std::uint64_t status) {
    switch (status) {
        case TQBLEStatus_Peripheral_Connect:
            bleStatus_ = status;
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_Peripheral_Connect");
            awaitSubscription();
            break;
        case TQBLEStatus_Peripheral_Disconnect:
            bleStatus_ = status;
            // The central connection is gone: whoever subscribes next was not asked for.
            peripheral_->setIsConnectNewKavo(false);
            stopAwaitingSubscription();
            peripheral_->startAdvertising();
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_Peripheral_Disconnect");
            LG_VERBOSE("BLE_MANAGER: Waiting for kavo(central) to connect");
            break;
        case TQBLEStatus_Connect:
            bleStatus_ = status;
            isConnected_ = true;
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_Connect");
            LG_VERBOSE("Kavo(central) connected");
            stopAwaitingSubscription();
            stopSearchConnectedDeviceTimer();
            peripheral_->stopAdvertising();
            central_->stopScan();
            break;
        case TQBLEStatus_disconnect:
            bleStatus_ = status;
            isConnected_ = false;
            // A failed connection attempt must not leave its mark for another watch.
            peripheral_->setIsConnectNewKavo(false);
            stopAwaitingSubscription();
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_disconnect");
            LG_VERBOSE("Kavo(central) disconnected in manual disconnect mode");
            if (apiDelegate_ != nullptr) {
                apiDelegate_->onDisconnect();
            }
            TQPeripheral::setWillRestore(false);
            break;
        case TQBLEStatus_AutoConnecting:
            bleStatus_ = status;
            isConnected_ = false;
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_AutoConnecting");
            LG_VERBOSE("Kavo(central) disconnected in auto connecting mode");
            peripheral_->startAdvertising();
            initiateSearchConnectedDeviceTimer();
            if (apiDelegate_ != nullptr) {
                apiDelegate_->onDisconnect();
            }
            TQPeripheral::setWillRestore(false);
            break;
        case TQBLEStatus_RestoreConnect:
            bleStatus_ = status;
            isConnected_ = true;
            if (apiDelegate_ != nullptr) {
                LG_VERBOSE("BLE_MANAGER: will restore on connect call");
                apiDelegate_->onConnect();
            }
            TQPeripheral::setWillRestore(false);
            break;
        case TQBLEStatus_StartScan:
            bleStatus_ = status;
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_StartScan");
            break;
        case TQBLEStatus_StartAdv:
            bleStatus_ = status;
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_StartAdv");
            break;
        case TQBLEStatus_Central_On:
            if (apiDelegate_ != nullptr) {
                apiDelegate_->onBleManagerStateChange(true);
            }
            bleStatus_ = status;
            break;
        case TQBLEStatus_Central_Off:
            if (apiDelegate_ != nullptr) {
                apiDelegate_->onBleManagerStateChange(false);
            }
            bleStatus_ = status;
            break;
        case TQBLEStatus_Peripheral_On:
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_Peripheral_On");
            bleStatus_ = status;
            peripheral_->startAdvertising();
            break;
        case TQBLEStatus_Peripheral_Off:
            LG_VERBOSE("BLE_MANAGER: TQBLEStatus_Peripheral_Off");
            bleStatus_ = status;
            isConnected_ = false;
            if (apiDelegate_ != nullptr) {
                apiDelegate_->onDisconnect();
            }
            TQPeripheral::setWillRestore(false);
            break;
        case TQBLEStatus_Peripheral_Resetting:
            bleStatus_ = status;
            isConnected_ = false;
            if (apiDelegate_ != nullptr) {
                LG_VERBOSE("BLE_MANAGER: resetting on disconnect call");
                apiDelegate_->onDisconnect();
            }
            TQPeripheral::setWillRestore(false);
            break;
        case TQBLEStatus_ServiceAdded:
            bleStatus_ = status;
            LG_VERBOSE("BLE_MANAGER: Service adding successful");
            searchMyKavoWhenDue();
            break;
        default:
            // Stopping a scan changes nothing here; 9 and above 15 mean nothing.
            break;
    }
}

void TQBleManager::onPeripheralDiscovered(
    const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals) {
    if (apiDelegate_ != nullptr) {
        apiDelegate_->onPeripheralDiscovered(peripherals);
    }
}

void TQBleManager::onDataSendingFailed(const platform::Value& object) {
    if (apiDelegate_ != nullptr) {
        apiDelegate_->onDataSendingFailed(object);
    }
}

void TQBleManager::onError(const TQError& error) {
    if (apiDelegate_ != nullptr) {
        apiDelegate_->onError(error);
    }
}

void TQBleManager::onDataReceived(std::span<const std::uint8_t> data) {
    if (apDelegate_ != nullptr) {
        apDelegate_->onDataReceived(data);
    }
}

void TQBleManager::onPacketSent(bool success) {
    if (apDelegate_ != nullptr) {
        apDelegate_->onPacketSent(success);
    }
}

void TQBleManager::onConnectedDeviceDiscovered(platform::bluetooth::RemotePeripheral& peripheral) {
    LG_VERBOSE("BLEMANAGER: on My Kavo Discovered: %@", peripheral.identifier().toLongString());
    connectedDevice_ = &peripheral;
    initiateConnectionTimer();
}

void TQBleManager::autoConnectionInProgress() {
    if (apiDelegate_ != nullptr) {
        apiDelegate_->autoConnectionInProgress();
    }
}

std::optional<std::string> TQBleManager::getDeviceMacFromName(
    std::optional<std::string_view> name) {
    if (!name) {
        return std::nullopt;
    }
    return TQUtils::getDeviceMacFromName(*name);
}

bool TQBleManager::isSearchTimerRunning() const {
    return searchConnectedDeviceTimer_ && searchConnectedDeviceTimer_->isValid();
}

bool TQBleManager::isAutoConnectTimerRunning() const {
    return autoConnectingTimer_ && autoConnectingTimer_->isValid();
}

void TQBleManager::initiateConnectionTimer() {
    // One pending connection: a second find replaces the first.
    if (autoConnectingTimer_) {
        autoConnectingTimer_->invalidate();
    }
    autoConnectingTimer_ =
        loop_.scheduleTimer(kAutoConnectDelay, false, [this] { expireAutoConnectingTimer(); });
}

void TQBleManager::expireAutoConnectingTimer() {
    autoConnectingTimer_.reset();
    if (connectedDevice_ != nullptr) {
        connectWithPeripheral(*connectedDevice_);
    }
    LG_VERBOSE("BLE_MANAGER: Auto Connecting Timer expired");
}

void TQBleManager::initiateSearchConnectedDeviceTimer() {
    LG_VERBOSE("BLE_MANAGER: initiate Search Connected Device Timer");
    if (searchConnectedDeviceTimer_) {
        searchConnectedDeviceTimer_->invalidate();
    }
    searchConnectedDeviceTimer_ =
        loop_.scheduleTimer(kSearchInterval, true, [this] { expireSearchConnectedDeviceTimer(); });
}

void TQBleManager::expireSearchConnectedDeviceTimer() {
    if (!isConnected_) {
        central_->searchMyKavo();
    } else {
        stopSearchConnectedDeviceTimer();
    }
    LG_VERBOSE("BLE_MANAGER: Search Connected Device Timer expired");
}

void TQBleManager::stopSearchConnectedDeviceTimer() {
    if (searchConnectedDeviceTimer_) {
        searchConnectedDeviceTimer_->invalidate();
        searchConnectedDeviceTimer_.reset();
    }
    LG_VERBOSE("BLE_MANAGER: stop Search Connected Device Timer");
}

void TQBleManager::applicationWillEnterForeground() {
    LG_VERBOSE("BLE_MANAGER: applicationWillEnterForeground");
    LG_VERBOSE("BLE_MANAGER: bleStatus: %d", bleStatus_);
    if (!isConnected_) {
        searchMyKavoWhenDue();
    }
}

void TQBleManager::applicationDidEnterBackground() {
    LG_VERBOSE("BLE_MANAGER: applicationDidEnterBackground");
}

void TQBleManager::searchMyKavoWhenDue() {
    auto& defaults = platform::UserDefaults::standard();
    const auto deviceMac = defaults.string(paired_watch::kDeviceMacKey);
    const bool isCompletedSetupWizard = defaults.boolean("isCompletedSetupWizard").value_or(false);
    if (deviceMac) {
        LG_VERBOSE("BLE_MANAGER: search my Kavo: deviceMac: %@ isCompletedSetupWizard: %d",
                   *deviceMac, isCompletedSetupWizard);
    } else {
        LG_VERBOSE("BLE_MANAGER: search my Kavo: deviceMac: %@ isCompletedSetupWizard: %d", nullptr,
                   isCompletedSetupWizard);
    }
    if (deviceMac && isCompletedSetupWizard) {
        central_->searchMyKavo();
    }
}
