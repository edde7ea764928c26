#include "link/TQPeripheral.h"

#include <atomic>
#include <string>
#include <utility>

#include "link/TQBLEConnectDelegate.h"
#include "link/TQBLEStatus.h"
#include "link/TQPairedWatchKeys.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "utils/TQUtils.h"

namespace {

using platform::bluetooth::AttError;
using platform::bluetooth::AttributePermissions;
using platform::bluetooth::CharacteristicProperties;
using platform::bluetooth::ManagerState;
using platform::bluetooth::MutableCharacteristic;
using platform::bluetooth::Uuid;

std::atomic<bool> restorationFlag{false};

// The log's way of making a line stand out. The delayed call's banners break the line before
// the closing stars.
std::string banner(std::string_view text, bool breakLine = false) {
    const std::string stars(29, '*');
    return stars + std::string(text) + (breakLine ? "\n" : "") + stars;
}

std::string identifierString(const platform::bluetooth::Central& central) {
    return central.identifier.toLongString();
}

void synchronizeDefaults() {
    TQUtils::synchronizeDefaults("PERIPHERAL");
}

// The restored services as the log shows them.
platform::Value describe(const platform::bluetooth::RestoredState& state) {
    platform::Array services;
    for (const auto& service : state.services) {
        platform::Array characteristics;
        for (const auto& characteristic : service.characteristics) {
            platform::Array centrals;
            for (const auto& central : state.subscribedCentrals(characteristic.uuid)) {
                centrals.emplace_back(identifierString(central));
            }
            characteristics.emplace_back(platform::Value{
                {"UUID", characteristic.uuid.toString()},
                {"subscribedCentrals", platform::Value(std::move(centrals))},
            });
        }
        services.emplace_back(platform::Value{
            {"UUID", service.uuid.toString()},
            {"characteristics", platform::Value(std::move(characteristics))},
        });
    }
    return platform::Value{{"services", platform::Value(std::move(services))}};
}

}  // namespace

const Uuid& TQPeripheral::serviceUuid() {
    static const Uuid uuid = *Uuid::parse(kServiceUuid);
    return uuid;
}

const Uuid& TQPeripheral::readCharacteristicUuid() {
    static const Uuid uuid = *Uuid::parse(kReadCharacteristicUuid);
    return uuid;
}

const Uuid& TQPeripheral::writeCharacteristicUuid() {
    static const Uuid uuid = *Uuid::parse(kWriteCharacteristicUuid);
    return uuid;
}

const Uuid& TQPeripheral::addressCharacteristicUuid() {
    static const Uuid uuid = *Uuid::parse(kAddressCharacteristicUuid);
    return uuid;
}

bool TQPeripheral::willRestore() {
    return restorationFlag.load();
}

void TQPeripheral::setWillRestore(bool value) {
    restorationFlag.store(value);
}

TQPeripheral::TQPeripheral(platform::bluetooth::Adapter& adapter) : loop_(adapter.loop()) {
    peripheralManager_ = std::make_unique<platform::bluetooth::PeripheralManager>(
        adapter, static_cast<platform::bluetooth::PeripheralManagerDelegate*>(this),
        platform::bluetooth::PeripheralManagerOptions{.restorationIdentifier = kRestoreIdentifier});
    LG_VERBOSE("PERIPHERAL: peripheral manager init");
    initService();
    isServiceAdded_ = false;
    registerNotification();
}

TQPeripheral::~TQPeripheral() {
    unregisterNotification();
    if (addServiceHandle_) {
        addServiceHandle_->timer->invalidate();
    }
    if (backgroundTask_ != platform::kBackgroundTaskInvalid) {
        platform::AppHost::current().endBackgroundTask(backgroundTask_);
    }
    peripheralManager_->setDelegate(nullptr);
}

