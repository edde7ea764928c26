#include "platform/host/LoadingWindow.h"

#include <mutex>
#include <utility>

namespace platform {

namespace {

class HeadlessLoadingWindow final : public LoadingWindow {
public:
    void setApplicationWindow(std::shared_ptr<Window> window) override {
        std::lock_guard lock(mutex_);
        applicationWindow_ = std::move(window);
    }

private:
    std::mutex mutex_;
    std::shared_ptr<Window> applicationWindow_;
};

}  // namespace

LoadingWindow& LoadingWindow::shared() {
    return installedOr([]() -> LoadingWindow& {
        static HeadlessLoadingWindow headless;
        return headless;
    });
}

}  // namespace platform
