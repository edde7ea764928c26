#pragma once

#include <memory>

#include "platform/foundation/Replaceable.h"

namespace platform {

// A top-level window of the user interface, as core code handles it.
class Window {
public:
    virtual ~Window() = default;
    virtual void makeKeyAndVisible() = 0;
};

// The full-screen window that covers the application while it waits for the watch.
class LoadingWindow : public Replaceable<LoadingWindow> {
public:
    virtual ~LoadingWindow() = default;

    // The application's main window, kept and made key again when the loading window hides.
    virtual void setApplicationWindow(std::shared_ptr<Window> window) = 0;

    // The installed loading window, else a headless one that only keeps the window.
    static LoadingWindow& shared();
};

}  // namespace platform
