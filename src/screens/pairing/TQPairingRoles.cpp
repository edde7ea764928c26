#include "screens/pairing/TQPairingRoles.h"

#include <utility>

#include "link/TQAP.h"
#include "link/TQAPDelegate.h"
#include "link/TQInitSeqDelegate.h"
#include "link/TQKMCommand.h"
#include "listener/TQCommandListener.h"
#include "listener/TQInitSequence.h"
#include "logging/LGLog.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/ui/Navigation.h"

class TQPairingRoles::Receiver final : public TQAPDelegate, public TQInitSeqDelegate {
public:
    void holdFor(platform::ui::Page& page, TQPairingEvents& events, TQPairingLink link) {
        page_ = page.weakPage();
        events_ = &events;
        link_.emplace(link);
    }

    // TQAPDelegate
    void onDiscoverDevices(
        const std::vector<platform::bluetooth::RemotePeripheral*>& devices) override {
        if (auto* events = target()) {
            events->onDiscoverDevices(devices);
        }
    }
    void onConnectDevice() override {
        if (auto* events = target()) {
            events->onConnectDevice();
        }
    }
    void onDisconnectDevice() override {
        if (auto* events = target()) {
            events->onDisconnectDevice();
        }
    }
    void onBleManagerStateChange(bool enabled) override {
        if (auto* events = target()) {
            events->onBleManagerStateChange(enabled);
        }
    }
    void onDataReceiveCompleted(std::span<const std::uint8_t> data, std::uint32_t appId) override {
        if (!link_) {
            return;
        }
        if (appId != TQKMCommand::kGeneralAppId) {
            TQCommandListener(link_->kavoManager, link_->handlers).processReceivedData(data, appId);
            return;
        }
        const auto message = TQKMCommand::processInCommand(data);
        if (message && message->isDictionary()) {
            link_->sequence.processResponse(*message);
        } else {
            LG_WARN("Pairing: a message on identifier 1 that is no dictionary is dropped");
        }
    }
    void onError(const TQError& error) override {
        if (auto* events = target()) {
            events->onError(error);
        }
    }
    void autoConnectionInProgress() override {
        if (auto* events = target()) {
            events->autoConnectionInProgress();
        }
    }

    // TQInitSeqDelegate
    void onSyncInitSettingRes(bool isReconnecting) override {
        if (auto* events = target()) {
            events->onSyncInitSettingRes(isReconnecting);
        }
    }
    void onAppUserAgreementRes(bool /*success*/, bool /*locked*/,
                               const platform::Value& /*reason*/) override {}
    void onSetupWizardEulaFinishedRes(bool /*success*/, const platform::Value& /*reason*/,
                                      bool /*isReconnecting*/) override {}
    void onReactivationLockSetRes(bool /*success*/, const platform::Value& /*reason*/) override {}
    void onReactivationLockUnlockRes(bool /*success*/, const platform::Value& /*reason*/) override {
    }

private:
    // The page's events while it has not left.
    TQPairingEvents* target() const { return page_ ? events_ : nullptr; }

    platform::WeakPtr<platform::ui::Page> page_;
    TQPairingEvents* events_ = nullptr;
    std::optional<TQPairingLink> link_;
};

TQPairingRoles::TQPairingRoles(LinkSource source)
    : source_(std::move(source)), receiver_(std::make_shared<Receiver>()) {}

TQPairingRoles::~TQPairingRoles() {
    if (const auto up = link()) {
        if (up->sequence.delegate() == receiver_.get()) {
            up->sequence.setDelegate(nullptr);
        }
    }
}

std::optional<TQPairingLink> TQPairingRoles::link() const {
    return source_ ? source_() : std::nullopt;
}

bool TQPairingRoles::take(platform::ui::Page& page, TQPairingEvents& events) {
    const auto up = link();
    if (!up) {
        LG_INFO("Pairing: %@ has no link to hold", page.className());
        return false;
    }
    receiver_->holdFor(page, events, *up);
    up->kavoManager.setDelegate(receiver_);
    up->sequence.setDelegate(receiver_.get());
    return true;
}
