#pragma once

#include <cstdint>
#include <span>

// What the packet protocol needs of the Bluetooth manager.
//
// One packet at a time: for every packet given to sendData the transport reports
// onPacketSent exactly once to its TQBlePacketTransferDelegate, with true from inside sendData
// when the packet was accepted, or with false later, once the transport that refused it can
// take it again. While no watch is subscribed nothing is reported at all.
class TQPacketTransport {
public:
    virtual ~TQPacketTransport() = default;

    virtual bool isConnected() = 0;
    // The packet is copied before the call returns.
    virtual void sendData(std::span<const std::uint8_t> packet) = 0;
};