void TQPeripheral::initService() {
    readCharacteristic_ = MutableCharacteristic{
        readCharacteristicUuid(), CharacteristicProperties::read | CharacteristicProperties::notify,
        AttributePermissions::readEncryptionRequired, std::nullopt};
    writeCharacteristic_ = MutableCharacteristic{
        writeCharacteristicUuid(),
        CharacteristicProperties::writeWithoutResponse | CharacteristicProperties::write,
        AttributePermissions::writeEncryptionRequired, std::nullopt};
    addressCharacteristic_ =
        MutableCharacteristic{addressCharacteristicUuid(), CharacteristicProperties::read,
                              AttributePermissions::readable, std::nullopt};
    kavoManagerService_ = platform::bluetooth::MutableService{
        serviceUuid(),
        true,
        {*readCharacteristic_, *writeCharacteristic_, *addressCharacteristic_}};
}

void TQPeripheral::startAdvertising() {
    if (peripheralManager_->state() == ManagerState::poweredOff) {
        advertisingReady_ = true;
        return;
    }
    LG_VERBOSE("PERIPHERAL start Advertising with uuid: %@", serviceUuid().toString());
    peripheralManager_->startAdvertising({.serviceUuids = {serviceUuid()}});
    advertisingReady_ = false;
    report(TQBLEStatus_StartAdv);
}

void TQPeripheral::stopAdvertising() {
    LG_VERBOSE("PERIPHERAL: stop advertising");
    peripheralManager_->stopAdvertising();
}

void TQPeripheral::sendPacket(std::span<const std::uint8_t> data) {
    if (!connectedCentral_) {
        LG_VERBOSE("PERIPHERAL: sending failed, connected central nil");
        if (delegate_ != nullptr) {
            LG_VERBOSE("PERIPHERAL: auto connecting");
            report(TQBLEStatus_AutoConnecting);
        }
        return;
    }
    switch (peripheralManager_->updateValue(data, readCharacteristicUuid(), *connectedCentral_)) {
        case platform::bluetooth::UpdateResult::accepted:
            ++count_;
            LG_VERBOSE("PERIPHERAL: sending successful, packet %d", count_);
            break;
        case platform::bluetooth::UpdateResult::queueFull:
            // The ready-to-update callback answers for this packet.
            return;
        case platform::bluetooth::UpdateResult::rejected:
            // Never to be sent (the watch is going away, or the value does not fit its link).
            // Taken as lost on the air, so the packet layer's retransmission and reset deal
            // with it instead of waiting for a confirmation that cannot come.
            LG_WARN("PERIPHERAL: packet of %zu bytes refused by the platform, dropped",
                    data.size());
            break;
    }
    if (delegate_ != nullptr) {
        delegate_->onPacketSent(true);
    }
}

void TQPeripheral::clearConnectedCentral() {
    connectedCentral_.reset();
    LG_VERBOSE("PERIPHERAL: connection cancelled.");
    report(TQBLEStatus_disconnect);
}

bool TQPeripheral::isBleEnabled() const {
    return peripheralManager_->state() == ManagerState::poweredOn;
}

bool TQPeripheral::isAddServiceRetryPending() const {
    return addServiceHandle_ && addServiceHandle_->shouldCall && !addServiceHandle_->didFire;
}

void TQPeripheral::registerNotification() {
    auto& center = platform::NotificationCenter::defaultCenter();
    observers_.push_back(center.addObserver(
        platform::kApplicationDidEnterBackgroundNotification,
        [this](const platform::Notification&) { applicationDidEnterBackground(); }, this));
    observers_.push_back(center.addObserver(
        platform::kApplicationWillEnterForegroundNotification,
        [this](const platform::Notification&) { applicationWillEnterForeground(); }, this));
}

void TQPeripheral::unregisterNotification() {
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const auto token : observers_) {
        center.removeObserver(token);
    }
    observers_.clear();
}

void TQPeripheral::applicationDidEnterBackground() {
    LG_VERBOSE("applicationDidEnterBackground");
    if (isAddServiceRetryPending()) {
        LG_VERBOSE("%s", banner("handle->shouldCall == 1 && handle->didFire == 0"));
        extendBackgroundRunningTime();
    }
}

