#include "app/headless/HeadlessSetup.h"

#include "app/AppContext.h"
#include "link/TQAP.h"
#include "link/TQCentral.h"
#include "link/TQError.h"
#include "link/TQKMCommand.h"
#include "listener/TQCommandListener.h"
#include "listener/TQCoreManager.h"
#include "listener/TQInitSequence.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/system/DeviceInfo.h"
#include "utils/TQKeyChainWrapper.h"
#include "utils/TQUtils.h"

using platform::Value;

std::shared_ptr<HeadlessSetup> HeadlessSetup::create(TQAP& kavoManager, TQInitSequence& sequence,
                                                     TQCoreManager& coreManager,
                                                     platform::HeadlessScreenNavigator& navigator,
                                                     ReadyToPair readyToPair, GoingHome goingHome) {
    return std::shared_ptr<HeadlessSetup>(new HeadlessSetup(kavoManager, sequence, coreManager,
                                                            navigator, std::move(readyToPair),
                                                            std::move(goingHome)));
}

void HeadlessSetup::start() {
    LG_INFO("Headless set-up: looking for a watch in setup mode");
    kavoManager_.setDelegate(shared_from_this());
    sequence_.setDelegate(this);
    kavoManager_.scannedDeviceNames().clear();
    kavoManager_.scanForDevices();
}

void HeadlessSetup::onDiscoverDevices(
    const std::vector<platform::bluetooth::RemotePeripheral*>& /*devices*/) {
    tryPairing();
}

void HeadlessSetup::tryPairing() {
    platform::bluetooth::RemotePeripheral* watch = kavoManager_.getNearestPeripheral();
    if (connecting_ || finished_ || watch == nullptr || retry_ != nullptr) {
        return;
    }
    if (readyToPair_ && !readyToPair_()) {
        retry_ = platform::RunLoop::main().scheduleTimer(kPairingRetry, false,
                                                         [weak = weak_from_this()] {
                                                             if (auto self = weak.lock()) {
                                                                 self->retry_.reset();
                                                                 self->tryPairing();
                                                             }
                                                         });
        return;
    }
    LG_INFO("Headless set-up: connecting %@",
            watch->name().value_or(watch->identifier().toLongString()));
    connecting_ = true;
    kavoManager_.stopScanForDevices();
    platform::UserDefaults::standard().set("hiddenConditionBitSet", hiddenConditionFlag(*watch));
    kavoManager_.connectDevice(*watch);
}

void HeadlessSetup::onConnectDevice() {
    auto& defaults = platform::UserDefaults::standard();
    if (const auto* device = kavoManager_.getConnectedDevice()) {
        defaults.set("deviceUUID", device->identifier().toLongString());
        defaults.set("connectedDeviceName", device->name() ? Value(*device->name()) : Value());
    }
    TQUtils::synchronizeDefaults("Headless set-up");
    sequence_.setDelegate(this);
    sequence_.startInit();
}

void HeadlessSetup::onDisconnectDevice() {
    if (finished_) {
        return;
    }
    LG_WARN("Headless set-up: the watch went away during the set-up; looking again");
    connecting_ = false;
    kavoManager_.scannedDeviceNames().clear();
    kavoManager_.scanForDevices();
}

void HeadlessSetup::onBleManagerStateChange(bool enabled) {
    LG_INFO("Headless set-up: Bluetooth %@", enabled ? "on" : "off");
}

void HeadlessSetup::onDataReceiveCompleted(std::span<const std::uint8_t> data,
                                           std::uint32_t appId) {
    if (appId != TQKMCommand::kGeneralAppId) {
        TQCommandListener(kavoManager_, coreManager_.handlers()).processReceivedData(data, appId);
        return;
    }
    const auto message = TQKMCommand::processInCommand(data);
    if (message && message->isDictionary()) {
        sequence_.processResponse(*message);
    }
}

void HeadlessSetup::onError(const TQError& error) {
    LG_WARN("Headless set-up: link error %@: %@", error.errorCode(), error.errorDescription());
}

void HeadlessSetup::onSyncInitSettingRes(bool isReconnecting) {
    if (isReconnecting) {
        finish();
        return;
    }
    // No optional consent is given without a person to give it.
    sequence_.sendAppUserAgreementReq(false, false, false);
}

void HeadlessSetup::onAppUserAgreementRes(bool success, bool locked, const Value& reason) {
    if (!success) {
        LG_ERROR("Headless set-up: the watch refused the consents (%@); the set-up stops here",
                 reason);
    } else if (locked) {
        LG_ERROR(
            "Headless set-up: the watch is reactivation-locked; unlocking it needs the account "
            "screens, so the set-up stops here");
    } else {
        sequence_.sendSetupWizardEulaFinishedReq();
    }
}

void HeadlessSetup::onSetupWizardEulaFinishedRes(bool success, const Value& /*reason*/,
                                                 bool /*isReconnecting*/) {
    if (success) {
        completeOobe();
    }
    // The sequence has stored the set-up whatever the watch answered.
    finish();
}

void HeadlessSetup::completeOobe() {
    // The phone's own identifier, kept once: the usage logs name the phone by it.
    if (!TQKeyChainWrapper::keychainStringFromMatchingIdentifier(kDeviceUUIDKey) &&
        !TQKeyChainWrapper::createKeychainValue(platform::DeviceInfo::current().vendorIdentifier(),
                                                kDeviceUUIDKey)) {
        LG_ERROR("Headless set-up: the phone's identifier was not kept; no usage logs");
    }
    platform::UserDefaults::standard().set(AppContext::kOobeCompletedKey, true);
    if (goingHome_) {
        goingHome_();
    }
}

void HeadlessSetup::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    coreManager_.setup();
    sequence_.setDelegate(&coreManager_);
    // What the home screen does when it first shows.
    platform::UserDefaults::standard().set("isCompletedSetupWizard", true);
    TQUtils::synchronizeDefaults("Headless set-up");
    navigator_.setHomeScreenRoot(true);
    LG_INFO("Headless set-up: complete; the watch is in use");
}
