#pragma once

namespace platform {
class RunLoop;
class UserDefaults;
class NotificationCenter;
}  // namespace platform

// What the screens stand on, handed to every factory of the storyboard by the composition
// root. Screens that need more of the system add it here; everything named outlives the
// storyboard.
struct TQScreenServices {
    platform::RunLoop& loop;
    platform::UserDefaults& defaults;
    platform::NotificationCenter& center;
};
