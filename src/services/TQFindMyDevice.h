#pragma once

#include <functional>

#include "listener/handlers/TQFindMyDeviceHandler.h"
#include "platform/foundation/Value.h"
#include "platform/host/AppHost.h"

class TQAP;
class TQFinderMediaPlayer;

// The find-my-phone overlay while the screens are not there: it holds the alarm and the link,
// shows or not, and has the stop button the user presses.
class TQCustomAlertView {
public:
    TQCustomAlertView(TQFinderMediaPlayer& mediaPlayer, TQAP& kavoManager,
                      std::function<void()> removeFromSuperview);

    // The user's stop: the alarm stops, the overlay goes and the watch is told.
    void okButtonPressed();
    // The overlay goes and the alarm stops.
    void stopFindMyDevice();

private:
    TQFinderMediaPlayer& mediaPlayer_;
    TQAP& kavoManager_;
    std::function<void()> removeFromSuperview_;
};

// Puts the find-my-phone overlay on screen in a program with screens; its stop button is the
// alarm's okButtonPressed. Without one the overlay is an alert through the application host.
class TQFindMyPhoneOverlayPresenter {
public:
    virtual ~TQFindMyPhoneOverlayPresenter() = default;
    virtual void present(TQCustomAlertView& alarm) = 0;
    // Takes the overlay away; nothing when none shows.
    virtual void remove() = 0;
};

// The watch's find-my-phone requests (on identifier 2): a start rings the phone and shows the
// overlay, an alert through the application host whose button is the user's stop, unless it
// already rings; a stop command silences it. Replies on identifier 2, priority 1. Holds the
// process's one alarm, which outlives it; the alert goes with it.
class TQFindMyDevice final : public TQFindMyDeviceHandler {
public:
    TQFindMyDevice(TQAP& kavoManager, TQFinderMediaPlayer& musicPlayer);
    ~TQFindMyDevice();
    TQFindMyDevice(const TQFindMyDevice&) = delete;
    TQFindMyDevice& operator=(const TQFindMyDevice&) = delete;

    void processFindMyDevice(const platform::Value& message) override;
    // The screens' overlay in place of the host's alert; not owned, outlives this.
    void setOverlayPresenter(TQFindMyPhoneOverlayPresenter* presenter) { presenter_ = presenter; }

    [[nodiscard]] bool isAlertShowing() const { return showing_; }
    // The overlay, for the user's buttons; only while it shows.
    [[nodiscard]] TQCustomAlertView* findMyDeviceAlert() { return showing_ ? &alert_ : nullptr; }

private:
    void reply(const platform::Value& message);
    void showAlert();
    void removeAlert();

    TQAP& kavoManager_;
    TQFinderMediaPlayer& musicPlayer_;
    bool showing_ = false;
    platform::AlertIdentifier alertId_ = platform::kAlertNone;
    TQFindMyPhoneOverlayPresenter* presenter_ = nullptr;
    TQCustomAlertView alert_;
};
