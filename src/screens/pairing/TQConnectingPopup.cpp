#include "screens/pairing/TQConnectingPopup.h"

#include <utility>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Navigation.h"
#include "platform/ui/Window.h"
#include "ui/TQPageAlert.h"
#include "ui/TQPopUpviewUtils.h"
#include "utils/TQLocalization.h"

TQConnectingPopup::TQConnectingPopup(platform::ui::Page& page, std::function<void()> giveUp)
    : page_(page), giveUp_(std::move(giveUp)) {}

TQConnectingPopup::~TQConnectingPopup() {
    stopLooking();
}

void TQConnectingPopup::show() {
    if (isShown()) {
        return;
    }
    // Two carriage returns make room under the texts, as the pop-up has always been laid out.
    alert_ = TQPageAlert::present(
        page_, platform::Alert{.title = "", .message = "\r\r", .buttons = {}, .pressed = {}},
        [](platform::ui::AlertView& view) {
            view.setName("connectingPopup");
            TQPopUpviewUtils::connectingView(
                view, TQLocalization::localizedString("IDS_BT_BODY_CONNECTING_ING"));
        });
    lookAfter(kFirstLook);
}

bool TQConnectingPopup::isShown() const {
    return alert_ != nullptr && alert_->isShowing();
}

void TQConnectingPopup::close() {
    stopLooking();
    if (alert_) {
        alert_->dismiss();
        alert_.reset();
    }
}

void TQConnectingPopup::stopLooking() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
}

void TQConnectingPopup::lookAfter(double seconds) {
    stopLooking();
    timer_ = platform::RunLoop::main().scheduleTimer(seconds, false,
                                                     page_.guarded([this] { look(); }));
}

void TQConnectingPopup::look() {
    timer_.reset();
    if (!calledOnConnected_) {
        close();
        if (giveUp_) {
            giveUp_();
        }
        return;
    }
    calledOnConnected_ = false;
    lookAfter(kNextLook);
}