void TQPeripheral::applicationWillEnterForeground() {
    LG_VERBOSE("applicationWillEnterForeground");
}

void TQPeripheral::extendBackgroundRunningTime() {
    if (backgroundTask_ != platform::kBackgroundTaskInvalid) {
        LG_VERBOSE("background task is already running");
        return;
    }
    LG_VERBOSE("Attempting to extend background running time");
    backgroundTask_ = platform::AppHost::current().beginBackgroundTask(
        "ServiceAddTask", [weak = weak_.weakPtr()] {
            if (!weak) {
                return;
            }
            LG_VERBOSE("Background task expired by iOS");
            platform::AppHost::current().endBackgroundTask(weak->backgroundTask_);
            weak->backgroundTask_ = platform::kBackgroundTaskInvalid;
        });
}

void TQPeripheral::scheduleAddServiceRetry() {
    if (platform::AppHost::current().applicationState() == platform::ApplicationState::background) {
        LG_VERBOSE("%s", banner("UIApplicationStateBackground"));
        extendBackgroundRunningTime();
    }
    // One retry at a time: two would publish the service twice.
    if (addServiceHandle_) {
        addServiceHandle_->timer->invalidate();
    }
    auto handle = std::make_unique<ControlHandle>();
    ControlHandle* raw = handle.get();
    handle->timer = loop_.scheduleTimer(kAddServiceRetryDelay, false,
                                        [this, raw] { addServiceRetryFired(*raw); });
    addServiceHandle_ = std::move(handle);
    LG_VERBOSE("Add service timer control handle: didFire:%d,  shouldCall:%d, shouldFree:%d",
               raw->didFire, raw->shouldCall, raw->shouldFree);
}

void TQPeripheral::cancelAddServiceRetry() {
    if (!addServiceHandle_) {
        LG_VERBOSE("%s", banner("service add control handeler is nil"));
        return;
    }
    LG_VERBOSE("%s", banner("service add control handeler is not nil"));
    const std::unique_ptr<ControlHandle> handle = std::move(addServiceHandle_);
    const void* address = handle.get();
    if (handle->didFire) {
        LG_VERBOSE(banner("[%p] (owner) too late, freeing myself", true).c_str(), address);
        return;
    }
    LG_VERBOSE(banner("[%p] (owner) set call=0, free=1", true).c_str(), address);
    LG_VERBOSE("PERIPHERAL: Stop add service timer");
    handle->shouldCall = false;
    handle->shouldFree = true;
    handle->timer->invalidate();
}

void TQPeripheral::addServiceRetryFired(ControlHandle& handle) {
    LG_VERBOSE(banner("[%p] (control block) call=%d, free=%d", true).c_str(),
               static_cast<const void*>(&handle), handle.shouldCall, handle.shouldFree);
    handle.didFire = true;
    LG_VERBOSE("%s%s%s", std::string(29, '*'), "Tast", std::string(38, '*'));
    LG_VERBOSE("PERIPHERAL: Add service timer expired");
    initService();
    peripheralManager_->addService(kavoManagerService_);
}

void TQPeripheral::report(std::uint64_t status) {
    if (delegate_ != nullptr) {
        delegate_->onChangeBleStatus(status);
    }
}

void TQPeripheral::peripheralManagerDidUpdateState(
    platform::bluetooth::PeripheralManager& manager) {
    const ManagerState state = manager.state();
    LG_VERBOSE("PERIPHERAL: Peripheral Manager Did Update State: %ld", static_cast<long>(state));
    switch (state) {
        case ManagerState::poweredOn:
            report(TQBLEStatus_Peripheral_On);
            LG_VERBOSE("PERIPHERAL: isServiceAdded: %d", isServiceAdded_);
            if (!isServiceAdded_) {
                LG_VERBOSE("PERIPHERAL: Add service timer start");
                scheduleAddServiceRetry();
            }
            if (advertisingReady_) {
                startAdvertising();
            }
            break;
        case ManagerState::resetting:
            manager.removeAllServices();
            isServiceAdded_ = false;
            advertisingReady_ = true;
            // The radio took every link with it; a stale watch must not be sent to or believed.
            connectedCentral_.reset();
            report(TQBLEStatus_Peripheral_Resetting);
            break;
        case ManagerState::poweredOff:
            manager.removeAllServices();
            cancelAddServiceRetry();
            isServiceAdded_ = false;
            connectedCentral_.reset();
            LG_VERBOSE("PERIPHERAL: did remove service successful");
            stopAdvertising();
            report(TQBLEStatus_Peripheral_Off);
            break;
        case ManagerState::unknown:
        case ManagerState::unsupported:
        case ManagerState::unauthorized:
            break;
    }
}

