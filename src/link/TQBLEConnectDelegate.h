#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "link/TQError.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/foundation/Value.h"

// What the Bluetooth roles (TQCentral, TQPeripheral) report to the Bluetooth manager.
class TQBLEConnectDelegate {
public:
    virtual ~TQBLEConnectDelegate() = default;

    // A TQBLEStatus code.
    virtual void onChangeBleStatus(std::uint64_t status) = 0;
    // The central role's live list of pairable watches.
    virtual void onPeripheralDiscovered(
        const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals) = 0;
    virtual void onDataSendingFailed(const platform::Value& object) = 0;
    virtual void onError(const TQError& error) = 0;
    // One packet from the watch.
    virtual void onDataReceived(std::span<const std::uint8_t> data) = 0;
    // true: the packet went out; false: it was refused and is to be sent again.
    virtual void onPacketSent(bool success) = 0;
    virtual void sendResetKavoRequest(bool flag) = 0;
    // The paired watch, found again by a search.
    virtual void onConnectedDeviceDiscovered(platform::bluetooth::RemotePeripheral& peripheral) = 0;
    virtual void autoConnectionInProgress() = 0;
};
