#pragma once

#include "platform/foundation/Value.h"

// The phone's location and exercise provider (TQLbsServerProvider): one per process.
class TQLbsHandler {
public:
    virtual ~TQLbsHandler() = default;

    // Answers "lbs-tracking-location-req", "lbs-location-setting-check-req" and
    // "lbs-exercise-info-req" itself.
    virtual void processSubCommand(const platform::Value& message) = 0;
};
