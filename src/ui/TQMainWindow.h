#pragma once

#include "platform/host/LoadingWindow.h"
#include "platform/ui/Window.h"

// The application's main window as core code hands it around (to the loading window, which
// makes it key again when it hides).
class TQMainWindow final : public platform::Window {
public:
    explicit TQMainWindow(platform::ui::MainWindow& window) : window_(window) {}
    void makeKeyAndVisible() override { window_.makeKeyAndVisible(); }

private:
    platform::ui::MainWindow& window_;
};
