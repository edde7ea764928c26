#include "services/TQFindMyDevice.h"

#include <string>
#include <utility>

#include "link/TQKMCommand.h"
#include "logging/LGLog.h"
#include "services/TQFinderMediaPlayer.h"
#include "utils/TQLocalization.h"

using platform::Value;

namespace {

bool textIs(const Value& message, std::string_view key, std::string_view expected) {
    const std::string* text = message[key].stringIf();
    return text != nullptr && *text == expected;
}

}  // namespace

TQCustomAlertView::TQCustomAlertView(TQFinderMediaPlayer& mediaPlayer, TQAP& kavoManager,
                                     std::function<void()> removeFromSuperview)
    : mediaPlayer_(mediaPlayer),
      kavoManager_(kavoManager),
      removeFromSuperview_(std::move(removeFromSuperview)) {}

void TQCustomAlertView::okButtonPressed() {
    stopFindMyDevice();
    TQKMCommand::processOutCommand(&kavoManager_,
                                   Value{{"cmd", "findMyDevice"}, {"subcmd", "stop"}});
}

void TQCustomAlertView::stopFindMyDevice() {
    removeFromSuperview_();
    mediaPlayer_.stopPlayback();
}

TQFindMyDevice::TQFindMyDevice(TQAP& kavoManager, TQFinderMediaPlayer& musicPlayer)
    : kavoManager_(kavoManager),
      musicPlayer_(musicPlayer),
      alert_(musicPlayer, kavoManager, [this] { removeAlert(); }) {}

TQFindMyDevice::~TQFindMyDevice() {
    removeAlert();
}

void TQFindMyDevice::showAlert() {
    showing_ = true;
    if (presenter_ != nullptr) {
        presenter_->present(alert_);
        return;
    }
    platform::Alert alert;
    alert.title = TQLocalization::localizedString("IDS_FMP_HEADER_FIND_MY_PHONE");
    alert.message =
        TQLocalization::localizedString("IDS_FMP_BODY_YOUR_WATCH_IS_LOOKING_FOR_THIS_PHONE");
    alert.buttons = {TQLocalization::localizedString("IDS_COM_SK_OK")};
    // The host calls back only while the alert shows, and it goes before this does.
    alert.pressed = [this](std::size_t /*button*/) {
        alertId_ = platform::kAlertNone;
        alert_.okButtonPressed();
    };
    alertId_ = platform::AppHost::current().showAlert(std::move(alert));
}

void TQFindMyDevice::removeAlert() {
    if (showing_ && presenter_ != nullptr) {
        presenter_->remove();
    }
    showing_ = false;
    if (alertId_ != platform::kAlertNone) {
        platform::AppHost::current().dismissAlert(std::exchange(alertId_, platform::kAlertNone));
    }
}

void TQFindMyDevice::processFindMyDevice(const Value& message) {
    if (textIs(message, "msgId", "fmp-startalert-req") || textIs(message, "subcmd", "start")) {
        if (!musicPlayer_.isPlaying() && !showing_) {
            LG_INFO("TQFindMyDevice: the watch rings the phone");
            musicPlayer_.playAudio();
            showAlert();
        }
        reply(Value{{"cmd", "findMyDevice"},
                    {"msgId", "fmp-startalert-rsp"},
                    {"reason", 0},
                    {"result", 0}});
    } else if (textIs(message, "msgId", "fmp-founddevice-rsp")) {
        // Nothing to do: the watch says it was found.
    } else if (textIs(message, "msgId", "fmp-stopalert-req")) {
        reply(Value{{"cmd", "findMyDevice"},
                    {"msgId", "fmp-stopalert-rsp"},
                    {"reason", "0"},
                    {"result", "success"}});
    } else if (textIs(message, "subcmd", "stop")) {
        if (musicPlayer_.isPlaying() && showing_) {
            alert_.stopFindMyDevice();
        }
    }
}

void TQFindMyDevice::reply(const Value& message) {
    TQKMCommand::processOutCommand(&kavoManager_, message, TQKMCommand::kFindMyDeviceAppId,
                                   TQKMCommand::kNormalPriority);
}
