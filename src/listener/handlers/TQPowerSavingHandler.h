#pragma once

#include "platform/foundation/Value.h"

// The watch's power-saving state ("mgr_ups_mode_ind").
class TQPowerSavingHandler {
public:
    virtual ~TQPowerSavingHandler() = default;
    virtual void processUPS(const platform::Value& message) = 0;
};