void TQPeripheral::willRestoreState(platform::bluetooth::PeripheralManager& manager,
                                    const platform::bluetooth::RestoredState& state) {
    LG_VERBOSE("PERIPHERAL: will restore state dict: %@", describe(state));
    bool restoredWithoutSubscriber = false;
    for (const auto& service : state.services) {
        if (service.uuid != serviceUuid()) {
            continue;
        }
        kavoManagerService_ = service;
        for (const auto& characteristic : service.characteristics) {
            if (characteristic.uuid == readCharacteristicUuid()) {
                readCharacteristic_ = characteristic;
            } else if (characteristic.uuid == writeCharacteristicUuid()) {
                writeCharacteristic_ = characteristic;
            } else if (characteristic.uuid == addressCharacteristicUuid()) {
                addressCharacteristic_ = characteristic;
            }
        }
        const auto subscribers = state.subscribedCentrals(readCharacteristicUuid());
        if (subscribers.empty()) {
            restoredWithoutSubscriber = true;
            continue;
        }
        connectedCentral_ = subscribers.front();
        isServiceAdded_ = true;
        setWillRestore(true);
        LG_VERBOSE("PERIPHERAL: connected Central: %@", identifierString(*connectedCentral_));
        report(TQBLEStatus_RestoreConnect);
    }
    if (restoredWithoutSubscriber && !isServiceAdded_) {
        // Power-on adds the service again; the kept copy would stand beside it twice.
        manager.removeAllServices();
    }
}

void TQPeripheral::didAddService(platform::bluetooth::PeripheralManager& manager,
                                 const platform::bluetooth::MutableService& /*service*/,
                                 const std::optional<platform::Error>& error) {
    if (error) {
        LG_VERBOSE("PERIPHERAL: did add service with error: %@", error->message);
        manager.removeAllServices();
        LG_VERBOSE("PERIPHERAL: Remove service and add service timer start");
        scheduleAddServiceRetry();
        return;
    }
    if (backgroundTask_ != platform::kBackgroundTaskInvalid) {
        LG_VERBOSE("%s",
                   banner("inBackground == YES && backgroundTask != UIBackgroundTaskInvalid"));
        platform::AppHost::current().endBackgroundTask(backgroundTask_);
        backgroundTask_ = platform::kBackgroundTaskInvalid;
    }
    isServiceAdded_ = true;
    LG_VERBOSE("PERIPHERAL: did add service successful");
    report(TQBLEStatus_ServiceAdded);
}

void TQPeripheral::centralDidSubscribe(platform::bluetooth::PeripheralManager& /*manager*/,
                                       const platform::bluetooth::Central& central,
                                       const Uuid& /*characteristic*/) {
    auto& defaults = platform::UserDefaults::standard();
    const std::string identifier = identifierString(central);
    LG_VERBOSE("PERIPHERAL: new kavo saved temporary with central identifier: %@", identifier);
    defaults.set(paired_watch::kTempCentralIdentifierKey, identifier);
    synchronizeDefaults();
    if (delegate_ != nullptr) {
        LG_VERBOSE("PERIPHERAL: RESET_KAVO_NO");
        delegate_->sendResetKavoRequest(false);
    }
    if (isConnectNewKavo_) {
        LG_VERBOSE("PERIPHERAL: new kavo connected with central identifier: %@", identifier);
        defaults.set(paired_watch::kCentralIdentifierKey, identifier);
        defaults.set(identifier, paired_watch::kConnectedMark);
        synchronizeDefaults();
        isConnectNewKavo_ = false;
    }
    connectedCentral_ = central;
    LG_VERBOSE("PERIPHERAL: did subscribe to characteristic");
    report(TQBLEStatus_Connect);
}

