#pragma once

#include "platform/foundation/Value.h"

// The icons of the watch applications ("mgr_wappsicon_res"), kept in the per-watch folder.
class TQWatchAppIconHandler {
public:
    virtual ~TQWatchAppIconHandler() = default;
    virtual void saveAppIcon(const platform::Value& message) = 0;
};
