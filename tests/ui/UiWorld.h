#pragma once

// What every widget test stands on: Qt's offscreen platform with one font file, so that text
// renders alike on every machine; a virtual main run loop with the animator completing on it;
// a fresh notification centre; exact fake text metrics; a screen of a chosen size; and a
// folder in the build for the PNGs a person would see.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Screenshot.h"
#include "platform/ui/TextMetrics.h"
#include "platform/ui/Window.h"
#include "support/RecordingAppHost.h"
#include "ui/support/OffscreenApplication.h"

namespace ui_test {

// The build folder's screenshots/ (one PNG per component) and the reference images.
inline std::filesystem::path screenshotFolder() {
    return std::filesystem::path(KAVO_UI_SCREENSHOTS);
}
inline std::filesystem::path referenceFolder() {
    return std::filesystem::path(KAVO_UI_REFERENCES);
}

class UiWorld {
public:
    explicit UiWorld(platform::ui::Size screen = {414, 736}) : screen_(screen) {
        application();
        window = std::make_unique<platform::ui::MainWindow>();
        window->setName("mainWindow");
    }
    ~UiWorld() {
        window.reset();
        // Let Qt free what was handed to deleteLater.
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Saves what the view shows as <name>.png in the screenshot folder.
    static void shoot(QWidget& view, const std::string& name) {
        const auto saved =
            platform::ui::saveScreenshot(view, screenshotFolder() / (name + ".png"));
        if (!saved) {
            ADD_FAILURE() << saved.error().message;
        }
    }
    // Frees views given to deleteLater.
    static void flushDeletes() { QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    platform::NotificationCenter center;
    platform::ScopedInstall<platform::NotificationCenter> installCenter{&center};
    platform::ui::RecordingAnimator animator{loop};
    platform::ScopedInstall<platform::ui::Animator> installAnimator{&animator};
    platform::ui::FakeTextMetrics metrics;
    platform::ScopedInstall<platform::ui::TextMetrics> installMetrics{&metrics};
    testing_support::RecordingAppHost host;
    platform::ScopedInstall<platform::AppHost> installHost{&host};

private:
    platform::ui::Screen screen_;
    platform::ScopedInstall<platform::ui::Screen> installScreen{&screen_};

public:
    std::unique_ptr<platform::ui::MainWindow> window;
};

}  // namespace ui_test
