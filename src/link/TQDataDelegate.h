#pragma once

#include <cstdint>
#include <span>

#include "link/TQSendOutcome.h"

// What the packet protocol tells the link facade.
class TQDataDelegate {
public:
    virtual ~TQDataDelegate() = default;

    // Once for every message handed down, in the order they were handed down, with how it
    // ended: acknowledged, sent without acknowledgement, or dropped and why. Either way the
    // send path is free for the next one.
    virtual void onDataSendCompleted(const TQSendOutcome& outcome) = 0;
    // One whole message from the watch, header byte included.
    virtual void onDataReceiveCompleted(std::span<const std::uint8_t> message) = 0;
    virtual void onPingReceived() = 0;
    virtual void onResetCmdReceived() = 0;
};
