#pragma once

// The one QApplication of a test program, on Qt's offscreen platform with one font file, so
// that text renders alike on every machine. Free of GoogleTest: tools use it too.

#include <QApplication>

#include "platform/ui/Window.h"

namespace ui_test {

// The font the tests draw with (Debian's fonts-dejavu-core, installed by scripts/setup).
inline constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// One QApplication for the process, made on the offscreen platform.
inline QApplication& application() {
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* made = new QApplication(argc, argv);
        if (!platform::ui::Application::useFontFile(kFontFile)) {
            qFatal("the test font %s is missing: run scripts/setup", kFontFile);
        }
        return made;
    }();
    return *app;
}

}  // namespace ui_test
