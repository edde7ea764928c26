#include "app/headless/HeadlessHome.h"

#include "link/TQAP.h"
#include "logging/LGLog.h"
#include "platform/host/ScreenNavigator.h"

HeadlessHome::HeadlessHome(platform::NotificationCenter& center, TQAP& kavoManager,
                           platform::ScreenNavigator& navigator)
    : center_(center), kavoManager_(kavoManager), navigator_(navigator) {
    observer_ = center_.addObserver("onSyncInitSettingResNotification",
                                    [this](const platform::Notification& note) {
                                        onSyncInitSettingRes(
                                            note.object.boolValue().value_or(false));
                                    });
}

HeadlessHome::~HeadlessHome() { center_.removeObserver(observer_); }

void HeadlessHome::onSyncInitSettingRes(bool keptSettings) {
    if (keptSettings) {
        LG_VERBOSE("Headless home: the watch is back, a paused file is taken up");
        kavoManager_.resumeFileRequest();
        return;
    }
    LG_VERBOSE("Headless home: the watch was reset, its files start afresh");
    navigator_.pushScreen(kTermsPage, true);
    kavoManager_.resetFileHandler();
}
