#include "ui/TQPageAlert.h"

#include <utility>

#include "platform/ui/Navigation.h"
#include "ui/TQWindowHost.h"

std::shared_ptr<TQPageAlert> TQPageAlert::present(platform::ui::Page& page,
                                                  platform::Alert alert) {
    return present(page, std::move(alert), nullptr);
}

std::shared_ptr<TQPageAlert> TQPageAlert::present(platform::ui::Page& page, platform::Alert alert,
                                                  Dressing dress) {
    std::shared_ptr<TQPageAlert> handle(new TQPageAlert());
    // The handle learns of the answer before the caller does, so that a caller asking whether
    // its alert still shows hears the truth.
    std::weak_ptr<TQPageAlert> weak = handle;
    alert.pressed = [weak, pressed = std::move(alert.pressed)](std::size_t button) {
        if (auto shown = weak.lock()) {
            shown->answered_ = true;
            shown->identifier_ = platform::kAlertNone;
        }
        if (pressed) {
            pressed(button);
        }
    };
    page.whenOnScreen([handle, alert = std::move(alert), dress = std::move(dress)] {
        if (handle->dismissed_) {
            return;
        }
        auto& host = platform::AppHost::current();
        handle->identifier_ = host.showAlert(alert);
        if (!dress || handle->identifier_ == platform::kAlertNone) {
            return;
        }
        if (const auto* window = dynamic_cast<const TQWindowAppHost*>(&host)) {
            if (platform::ui::AlertView* view = window->alertView(handle->identifier_)) {
                dress(*view);
            }
        }
    });
    page.whenLeaving([handle] { handle->dismiss(); });
    return handle;
}

void TQPageAlert::dismiss() {
    dismissed_ = true;
    if (identifier_ != platform::kAlertNone) {
        // The host forgets an alert whose button was pressed, and ignores it here.
        platform::AppHost::current().dismissAlert(std::exchange(identifier_, platform::kAlertNone));
    }
}
