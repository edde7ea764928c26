#pragma once

#include <vector>

#include "link/TQError.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/foundation/Value.h"

// What the Bluetooth manager reports to the link facade.
class TQBleResponseDelegate {
public:
    virtual ~TQBleResponseDelegate() = default;

    virtual void onConnect() = 0;
    virtual void onDisconnect() = 0;
    // Whether Bluetooth is usable.
    virtual void onBleManagerStateChange(bool enabled) = 0;
    virtual void onPeripheralDiscovered(
        const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals) = 0;
    virtual void onDataSendingFailed(const platform::Value& object) = 0;
    virtual void onError(const TQError& error) = 0;
    virtual void sendResetKavoRequest(bool flag) = 0;
    virtual void autoConnectionInProgress() = 0;
};