void TQPeripheral::centralDidUnsubscribe(platform::bluetooth::PeripheralManager& /*manager*/,
                                         const platform::bluetooth::Central& central,
                                         const Uuid& /*characteristic*/) {
    if (!connectedCentral_ || connectedCentral_->identifier != central.identifier) {
        LG_VERBOSE("PERIPHERAL: old central didUnsubscribeFromCharacteristic: %@",
                   identifierString(central));
        return;
    }
    connectedCentral_.reset();
    LG_VERBOSE("PERIPHERAL: did unsubscribe from characteristic");
    if (isManualDisconnect_) {
        LG_VERBOSE("PERIPHERAL: manual disconnect");
        report(TQBLEStatus_disconnect);
    } else {
        LG_VERBOSE("PERIPHERAL: auto connecting");
        report(TQBLEStatus_AutoConnecting);
    }
}

void TQPeripheral::didReceiveWriteRequests(
    platform::bluetooth::PeripheralManager& manager,
    const std::vector<platform::bluetooth::AttRequest>& requests) {
    platform::Bytes buffer;
    for (const auto& request : requests) {
        if (connectedCentral_ && connectedCentral_->identifier == request.central.identifier) {
            manager.respond(request, AttError::success);
            buffer.insert(buffer.end(), request.value.begin(), request.value.end());
        } else {
            LG_VERBOSE(
                "PERIPHERAL: Data received from old celtral or subscribed central is nil: %@",
                identifierString(request.central));
            manager.respond(request, AttError::writeNotPermitted);
        }
    }
    if (!buffer.empty() && delegate_ != nullptr) {
        delegate_->onDataReceived(buffer);
    }
}

void TQPeripheral::didReceiveReadRequest(platform::bluetooth::PeripheralManager& manager,
                                         const platform::bluetooth::AttRequest& request) {
    LG_VERBOSE("PERIPHERAL: didReceiveReadRequest");
    auto& defaults = platform::UserDefaults::standard();
    const auto deviceMac = defaults.string(paired_watch::kDeviceMacKey);
    if (!deviceMac || !addressCharacteristic_) {
        LG_VERBOSE("PERIPHERAL: didReceiveReadRequest respondToRequest with application error");
        manager.respond(request, kNoAddressError);
        if (delegate_ != nullptr) {
            delegate_->autoConnectionInProgress();
        }
        return;
    }
    platform::bluetooth::AttRequest answer = request;
    answer.value.assign(deviceMac->begin(), deviceMac->end());
    manager.respond(answer, AttError::success);
    LG_VERBOSE("PERIPHERAL: didReceiveReadRequest respondToRequest");

    const auto previous = defaults.string(paired_watch::kCentralIdentifierKey);
    const std::string current = identifierString(request.central);
    if (previous) {
        LG_VERBOSE("previousCentralIdentifier: %@, currentCentralIdentifier: %@", *previous,
                   current);
    } else {
        LG_VERBOSE("previousCentralIdentifier: %@, currentCentralIdentifier: %@", nullptr, current);
    }
    if (previous && *previous == current &&
        defaults.string(*previous) == paired_watch::kConnectedMark && delegate_ != nullptr) {
        delegate_->autoConnectionInProgress();
    }
}

void TQPeripheral::isReadyToUpdateSubscribers(platform::bluetooth::PeripheralManager& /*manager*/) {
    LG_VERBOSE("PERIPHERAL: peripheralManagerIsReadyToUpdateSubscribers");
    if (delegate_ != nullptr) {
        delegate_->onPacketSent(false);
    }
}
