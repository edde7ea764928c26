#pragma once

// The buddy synchronisation (TQBuddyUtil): "contacts-getbuddy-req" refreshes the stored buddies
// from the address book and sends the list. Called on the main loop; the work runs elsewhere.
class TQBuddySyncHandler {
public:
    virtual ~TQBuddySyncHandler() = default;
    virtual void performNativeSync() = 0;
};
