#pragma once

// The carrier number sync's rules for the phone application's call categories
// (TQNumberSyncViewController).
class TQNumberSyncHandler {
public:
    virtual ~TQNumberSyncHandler() = default;

    // Brings "BLOCKED_APPS_LIST" in line with "number_sync_register" and "number_sync_state"
    // and posts "number_sync_state_changed".
    virtual void updateBlockAppForNumberSync() = 0;
};
