#pragma once

#include <memory>

#include "platform/host/AppHost.h"

namespace platform::ui {
class Page;
}

// An alert a page presents, as the screens present their alert controllers: it shows once the
// page is on screen (asked for in viewWillAppear, it comes after viewDidAppear) and goes when
// the page leaves, so no alert of a page that left stays over what comes next. Main thread
// only.
class TQPageAlert {
public:
    // Shows the alert through the application host for page, now or once page is on screen.
    // Keeping the handle is needed only to dismiss the alert in code.
    static std::shared_ptr<TQPageAlert> present(platform::ui::Page& page, platform::Alert alert);

    // Takes the alert away, or keeps it from showing; nothing once its button was pressed.
    void dismiss();

private:
    TQPageAlert() = default;

    platform::AlertIdentifier identifier_ = platform::kAlertNone;
    bool dismissed_ = false;
};
