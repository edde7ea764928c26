#include "listener/TQTimeSync.h"

#include <algorithm>
#include <string>

#include "link/TQAP.h"
#include "listener/TQGeneralReply.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "platform/system/DeviceInfo.h"

using platform::Value;

TQTimeSync::TQTimeSync(TQAP& kavoManager, platform::RunLoop& loop)
    : kavoManager_(kavoManager), loop_(loop) {}

TQTimeSync::~TQTimeSync() {
    for (const auto& timer : pending_) {
        timer->invalidate();
    }
}

void TQTimeSync::processTimeRequest() {
    const std::int64_t now = TQWallClock::current().millisecondsSince1970();
    const Value dateTime{{"msgId", "mgr_only_sync_date_time_req"},
                         {"datetimeepoch", std::to_string(now)}};
    sendGeneralReply(kavoManager_, dateTime);
    LG_VERBOSE("processTimeRequest : %@", dateTime);
    sendGeneralReply(kavoManager_,
                     Value{{"msgId", "mgr_sync_time_zone_req"},
                           {"data", platform::DeviceInfo::current().timeZone(now / 1000).name}});
    start1224Timer();
}

void TQTimeSync::start1224Timer() {
    loop_.post([weak = weak_.weakPtr()] {
        TQTimeSync* self = weak.get();
        if (self == nullptr) {
            return;
        }
        LG_VERBOSE("start1224Timer");
        // The timer's own address names it, so the callback can find its entry.
        auto holder = std::make_shared<const platform::Timer*>(nullptr);
        auto timer = self->loop_.scheduleTimer(k1224Delay, false, [weak, holder] {
            if (TQTimeSync* owner = weak.get()) {
                owner->expire1224Timer(*holder);
            }
        });
        *holder = timer.get();
        self->pending_.push_back(std::move(timer));
    });
}

void TQTimeSync::expire1224Timer(const platform::Timer* timer) {
    std::erase_if(pending_, [timer](const auto& held) { return held.get() == timer; });
    LG_VERBOSE("expire1224Timer");
    if (kavoManager_.isConnected()) {
        sendDate1224Format();
    }
}

void TQTimeSync::sendDate1224Format() {
    const std::string format = platform::DeviceInfo::current().showsAmPm() ? "12" : "24";
    LG_VERBOSE("sendDate1224Format: %@", format);
    sendGeneralReply(kavoManager_, Value{{"msgId", "mgr_sync_time_1224_time"}, {"data", format}});
}

void TQTimeSync::processSystemTimeRequest(std::int64_t t1, std::int64_t t2) {
    const std::int64_t t3 = TQWallClock::current().millisecondsSince1970();
    LG_VERBOSE("processSystemTimeRequest , t1: %lld t2:%lld t3:%lld", t1, t2, t3);
    sendGeneralReply(kavoManager_,
                     Value{{"msgId", "mgr_systemtime_res"}, {"t1", t1}, {"t2", t2}, {"t3", t3}});
}
