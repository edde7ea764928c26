#pragma once

#include <functional>

namespace platform {
namespace ui {
class ContactPicker;
}
namespace ui::web {
class WebViewFactory;
}
namespace photos {
class PhotoLibrary;
}
namespace mail {
class MailComposer;
}
class RunLoop;
class UserDefaults;
class NotificationCenter;
}  // namespace platform

class TQPairingRoles;
class TQCoreManager;

// What the screens stand on, handed to every factory of the storyboard by the composition
// root. Screens that need more of the system add it here; everything named outlives the
// storyboard.
struct TQScreenServices {
    platform::RunLoop& loop;
    platform::UserDefaults& defaults;
    platform::NotificationCenter& center;
    // The web views of the store, the sign-in, the user manual and the legal texts; where the
    // machine has none it says why, and the screens show their failure.
    platform::ui::web::WebViewFactory& webViews;
    // The address book's picker, for adding a buddy.
    platform::ui::ContactPicker& contactPicker;
    // The user's photos, for the photo picker.
    platform::photos::PhotoLibrary& photos;
    // The one mail layer, also the crash report's: the feedback mail goes through it, and it
    // says whether mail can be sent at all.
    platform::mail::MailComposer& mail;
    // The link's delegate roles for the pairing pages; none where no link can come up (the
    // pages then say so and stay idle).
    TQPairingRoles* pairing = nullptr;
    // The link's core manager while the link is up, null before it comes and after it goes;
    // the link facade is its kavoManager().
    std::function<TQCoreManager*()> coreManager;

    // The core manager now; null without a link.
    [[nodiscard]] TQCoreManager* link() const { return coreManager ? coreManager() : nullptr; }
};
