#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/host/AppHost.h"
#include "platform/host/DesktopNotifier.h"

namespace platform {

// The host's local notifications on the desktop: each is shown once its fireDelay has passed
// on the loop, and opening it hands its userInfo to the handler given. A notice the desktop
// cannot show goes to `unshown` instead, so nothing is lost silently. Lives on the loop's
// thread.
class LocalNotifications {
public:
    using Unshown = std::function<void(const LocalNotification& notification, const Error& why)>;
    // The most notices whose userInfo is kept for an opening; past it the oldest is forgotten
    // (a server that never says a notice closed must not grow this without end).
    static constexpr std::size_t kMaxKept = 64;
    static constexpr double kMaxDelay = 366.0 * 24 * 3600;

    LocalNotifications(RunLoop& loop, DesktopNotifier& notifier, Unshown unshown);
    ~LocalNotifications();
    LocalNotifications(const LocalNotifications&) = delete;
    LocalNotifications& operator=(const LocalNotifications&) = delete;

    void schedule(const LocalNotification& notification);
    void onOpened(std::function<void(const Dictionary& userInfo)> opened);

    // Scheduled and not yet handed to the desktop.
    [[nodiscard]] std::size_t pending() const;
    // Shown and not known to be closed.
    [[nodiscard]] std::size_t shown() const { return shown_.size(); }

private:
    void fire(const std::shared_ptr<Timer>& timer, const LocalNotification& notification);

    RunLoop& loop_;
    DesktopNotifier& notifier_;
    Unshown unshown_;
    std::function<void(const Dictionary&)> opened_;
    std::vector<std::shared_ptr<Timer>> timers_;
    std::map<NoticeId, Dictionary> shown_;
    WeakPtrFactory<LocalNotifications> weak_{*this, loop_};
};

}  // namespace platform
