#pragma once

#include <functional>
#include <memory>

#include "platform/host/AppHost.h"

namespace platform::ui {
class AlertView;
class Page;
}  // namespace platform::ui

// An alert a page presents, as the screens present their alert controllers: it shows once the
// page is on screen (asked for in viewWillAppear, it comes after viewDidAppear) and goes when
// the page leaves, so no alert of a page that left stays over what comes next. Main thread
// only.
class TQPageAlert {
public:
    // Shows the alert through the application host for page, now or once page is on screen.
    // Keeping the handle is needed only to dismiss the alert in code.
    static std::shared_ptr<TQPageAlert> present(platform::ui::Page& page, platform::Alert alert);
    // The same, and where the alert is drawn in the window, dress is given its view once it
    // shows (a tag, the connecting spinner); a host without a window has none to give.
    using Dressing = std::function<void(platform::ui::AlertView& view)>;
    static std::shared_ptr<TQPageAlert> present(platform::ui::Page& page, platform::Alert alert,
                                                Dressing dress);

    // Whether it was asked for and has neither gone nor been dismissed (a host without
    // screens shows it nowhere, yet it counts as shown).
    [[nodiscard]] bool isShowing() const { return !dismissed_ && !answered_; }

    // Takes the alert away, or keeps it from showing; nothing once its button was pressed.
    void dismiss();

private:
    TQPageAlert() = default;

    platform::AlertIdentifier identifier_ = platform::kAlertNone;
    bool dismissed_ = false;
    bool answered_ = false;
};
