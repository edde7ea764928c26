#pragma once

#include "listener/handlers/TQNotificationAppHandler.h"
#include "platform/foundation/Value.h"

class TQAP;

// The watch's request to block a phone application's notifications: the entry joins
// "BLOCKED_APPS_LIST" unless it is there, and the watch is answered on identifier 7.
class TQNotificationApps final : public TQNotificationAppHandler {
public:
    explicit TQNotificationApps(TQAP& kavoManager) : kavoManager_(kavoManager) {}

    // Entries of the stored list that do not decode are passed over in the search and written
    // back as they were.
    void processUpdateBlockApplicationList(const platform::Value& message) override;

private:
    TQAP& kavoManager_;
};
