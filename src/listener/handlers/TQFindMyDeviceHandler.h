#pragma once

#include "platform/foundation/Value.h"

// The find-my-phone alarm: "fmp-startalert-req", "fmp-founddevice-rsp", "fmp-stopalert-req".
class TQFindMyDeviceHandler {
public:
    virtual ~TQFindMyDeviceHandler() = default;
    virtual void processFindMyDevice(const platform::Value& message) = 0;
};
