#pragma once

#include <span>
#include <vector>

#include "link/TQPacketTransport.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/bluetooth/Uuid.h"

class TQBleResponseDelegate;
class TQBlePacketTransferDelegate;

// What the link facade and the packet protocol use of the Bluetooth manager. TQBleManager is
// the one implementation; tests of the layers above give their own.
class TQBleManagerInterface : public TQPacketTransport {
public:
    // Link events go to responseDelegate, packet events to packetDelegate; both borrowed.
    virtual void setDelegate(TQBleResponseDelegate* responseDelegate,
                             TQBlePacketTransferDelegate* packetDelegate) = 0;

    virtual void scanForPeripherals() = 0;
    virtual void stopScanForPeripherals() = 0;
    virtual void connectWithPeripheral(platform::bluetooth::RemotePeripheral& peripheral) = 0;
    // Drops the subscribed watch as a manual disconnection.
    virtual void clearConnectedCentral() = 0;
    virtual std::vector<platform::bluetooth::RemotePeripheral*> getConnectedPeripherals(
        std::span<const platform::bluetooth::Uuid> identifiers) = 0;
    // The next unsubscription counts as manual.
    virtual void disconnect() = 0;
    [[nodiscard]] virtual bool isBleEnabled() = 0;
    // The watch the central role connected to, while the link is up through a subscription.
    [[nodiscard]] virtual platform::bluetooth::RemotePeripheral* getConnectedDevice() = 0;
    // The nearest pairable watch of the current scan, while not connected.
    [[nodiscard]] virtual platform::bluetooth::RemotePeripheral* getNearestPeripheral() = 0;
    virtual void sendResetKavoRequest(bool flag) = 0;
};
