#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "link/TQError.h"
#include "platform/bluetooth/RemotePeripheral.h"

// What the link facade reports to the one object that owns the link's events: the core
// manager, or a pairing screen while it is shown. Called on the main thread.
class TQAPDelegate {
public:
    virtual ~TQAPDelegate() = default;

    virtual void onDiscoverDevices(
        const std::vector<platform::bluetooth::RemotePeripheral*>& devices) = 0;
    // The watch finished the handshake, or the platform restored the link.
    virtual void onConnectDevice() = 0;
    virtual void onDisconnectDevice() = 0;
    // Whether Bluetooth is usable.
    virtual void onBleManagerStateChange(bool enabled) = 0;
    // One message from the watch, without its header byte.
    virtual void onDataReceiveCompleted(std::span<const std::uint8_t> data,
                                        std::uint32_t appId) = 0;
    virtual void onError(const TQError& error) = 0;
    virtual void autoConnectionInProgress() = 0;
};
