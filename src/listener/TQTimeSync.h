#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "listener/handlers/TQTimeSyncHandler.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"

class TQAP;

// The phone's time, zone and clock format for the watch. Each "mgr_sync_time_req" starts a
// timer of its own: the 12/24-hour format follows a second later, when the link is still up.
class TQTimeSync final : public TQTimeSyncHandler {
public:
    static constexpr double k1224Delay = 1.0;

    TQTimeSync(TQAP& kavoManager, platform::RunLoop& loop);
    ~TQTimeSync() override;
    TQTimeSync(const TQTimeSync&) = delete;
    TQTimeSync& operator=(const TQTimeSync&) = delete;

    void processTimeRequest() override;
    void processSystemTimeRequest(std::int64_t t1, std::int64_t t2) override;
    // "12" when the user's short time format shows AM or PM, else "24".
    void sendDate1224Format();

    [[nodiscard]] std::size_t pendingFormatSends() const { return pending_.size(); }

private:
    void start1224Timer();
    void expire1224Timer(const platform::Timer* timer);

    TQAP& kavoManager_;
    platform::RunLoop& loop_;
    std::vector<std::shared_ptr<platform::Timer>> pending_;
    platform::WeakPtrFactory<TQTimeSync> weak_{*this, loop_};
};
