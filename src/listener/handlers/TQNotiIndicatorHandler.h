#pragma once

#include "platform/foundation/Value.h"

// The watch's notification-indicator switch ("mgr_noti_indicator_req").
class TQNotiIndicatorHandler {
public:
    virtual ~TQNotiIndicatorHandler() = default;
    virtual void processNotiIndicatorRequest(const platform::Value& message) = 0;
};
