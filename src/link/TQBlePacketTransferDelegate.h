#pragma once

#include <cstdint>
#include <span>

// What the Bluetooth manager reports to the packet protocol, on the main thread.
class TQBlePacketTransferDelegate {
public:
    virtual ~TQBlePacketTransferDelegate() = default;

    // One packet from the watch (the values of one write callback, joined).
    virtual void onDataReceived(std::span<const std::uint8_t> packet) = 0;
    // The fate of the packet last handed to TQPacketTransport::sendData: true, it went out;
    // false, it was refused and the transport is ready for it again.
    virtual void onPacketSent(bool success) = 0;
};
