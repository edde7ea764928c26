#pragma once

#include <functional>
#include <string_view>

#include "platform/image/Image.h"
#include "platform/ui/Controls.h"
#include "services/TQFindMyDevice.h"

namespace platform::ui {
class MainWindow;
}

// The application's images by file name ("loading_30.png"); a null image for a missing one.
using TQImageNamed = std::function<platform::image::Image(std::string_view name)>;

// The find-my-phone overlay on screen: a dimmed cover of the window with a white box, the
// illustration, a small looping animation of twelve frames and the orange stop button, which
// acts on touch down. Its stop is the find-my-phone alarm's own (TQCustomAlertView, which holds
// the alarm player and the link): the alarm stops, the overlay goes and the watch is sent
// {"cmd":"findMyDevice","subcmd":"stop"} on the find-my-device channel.
class TQCustomAlertOverlay : public platform::ui::View {
public:
    // The alarm outlives the overlay.
    TQCustomAlertOverlay(TQCustomAlertView& alarm, const TQImageNamed& images);

    void okButtonPressed();
    void stopFindMyDevice();

    [[nodiscard]] platform::ui::View& box() { return *box_; }
    [[nodiscard]] platform::ui::Button& stopButton() { return *stopButton_; }
    [[nodiscard]] platform::ui::ImageView& illustration() { return *illustration_; }
    [[nodiscard]] platform::ui::ImageView& animation() { return *animation_; }

    // Leaves the window and is freed once the event that removed it is over.
    void removeFromSuperview();
    // The box and its parts size from the area the overlay covers.
    void layoutSubviews() override;

private:
    platform::ui::View* box_;
    platform::ui::Button* stopButton_;
    platform::ui::ImageView* illustration_;
    platform::ui::ImageView* animation_;
    TQCustomAlertView& alarm_;
};

// The find-my-phone alarm's overlay in the main window, above the pages and below alerts.
class TQFindMyPhoneWindowPresenter final : public TQFindMyPhoneOverlayPresenter {
public:
    TQFindMyPhoneWindowPresenter(platform::ui::MainWindow& window, TQImageNamed images);
    ~TQFindMyPhoneWindowPresenter() override;
    void present(TQCustomAlertView& alarm) override;
    void remove() override;
    // The overlay on show; null while none shows.
    [[nodiscard]] TQCustomAlertOverlay* overlay() const { return overlay_.data(); }

private:
    platform::ui::MainWindow& window_;
    TQImageNamed images_;
    platform::ui::ViewGuard<TQCustomAlertOverlay> overlay_;
};
