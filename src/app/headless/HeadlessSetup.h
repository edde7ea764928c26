#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "link/TQAPDelegate.h"
#include "link/TQInitSeqDelegate.h"

class TQAP;
class TQCoreManager;
class TQInitSequence;

namespace platform {
class HeadlessScreenNavigator;
class Timer;
}  // namespace platform

// Stands in for the pairing and setup pages while the application has no screens: pairs with
// the first watch in setup mode that comes near, through the calls the welcome page makes, and
// answers the setup pages the way a user who grants no optional consent would. Holds the
// link's and the sequence's delegate roles from start() until the set-up is over, then gives
// them to the core manager and marks the setup wizard completed with the home screen as root.
// A set-up the watch confirmed ends as the consent page ends it: the phone's identifier kept in
// the keychain ("deviceUUID", which the usage logs need), "oobe_is_completed", then the owner's
// going-home step (the connection's usage log and the first featured page).
// A reactivation-locked watch needs the account screens: the set-up stops there, logged.
// The sequence holds it as a plain delegate until the end, so it must live until finished or
// until the process ends (the link holds it as its delegate meanwhile). Runs on the main thread.
class HeadlessSetup final : public TQAPDelegate,
                            public TQInitSeqDelegate,
                            public std::enable_shared_from_this<HeadlessSetup> {
public:
    // Says whether the phone's link service is published: a watch looks for it as soon as it
    // is connected, and leaves a phone without it.
    using ReadyToPair = std::function<bool()>;
    // What the consent page does on its way home after a confirmed set-up.
    using GoingHome = std::function<void()>;
    static constexpr const char* kDeviceUUIDKey = "deviceUUID";
    // How often a found watch is tried again while the phone is not ready for it.
    static constexpr double kPairingRetry = 0.5;

    // All four must outlive the set-up.
    static std::shared_ptr<HeadlessSetup> create(TQAP& kavoManager, TQInitSequence& sequence,
                                                 TQCoreManager& coreManager,
                                                 platform::HeadlessScreenNavigator& navigator,
                                                 ReadyToPair readyToPair,
                                                 GoingHome goingHome = nullptr);

    HeadlessSetup(const HeadlessSetup&) = delete;
    HeadlessSetup& operator=(const HeadlessSetup&) = delete;

    // Takes the delegate roles and looks for a watch in setup mode.
    void start();
    [[nodiscard]] bool isFinished() const { return finished_; }

    // TQAPDelegate
    void onDiscoverDevices(
        const std::vector<platform::bluetooth::RemotePeripheral*>& devices) override;
    void onConnectDevice() override;
    void onDisconnectDevice() override;
    void onBleManagerStateChange(bool enabled) override;
    void onDataReceiveCompleted(std::span<const std::uint8_t> data, std::uint32_t appId) override;
    void onError(const TQError& error) override;
    void autoConnectionInProgress() override {}

    // TQInitSeqDelegate
    void onSyncInitSettingRes(bool isReconnecting) override;
    void onAppUserAgreementRes(bool success, bool locked, const platform::Value& reason) override;
    void onSetupWizardEulaFinishedRes(bool success, const platform::Value& reason,
                                      bool isReconnecting) override;
    void onReactivationLockSetRes(bool /*success*/, const platform::Value& /*reason*/) override {}
    void onReactivationLockUnlockRes(bool /*success*/, const platform::Value& /*reason*/) override {
    }

private:
    HeadlessSetup(TQAP& kavoManager, TQInitSequence& sequence, TQCoreManager& coreManager,
                  platform::HeadlessScreenNavigator& navigator, ReadyToPair readyToPair,
                  GoingHome goingHome)
        : kavoManager_(kavoManager),
          sequence_(sequence),
          coreManager_(coreManager),
          navigator_(navigator),
          readyToPair_(std::move(readyToPair)),
          goingHome_(std::move(goingHome)) {}

    void tryPairing();
    void completeOobe();
    void finish();

    TQAP& kavoManager_;
    TQInitSequence& sequence_;
    TQCoreManager& coreManager_;
    platform::HeadlessScreenNavigator& navigator_;
    ReadyToPair readyToPair_;
    GoingHome goingHome_;
    std::shared_ptr<platform::Timer> retry_;
    bool connecting_ = false;
    bool finished_ = false;
};
