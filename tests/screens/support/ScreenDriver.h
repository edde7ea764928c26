#pragma once

// Drives the screens as a person would, on Qt's offscreen platform: a screen made through the
// storyboard inside the main window, with a virtual run loop whose clock completes the
// animations. Free of GoogleTest, so that the scene renderer stands on it too.

#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/mail/XdgEmailComposer.h"
#include "platform/permissions/Permissions.h"
#include "platform/photos/PhotoLibrary.h"
#include "platform/ui/Animator.h"
#include "platform/ui/ContactPicker.h"
#include "platform/ui/Navigation.h"
#include "platform/ui/TextMetrics.h"
#include "platform/ui/Window.h"
#include "platform/ui/web/ScriptedWebView.h"
#include "screens/TQScreenServices.h"
#include "support/RecordingAppHost.h"
#include "support/TempDir.h"
#include "ui/TQStoryboard.h"

class TQCoreManager;
class TQWindowServices;

namespace screens_test {

class ScreenDriver {
public:
    // Longer than any animation of the pages: what settle() waits on the virtual clock.
    static constexpr double kSettleSeconds = 1.0;

    explicit ScreenDriver(platform::ui::Size screen = {414, 736});
    ~ScreenDriver();
    ScreenDriver(const ScreenDriver&) = delete;
    ScreenDriver& operator=(const ScreenDriver&) = delete;

    // The scene (identifier or class name) as the first page of a new root navigation, on
    // screen and settled; null when the storyboard does not know it.
    platform::ui::Page* show(std::string_view scene);
    // What a person sees in front: the root's top page and what it presents.
    [[nodiscard]] platform::ui::Page* top() const;
    [[nodiscard]] std::string topScene() const;

    // The control named so, looked for in the top-most page, then in the alerts, then in the
    // whole window; null when none is visible.
    template <typename T = QWidget>
    [[nodiscard]] T* find(std::string_view name) const {
        return dynamic_cast<T*>(findWidget(name));
    }
    // Each false when the control is missing, hidden or disabled; each settles afterwards.
    bool tap(std::string_view name);
    bool type(std::string_view name, std::string_view text);
    bool setSwitch(std::string_view name, bool on);
    // The alert on top; null when none shows.
    [[nodiscard]] platform::ui::AlertView* alert() const;
    // Presses the alert's button with that title.
    bool answerAlert(std::string_view buttonTitle);
    // The texts of the table's rows (grouped or data table), section by section.
    [[nodiscard]] std::vector<std::string> rows(std::string_view tableName) const;

    // Runs what is due, moves the virtual clock by seconds, then frees what Qt was asked to
    // free.
    void advance(double seconds);
    // Lets every animation end: kSettleSeconds on the virtual clock.
    void settle() { advance(kSettleSeconds); }

    // The link as the core manager reports it: one of its notifications (such as
    // "onConnectDeviceNotification"), and a message from the watch ("onDataReceivedNotification"
    // with the message's JSON on its application identifier). The simulated watch of sim/ comes
    // in through these.
    void linkEvent(std::string_view notification, platform::Value object = {});
    void watchMessage(const platform::Value& message, int appId = 1);

    // Saves what the window shows as a PNG; false (with the reason on standard error) when it
    // cannot.
    bool saveScreenshot(const std::filesystem::path& file);

    testing_support::TempDir folder;
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    platform::UserDefaults defaults{folder.path() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults};
    platform::NotificationCenter center;
    platform::ScopedInstall<platform::NotificationCenter> installCenter{&center};
    platform::ui::RecordingAnimator animator{loop};
    platform::ScopedInstall<platform::ui::Animator> installAnimator{&animator};
    testing_support::RecordingAppHost host;
    // The screens' web views: pages the test scripts, loaded on the virtual clock.
    platform::ui::web::ScriptedWebViewFactory webViews{loop};
    // The address book's picker, answering picks and cancels from the test's script.
    platform::ui::ScriptedContactPicker contactPicker;
    // The user's photos in memory, with a decision of their own on the photos.
    platform::ScriptedPermissionPrompt photosPrompt;
    platform::Permissions photosPermissions{defaults, photosPrompt, [] { return false; }};
    platform::photos::MemoryPhotoLibrary photos{photosPermissions, loop};
    // Keeps the mails the screens hand over.
    platform::mail::RecordingMailComposer mail{loop};

private:
    [[nodiscard]] QWidget* findWidget(std::string_view name) const;

    platform::ui::Screen screen_;
    platform::ScopedInstall<platform::ui::Screen> installScreen_{&screen_};

public:
    std::unique_ptr<platform::ui::MainWindow> window;
    // The link's core manager the screens see; null until a test brings one (PairingAir).
    TQCoreManager* coreManager = nullptr;
    TQScreenServices services{loop,   defaults, center,  webViews,
                              contactPicker, photos,   mail,    nullptr,
                              [this] { return coreManager; }};
    std::unique_ptr<TQStoryboard> storyboard;

private:
    std::unique_ptr<TQWindowServices> windowServices_;
};

}  // namespace screens_test
