#pragma once

#include "platform/foundation/Value.h"

// The results of the handshake that follows a new link, for the one object that wants them:
// the core manager, or the setup screen that is showing. Called on the main thread.
class TQInitSeqDelegate {
public:
    virtual ~TQInitSeqDelegate() = default;

    // After every settings reply; true when the handshake has just finished as a reconnection.
    virtual void onSyncInitSettingRes(bool isReconnecting) = 0;
    // The consents were taken ("result" was "success"); locked: the watch's reactivation lock.
    virtual void onAppUserAgreementRes(bool success, bool locked,
                                       const platform::Value& reason) = 0;
    // The set-up was stored and the watch marked connected.
    virtual void onSetupWizardEulaFinishedRes(bool success, const platform::Value& reason,
                                              bool isReconnecting) = 0;
    virtual void onReactivationLockSetRes(bool success, const platform::Value& reason) = 0;
    virtual void onReactivationLockUnlockRes(bool success, const platform::Value& reason) = 0;
};
