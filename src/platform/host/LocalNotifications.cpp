#include "platform/host/LocalNotifications.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/foundation/LogSink.h"

namespace platform {

LocalNotifications::LocalNotifications(RunLoop& loop, DesktopNotifier& notifier, Unshown unshown)
    : loop_(loop), notifier_(notifier), unshown_(std::move(unshown)) {
    notifier_.setEvents(DesktopNotifier::Events{
        .opened =
            [weak = weak_.weakPtr()](NoticeId id) {
                auto* self = weak.get();
                if (self == nullptr) {
                    return;
                }
                const auto found = self->shown_.find(id);
                if (found == self->shown_.end()) {
                    return;
                }
                // userInfo may be personal: the log names the notice only.
                PLATFORM_LOG_INFO("LocalNotifications: notice ", id, " opened");
                if (self->opened_) {
                    // A copy: the handler may schedule or close notices meanwhile.
                    const Dictionary userInfo = found->second;
                    self->opened_(userInfo);
                }
            },
        .closed =
            [weak = weak_.weakPtr()](NoticeId id) {
                if (auto* self = weak.get()) {
                    self->shown_.erase(id);
                }
            },
    });
}

LocalNotifications::~LocalNotifications() {
    for (const auto& timer : timers_) {
        timer->invalidate();
    }
    notifier_.setEvents({});
}

void LocalNotifications::schedule(const LocalNotification& notification) {
    // A delay that is no positive number means now; one past a year is a year.
    const double delay =
        notification.fireDelay > 0 ? std::min(notification.fireDelay, kMaxDelay) : 0.0;
    auto holder = std::make_shared<std::weak_ptr<Timer>>();
    auto timer = loop_.scheduleTimer(delay, false,
                                     [weak = weak_.weakPtr(), holder, notification] {
                                         auto* self = weak.get();
                                         auto timer = holder->lock();
                                         if (self != nullptr && timer != nullptr) {
                                             self->fire(timer, notification);
                                         }
                                     });
    *holder = timer;
    timers_.push_back(std::move(timer));
}

void LocalNotifications::fire(const std::shared_ptr<Timer>& timer,
                              const LocalNotification& notification) {
    std::erase(timers_, timer);
    DesktopNotice notice{.title = notification.title,
                         .body = notification.body,
                         .actionLabel = notification.alertAction,
                         .defaultSound = notification.defaultSound};
    notifier_.show(notice, [weak = weak_.weakPtr(), notification](Result<NoticeId> shown) {
        auto* self = weak.get();
        if (self == nullptr) {
            return;
        }
        if (!shown.ok()) {
            if (self->unshown_) {
                self->unshown_(notification, shown.error());
            }
            return;
        }
        self->shown_[*shown] = notification.userInfo;
        if (self->shown_.size() > kMaxKept) {
            // Servers number their notices upwards: the smallest is the oldest.
            self->shown_.erase(self->shown_.begin());
        }
    });
}

void LocalNotifications::onOpened(std::function<void(const Dictionary& userInfo)> opened) {
    opened_ = std::move(opened);
}

std::size_t LocalNotifications::pending() const {
    return timers_.size();
}

}  // namespace platform
