#pragma once

#include "platform/foundation/Value.h"

// The address-book synchronisation to the watch (TQContactMgr): one per process, bound to the
// link it was first made with.
class TQContactHandler {
public:
    virtual ~TQContactHandler() = default;

    // "Request_Initial_Sync_Contact" starts a full sync, "Request_Resume_Sync_Contact" a delta
    // sync; ignored while a sync runs.
    virtual void processResponse(const platform::Value& message) = 0;
};
