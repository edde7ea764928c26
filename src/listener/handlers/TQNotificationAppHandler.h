#pragma once

#include "platform/foundation/Value.h"

// The phone applications whose notifications reach the watch: its blocked-application list
// ("msg_notification_block_info_req").
class TQNotificationAppHandler {
public:
    virtual ~TQNotificationAppHandler() = default;
    virtual void processUpdateBlockApplicationList(const platform::Value& message) = 0;
};
