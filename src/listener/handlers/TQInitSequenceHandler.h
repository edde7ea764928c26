#pragma once

#include "link/TQInitSeqDelegate.h"
#include "platform/foundation/Value.h"

// The handshake that follows every new link to a watch not yet marked connected
// (TQInitSequence): one per process, bound to the link it was first made with.
class TQInitSequenceHandler {
public:
    virtual ~TQInitSequenceHandler() = default;

    // Borrowed; the last setter receives every later result.
    virtual void setDelegate(TQInitSeqDelegate* delegate) = 0;
    // Starts a run: the watch is marked not connected and asked for its information.
    virtual void startInit() = 0;
    // One decoded message of the watch; what is not the sequence's own is ignored.
    virtual void processResponse(const platform::Value& message) = 0;
};
