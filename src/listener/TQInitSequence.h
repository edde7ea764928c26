#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/TQInitSeqDelegate.h"
#include "link/TQJSONParser.h"
#include "listener/handlers/TQInitSequenceHandler.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Value.h"

class TQAP;
struct TQHandlers;

// The handshake that follows every new link to a watch not yet marked connected: the phone
// learns who the watch is, decides between the known watch coming back (a reconnection) and a
// watch to set up, swaps status documents with it, fetches its application and face lists and
// swaps settings. A reconnection ends by itself with the watch's settings; a new set-up stays
// open while the setup screens take consents and ends when the watch says the setup wizard is
// finished. The end stores the watch's identity and settings per watch, marks it connected
// ("isWMSConnected" = 1) and starts the work that needs a connected watch.
//
// Every step waits for the watch's next message; there are no timers. A run ends at most once:
// settings replies after the first of a run only refresh the number-sync flags, and a second
// "finished" reply only reaches the delegate. Runs on the main thread.
class TQInitSequence final : public TQInitSequenceHandler,
                             public platform::Replaceable<TQInitSequence> {
public:
    // The application's sequence, which its composition root made and installed over
    // kavoManager; asking for it with another link is a fault of the program.
    static TQInitSequence& getInstance(TQAP& kavoManager);
    // The link and the handlers must outlive the sequence.
    TQInitSequence(TQAP& kavoManager, const TQHandlers& handlers)
        : kavoManager_(kavoManager), handlers_(handlers) {}

    // Borrowed; the last setter receives every later result and must clear it before it goes.
    void setDelegate(TQInitSeqDelegate* delegate) override { delegate_ = delegate; }
    [[nodiscard]] TQInitSeqDelegate* delegate() const { return delegate_; }
    [[nodiscard]] TQAP& kavoManager() const { return kavoManager_; }

    void startInit() override;
    void processResponse(const platform::Value& message) override;

    // Requests of the setup screens; the answers come back through the delegate.
    void sendAppUserAgreementReq(bool ondra, bool fmdAndFmk, bool errorLog);
    void sendReactivationLockSetReq(std::string_view authCode, std::string_view authURL,
                                    bool isQuorvelDevice);
    void sendReactivationLockUnlockReq(std::string_view authCode, std::string_view authURL,
                                       bool keepSetting, bool isQuorvelDevice);
    // result: the scanned eSIM voucher text, or "skip".
    void processEsimActivationReq(std::string_view result);
    void sendSetupWizardEulaFinishedReq();

    // The phone's status document for the watch.
    [[nodiscard]] std::string generateHostXml() const;
    // The hardware the phone runs on.
    [[nodiscard]] static std::string modelName();

    [[nodiscard]] const platform::Dictionary& connectingKavoInfo() const {
        return connectingKavoInfo_;
    }
    [[nodiscard]] bool isReconnecting() const { return isReconnecting_; }
    [[nodiscard]] bool isLocaleChanged() const { return isLocaleChanged_; }
    [[nodiscard]] bool stateDetermined() const { return stateDetermined_; }

private:
    void sendReq(const platform::Value& message);
    void sendWappsListReq();
    void sendSyncInitSettingReq();
    void sendGPSStatus();
    void reqAppOrderList();
    void registerMusicNotification();
    void removeAppIcons(const std::optional<std::string>& modelNumber);
    void exchangePushSettings();

    void processWatchInfoRes(const platform::Value& message);
    void processWearableStatusInd(const platform::Value& message);
    void processStatusExchangeDone(const platform::Value& message);
    void processWappsListRes(const platform::Value& message);
    void processClocksListRes(const platform::Value& message);
    void processSyncInitSettingRes(const platform::Value& message);
    void processAppUserAgreementRes(const platform::Value& message);
    void processReactivationLockSet(const platform::Value& message);
    void processReactivationLockUnlock(const platform::Value& message);
    void processSetupEulaFinishedRes(const platform::Value& message);

    // A list reply: written at once while connected or refetched for a new locale, and kept
    // for the end of the run otherwise (and when refetched during a run).
    void keepList(const platform::Value& message, std::string_view fileName);
    void finishReconnection(const platform::Value& settings);
    void finishNewSetUp();
    // The stores and defaults both roads end with; the identity stored in "kavo_info.plist".
    void storeIdentity(const platform::Dictionary& userSettings, const platform::Value& indicator,
                       const platform::Value& voiceCall);
    // Both roads end with the user settings group and "isWMSConnected" = 1.
    void markConnected(const platform::Dictionary& userSettings);
    // Order list, location status, music observers, [update check,] push settings.
    void startConnectedWork(bool checkForUpdate);

    TQAP& kavoManager_;
    const TQHandlers& handlers_;
    TQJSONParser parser_;
    TQInitSeqDelegate* delegate_ = nullptr;

    platform::Dictionary connectingKavoInfo_;
    bool isReconnecting_ = false;
    bool isLocaleChanged_ = false;
    bool stateDetermined_ = false;
    // This run's settings reply was handled; this run ended.
    bool settingsReceived_ = false;
    bool runEnded_ = false;
};
