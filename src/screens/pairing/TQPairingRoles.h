#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "link/TQError.h"
#include "platform/bluetooth/RemotePeripheral.h"

class TQAP;
class TQAppManager;
class TQInitSequence;
struct TQHandlers;

namespace platform::ui {
class Page;
}

// The link as the pairing pages use it while it is up. Everything named belongs to the link,
// which the composition root makes and takes down.
struct TQPairingLink {
    TQAP& kavoManager;
    TQInitSequence& sequence;
    // What the command listener hands the watch's other messages to.
    const TQHandlers& handlers;
    // The defaults a newly connected watch starts with.
    TQAppManager& appManager;
};

// What a pairing page hears of the link while it holds the roles. On the main thread.
class TQPairingEvents {
public:
    virtual ~TQPairingEvents() = default;

    virtual void onDiscoverDevices(
        const std::vector<platform::bluetooth::RemotePeripheral*>& /*devices*/) {}
    virtual void onConnectDevice() {}
    virtual void onDisconnectDevice() {}
    virtual void onBleManagerStateChange(bool /*enabled*/) {}
    virtual void onError(const TQError& /*error*/) {}
    virtual void autoConnectionInProgress() {}
    virtual void onSyncInitSettingRes(bool /*isReconnecting*/) {}
};

// The link's and the handshake's delegate roles, held for whichever pairing page took them
// last: the welcome page, the scan list and the connecting page each take them every time
// they appear, so that what the link reports after going back or unwinding reaches the page
// on screen. Whatever page holds them, the watch's messages go on to the handshake
// (application identifier 1) or to a command listener (any other). A page that has left
// hears nothing more. The composition root keeps one for the program, outliving the pages;
// main thread only.
class TQPairingRoles {
public:
    // The link while it is up; nothing otherwise.
    using LinkSource = std::function<std::optional<TQPairingLink>()>;

    explicit TQPairingRoles(LinkSource source);
    // The handshake forgets its delegate when it is still this object's.
    ~TQPairingRoles();
    TQPairingRoles(const TQPairingRoles&) = delete;
    TQPairingRoles& operator=(const TQPairingRoles&) = delete;

    [[nodiscard]] std::optional<TQPairingLink> link() const;
    // Makes page, through events, the receiver of the link's and the handshake's news; false
    // (and nothing changes) while the link is down. events belongs to page.
    bool take(platform::ui::Page& page, TQPairingEvents& events);

private:
    class Receiver;

    LinkSource source_;
    std::shared_ptr<Receiver> receiver_;
};
