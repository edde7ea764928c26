#pragma once

#include "platform/foundation/Value.h"

// The icon of a phone application the watch shows beside its notifications
// ("msg_notification_app_icon_req"), looked up in the platform's store.
class TQAppIconHandler {
public:
    virtual ~TQAppIconHandler() = default;
    // Answers later, once the lookup ended; never waits on the network.
    virtual void processAppIcon(const platform::Value& message) = 0;
};
