#pragma once

#include "platform/foundation/NotificationCenter.h"

class TQAP;

namespace platform {
class ScreenNavigator;
}

// Stands in for the home screen's part after each post-connect handshake while the
// application has no screens. A watch that kept its settings is asked to take up the file the
// link paused when it went away (a store install, an update or a contact file would otherwise
// wait behind it until it failed); a watch that was reset gets the terms page (which the
// headless navigator can only log) and a file handler started afresh. Main thread.
class HeadlessHome {
public:
    // All borrowed; they outlive it. Observes from construction on.
    HeadlessHome(platform::NotificationCenter& center, TQAP& kavoManager,
                 platform::ScreenNavigator& navigator);
    ~HeadlessHome();
    HeadlessHome(const HeadlessHome&) = delete;
    HeadlessHome& operator=(const HeadlessHome&) = delete;

    // The page a reset watch's set-up starts from.
    static constexpr const char* kTermsPage = "termsPageid";

private:
    void onSyncInitSettingRes(bool keptSettings);

    platform::NotificationCenter& center_;
    TQAP& kavoManager_;
    platform::ScreenNavigator& navigator_;
    platform::NotificationCenter::Token observer_;
};
