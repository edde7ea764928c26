#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "link/TQAPDelegate.h"
#include "link/TQInitSeqDelegate.h"
#include "platform/foundation/Replaceable.h"

class TQAP;
class TQInitSequenceHandler;
struct TQHandlers;

// The application-wide listener of the link: the standing delegate of the link facade. Turns
// every link event into a notification of the default centre, hands every received message to
// a fresh TQCommandListener, and on each connection either resumes a link the platform
// restored or starts the post-connect handshake. Runs on the main thread.
//
// Notifications, each with its payload as the object: "onDiscoverDevicesNotification" (array
// of {"identifier", "name"} per discovered watch), "onConnectDeviceNotification",
// "onDisconnectDeviceNotification", "onBleManagerStateChangeNotification" (Boolean),
// "autoConnectionProgress", "onDataReceivedNotification" ({"data", "appId"}),
// "onErrorNotification" ({"errorCode", "errorDescription"}) and
// "onSyncInitSettingResNotification" (Boolean).
class TQCoreManager final : public TQAPDelegate,
                            public TQInitSeqDelegate,
                            public std::enable_shared_from_this<TQCoreManager>,
                            public platform::Replaceable<TQCoreManager> {
public:
    // The application's manager, which its composition root made and installed.
    static TQCoreManager& sharedManager();
    // A manager that takes kavoManager's delegate role at once. The facade holds the manager;
    // the manager refers to the facade and the handlers, which must outlive it.
    static std::shared_ptr<TQCoreManager> create(TQAP& kavoManager, const TQHandlers& handlers);

    // Takes the facade's delegate role back, from a pairing screen that held it.
    void setup();
    [[nodiscard]] TQAP& kavoManager() const { return kavoManager_; }
    // What the manager hands the watch's messages to; pairing pages that hold the facade's
    // delegate role hand theirs to the same.
    [[nodiscard]] const TQHandlers& handlers() const { return handlers_; }

    // The handshake with the watch is complete and the watch is in use ("isWMSConnected").
    [[nodiscard]] static bool isWMSConnected();
    // The watch's power-saving mode ("POWER_SAVING_STATUS"), 0 when never told.
    [[nodiscard]] static std::int32_t powerSavingStatus();

    // Tells the watch the phone's new locale: it answers with its lists in that language.
    void sendCurrentLocaleOnly(std::string_view locale);

    // TQAPDelegate
    void onDiscoverDevices(
        const std::vector<platform::bluetooth::RemotePeripheral*>& devices) override;
    void onConnectDevice() override;
    void onDisconnectDevice() override;
    void onBleManagerStateChange(bool enabled) override;
    void onDataReceiveCompleted(std::span<const std::uint8_t> data, std::uint32_t appId) override;
    void onError(const TQError& error) override;
    void autoConnectionInProgress() override;

    // TQInitSeqDelegate; only the settings result means anything to the manager.
    void onSyncInitSettingRes(bool isReconnecting) override;
    void onAppUserAgreementRes(bool /*success*/, bool /*locked*/,
                               const platform::Value& /*reason*/) override {}
    void onSetupWizardEulaFinishedRes(bool /*success*/, const platform::Value& /*reason*/,
                                      bool /*isReconnecting*/) override {}
    void onReactivationLockSetRes(bool /*success*/, const platform::Value& /*reason*/) override {}
    void onReactivationLockUnlockRes(bool /*success*/, const platform::Value& /*reason*/) override {
    }

private:
    TQCoreManager(TQAP& kavoManager, const TQHandlers& handlers)
        : kavoManager_(kavoManager), handlers_(handlers) {}

    void resumeRestoredConnection();
    void startFreshConnection();
    void recordConnectionUsage();

    TQAP& kavoManager_;
    const TQHandlers& handlers_;
    TQInitSequenceHandler* initializationSeq_ = nullptr;
};
