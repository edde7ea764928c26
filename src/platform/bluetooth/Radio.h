#pragma once

#include <cstdint>
#include <vector>

#include "platform/bluetooth/Types.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"

namespace platform::bluetooth {

// A connection between two devices, as its radio names it.
using LinkId = std::uint64_t;

// This device's part in a link: the central opened it and is the ATT client; the peripheral
// accepted it and serves its GATT database on it.
enum class LinkRole { central, peripheral };

// What became of a PDU handed to Radio::send.
enum class SendResult {
    // Taken; it leaves unless the link ends first.
    queued,
    // A flow-controlled PDU found the transmit queue full; linkReady follows once there is room.
    queueFull,
    // Never to be sent: empty or longer than any MTU, on a link that is gone or going, or to a
    // peer that stopped reading (its link then ends, and linkClosed tells).
    refused,
};

// What a radio reports to the stack above it (the Adapter). Always called on the run loop given
// to Radio::start, never from inside a call into the radio.
class RadioClient {
public:
    virtual void radioStateChanged(ManagerState state) = 0;
    virtual void advertisementReceived(const Uuid& advertiser, const AdvertisementData& data,
                                       int rssi) = 0;
    virtual void linkOpened(LinkId link, const Uuid& peer, LinkRole role) = 0;
    // A connect() that will not complete.
    virtual void connectFailed(const Uuid& peer, const Error& reason) = 0;
    // Closed by the peer or the air; never follows this side's own disconnect().
    virtual void linkClosed(LinkId link, const Error& reason) = 0;
    // One delivery: PDUs that arrived together, in order. The writes among them reach the
    // application as one callback, which may take their values as one piece, so a radio groups
    // only what its air defines as one batch.
    virtual void pdusReceived(LinkId link, std::vector<Bytes> pdus) = 0;
    // A flow-controlled send was refused and the link has room again, or the link is gone.
    virtual void linkReady(LinkId link) = 0;

protected:
    ~RadioClient() = default;
};

// What carries a device's Bluetooth: advertising, scanning, links and ATT PDUs over them. The
// stack above (Adapter, GATT server and client, managers) is the same for every radio; the
// in-process simulated air, the local-socket air and BlueZ (bluez/) implement this.
//
// Calls may come from any thread; events go to the client on the loop only.
class Radio {
public:
    virtual ~Radio() = default;

    [[nodiscard]] virtual const Uuid& identifier() const = 0;
    // Once, before anything else: where events go. The first state is state() at this point.
    virtual void start(RadioClient& client, RunLoop& loop) = 0;
    // Whenever the state leaves poweredOn every link and pending connect ends with it, and only
    // radioStateChanged tells: no linkClosed or connectFailed follows for them.
    [[nodiscard]] virtual ManagerState state() const = 0;

    virtual void startAdvertising(const AdvertisementData& data) = 0;
    virtual void stopAdvertising() = 0;
    virtual void startScanning() = 0;
    virtual void stopScanning() = 0;
    // The radio can reach a device of that identifier now or could find it later.
    [[nodiscard]] virtual bool knows(const Uuid& peer) const = 0;

    // Pending until linkOpened or connectFailed; no time-out.
    virtual void connect(const Uuid& peer) = 0;
    virtual void cancelConnect(const Uuid& peer) = 0;
    // Closes the link; the peer sees linkClosed, this side nothing more.
    virtual void disconnect(LinkId link) = 0;
    // Queues one PDU. A flow-controlled one (notification, write command) finds the link's
    // transmit queue full at times, and linkReady follows once there is room.
    virtual SendResult send(LinkId link, Bytes pdu, bool flowControlled) = 0;
    // The services the GATT server publishes now (none after a removal). A radio whose air
    // carries ATT itself ignores them; one under a host stack that serves GATT on its own
    // (BlueZ) publishes them there and turns the stack's calls into PDUs on its links.
    virtual void servicesChanged(const std::vector<MutableService>& /*services*/) {}
};

}  // namespace platform::bluetooth
