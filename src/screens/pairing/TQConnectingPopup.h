#pragma once

#include <functional>
#include <memory>

class TQPageAlert;

namespace platform {
class Timer;
}
namespace platform::ui {
class Page;
}

// The connecting pop-up of the pairing pages: an alert without title or buttons, dressed with
// a spinner and "IDS_BT_BODY_CONNECTING_ING". It is looked at 60 seconds after it shows and
// then every 90 seconds; a look that finds no connect event since the one before closes it
// and runs the page's give-up work (a fresh scan). Belongs to one page; main thread only.
class TQConnectingPopup {
public:
    static constexpr double kFirstLook = 60.0;
    static constexpr double kNextLook = 90.0;

    // page and giveUp live as long as this object.
    TQConnectingPopup(platform::ui::Page& page, std::function<void()> giveUp);
    ~TQConnectingPopup();
    TQConnectingPopup(const TQConnectingPopup&) = delete;
    TQConnectingPopup& operator=(const TQConnectingPopup&) = delete;

    // Shows the pop-up and its first look; nothing while it shows.
    void show();
    [[nodiscard]] bool isShown() const;
    // A connect event: the next look keeps the pop-up.
    void connected() { calledOnConnected_ = true; }
    // Closes the pop-up and stops the looks; a page that goes off screen calls it too, since
    // a pop-up without buttons that nobody looks at again would stand over whatever comes.
    void close();

private:
    void stopLooking();
    void lookAfter(double seconds);
    void look();

    platform::ui::Page& page_;
    std::function<void()> giveUp_;
    std::shared_ptr<TQPageAlert> alert_;
    std::shared_ptr<platform::Timer> timer_;
    bool calledOnConnected_ = false;
};
