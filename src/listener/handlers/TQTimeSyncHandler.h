#pragma once

#include <cstdint>

// Time and time-format synchronisation with the watch.
class TQTimeSyncHandler {
public:
    virtual ~TQTimeSyncHandler() = default;
    // "mgr_sync_time_req".
    virtual void processTimeRequest() = 0;
    // "mgr_systemtime_req": the watch's time and the time it was received, in milliseconds
    // since 1970.
    virtual void processSystemTimeRequest(std::int64_t t1, std::int64_t t2) = 0;
};
