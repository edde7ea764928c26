#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Result.h"

namespace platform {

// The desktop's name for a notice it shows; 0 names none.
using NoticeId = std::uint32_t;

// What the desktop shows of a local notification; what it leads to stays with the caller.
struct DesktopNotice {
    std::string title;
    std::string body;
    // A button that opens the notice, besides a click on the notice itself.
    std::optional<std::string> actionLabel;
    bool defaultSound = true;
};

// The desktop's notification service. Everything it reports runs on its loop's thread.
class DesktopNotifier {
public:
    using Shown = std::function<void(Result<NoticeId> shown)>;
    struct Events {
        // The user opened the notice: clicked it or pressed its button.
        std::function<void(NoticeId)> opened;
        // It went away (expired, dismissed, or its server left); no event names it again.
        std::function<void(NoticeId)> closed;
    };

    virtual ~DesktopNotifier() = default;

    // Shows notice now; shown gets its id, or why nobody will see it (no notification server).
    virtual void show(const DesktopNotice& notice, Shown shown) = 0;
    virtual void setEvents(Events events) = 0;
};

}  // namespace platform
