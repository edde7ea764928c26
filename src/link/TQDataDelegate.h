#pragma once

#include <cstdint>
#include <span>

// What the packet protocol tells the link facade.
class TQDataDelegate {
public:
    virtual ~TQDataDelegate() = default;

    // Once for every message handed down, whether it went out or was dropped (link down,
    // reset): the send path is free for the next one.
    virtual void onDataSendCompleted() = 0;
    // One whole message from the watch, header byte included.
    virtual void onDataReceiveCompleted(std::span<const std::uint8_t> message) = 0;
    virtual void onPingReceived() = 0;
    virtual void onResetCmdReceived() = 0;
};
