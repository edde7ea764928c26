#pragma once

#include <functional>

// How the link ended one outgoing message.
struct TQSendOutcome {
    enum class Kind {
        acknowledged,        // the watch acknowledged every packet
        sentUnacknowledged,  // every packet was handed to Bluetooth; nothing more is known
        // The link gave up on it: it never went out whole, or the watch's acknowledgement
        // never came (the watch may have it all the same).
        dropped,
    };
    enum class DropReason {
        none,              // not dropped
        notConnected,      // no watch was connected when it was to go
        disconnected,      // the link went down while it waited or was under way
        reset,             // this side gave up on a window and reset both sides
        peerReset,         // the watch reset the transfer
        unencodable,       // it could not be compressed into packets
        reservedPriority,  // priority 3 is reserved for file segments
    };

    Kind kind = Kind::dropped;
    DropReason reason = DropReason::none;

    static constexpr TQSendOutcome acknowledged() { return {Kind::acknowledged, DropReason::none}; }
    static constexpr TQSendOutcome sentUnacknowledged() {
        return {Kind::sentUnacknowledged, DropReason::none};
    }
    static constexpr TQSendOutcome dropped(DropReason why) { return {Kind::dropped, why}; }

    friend constexpr bool operator==(const TQSendOutcome&, const TQSendOutcome&) = default;
};

// Hears the outcome of one message, once, on the link's run loop.
using TQSendCompletion = std::function<void(const TQSendOutcome&)>;
