#include "ui/TQPageAlert.h"

#include <utility>

#include "platform/ui/Navigation.h"

std::shared_ptr<TQPageAlert> TQPageAlert::present(platform::ui::Page& page,
                                                  platform::Alert alert) {
    std::shared_ptr<TQPageAlert> handle(new TQPageAlert());
    page.whenOnScreen([handle, alert = std::move(alert)] {
        if (!handle->dismissed_) {
            handle->identifier_ = platform::AppHost::current().showAlert(alert);
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
