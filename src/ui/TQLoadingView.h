#pragma once

#include <memory>

#include "platform/host/LoadingWindow.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Window.h"

namespace platform {
class RunLoop;
class Timer;
}  // namespace platform

// The content of the loading window: a spinner in a dark rounded box of its own on a dimmed
// ground, so that over an alert it is never drawn on the alert's text.
class TQLoadingViewController : public platform::ui::View {
public:
    static constexpr double kBoxSide = 88;

    TQLoadingViewController();
    [[nodiscard]] platform::ui::Spinner& spinner() { return *spinner_; }
    [[nodiscard]] platform::ui::View& box() { return *box_; }

    void layoutSubviews() override;

private:
    platform::ui::View* box_;
    platform::ui::Spinner* spinner_;
};

// The one loading window: covers the main window above every alert while the application
// waits for the watch, shown and hidden by name from anywhere; it gives the key status back to
// the application window when it hides. Lives in the main window's loading layer.
class TQLoadingView final : public platform::LoadingWindow {
public:
    TQLoadingView(platform::ui::MainWindow& window, platform::RunLoop& loop);
    ~TQLoadingView() override;

    void setApplicationWindow(std::shared_ptr<platform::Window> window) override;
    [[nodiscard]] const std::shared_ptr<platform::Window>& applicationWindow() const {
        return applicationWindow_;
    }

    void showLoading();
    void showWithTimeout(double seconds);
    void hideLoading();
    void timeout();
    [[nodiscard]] bool isShow() const;
    // The content on show; null while hidden.
    [[nodiscard]] TQLoadingViewController* content() const { return content_.data(); }
    [[nodiscard]] const std::shared_ptr<platform::Timer>& timeoutTimer() const { return timer_; }

private:
    platform::ui::MainWindow& window_;
    platform::RunLoop& loop_;
    std::shared_ptr<platform::Window> applicationWindow_;
    platform::ui::ViewGuard<TQLoadingViewController> content_;
    std::shared_ptr<platform::Timer> timer_;
    bool shown_ = false;
};
