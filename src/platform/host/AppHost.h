#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Value.h"

namespace platform {

// The values the phone platform uses, so that logs and tests read the same numbers.
enum class ApplicationState { active = 0, inactive = 1, background = 2 };

enum class LayoutDirection { leftToRight = 0, rightToLeft = 1 };

// A notification shown by the system while the application is not in front. userInfo tells
// the application what to do when the user opens it.
struct LocalNotification {
    double fireDelay = 0;  // seconds after it is scheduled
    std::string title;
    std::string body;
    std::optional<std::string> alertAction;
    bool defaultSound = true;
    Dictionary userInfo;
};

// The application as the system around it sees it: its state, the notifications it raises
// and the links it hands over. The only road from core code to the system's user interface;
// only the host that carries the screens implements it. Called on the main thread.
class AppHost : public Replaceable<AppHost> {
public:
    virtual ~AppHost() = default;

    [[nodiscard]] virtual ApplicationState applicationState() const = 0;
    [[nodiscard]] virtual LayoutDirection userInterfaceLayoutDirection() const = 0;
    virtual void scheduleLocalNotification(const LocalNotification& notification) = 0;
    // Whether some application took the link.
    virtual bool openURL(std::string_view url) = 0;

    // The installed host, else a headless one that is always active and left-to-right and
    // writes what it cannot show to standard error.
    static AppHost& current();
};

}  // namespace platform
