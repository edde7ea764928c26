#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/host/Banner.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/Window.h"
#include "ui/BNGravity.h"
#include "ui/BNToast.h"

namespace platform {
class RunLoop;
class Timer;
}  // namespace platform

// The options the shared error banner of a platform banner stands for.
[[nodiscard]] BNToastOptions BNToastOptionsFromBanner(const platform::Banner& banner);

// Shows banners one at a time, in the order asked for, in the main window's banner layer:
// a container across the top that only covers the banner area (touches elsewhere reach the
// page), animated in, kept for its time on the run loop's clock, animated out; then its
// completion and the next banner. Main thread only.
class BNToastManager final : public platform::BannerPresenter,
                             public platform::Replaceable<BNToastManager> {
public:
    using platform::Replaceable<BNToastManager>::install;

    BNToastManager(platform::ui::MainWindow& window, platform::RunLoop& loop);
    ~BNToastManager() override;

    // The installed manager: the program with screens makes it.
    static BNToastManager& manager();

    static void setDefaultOptions(const BNToastOptions& options) {
        BNToast::setDefaultOptions(options);
    }
    void showNotificationWithOptions(BNToastOptions options, std::function<void()> completion);
    void showNotificationWithMessage(std::string_view message, std::function<void()> completion);
    void showNotificationWithOptions(BNToastOptions options, std::function<void()> appearance,
                                     std::function<void()> completion);
    void dismissNotification(bool animated);
    void dismissAllNotifications(bool animated);
    void dismissAllNotificationsWithIdentifier(std::string_view identifier, bool animated);
    [[nodiscard]] std::vector<std::string> notificationIdentifiersInQueue() const;

    void addNotification(std::shared_ptr<BNToast> toast);

    // The platform seam of the shared utilities' error banner.
    void showBanner(platform::Banner banner, std::function<void()> completion) override;

    // A gesture recognised over the banner: each enabled recogniser it matches fires.
    void handleGesture(const platform::ui::Gesture& gesture);

    [[nodiscard]] std::shared_ptr<BNToast> notification() const;
    [[nodiscard]] bool showingNotification() const { return !notifications_.empty(); }
    [[nodiscard]] std::size_t queueLength() const { return notifications_.size(); }
    // The container of the banner on screen; hidden while the queue is empty.
    [[nodiscard]] platform::ui::View& container() { return *container_; }
    [[nodiscard]] const std::vector<BNToastGestureRecognizer>& recognizers() const {
        return recognizers_;
    }

private:
    void displayNotification(const std::shared_ptr<BNToast>& toast);
    void showNotification(const std::shared_ptr<BNToast>& toast);
    void inwardCompletion(const std::shared_ptr<BNToast>& toast);
    void outwardSetup();
    // The banner area spans the window's width: the container, the strip and the banner at
    // rest follow the window when it is resized.
    void fitToWindow();
    void outwardCompletion(const std::shared_ptr<BNToast>& toast);
    void slide(const std::shared_ptr<BNToast>& toast, double duration, int kind,
               platform::ui::Rect bannerTo, platform::ui::Rect stripTo,
               std::function<void()> done);
    void fall(const std::shared_ptr<BNToast>& toast, platform::ui::Point direction,
              std::optional<platform::ui::Point> boundary, std::function<void()> done);
    void stopFalling();
    // Runs the gravity completion, when there is one; `clear` forgets it afterwards.
    void runGravityCompletion(bool clear);

    platform::ui::MainWindow& window_;
    platform::RunLoop& loop_;
    platform::ui::ViewGuard<platform::ui::View> container_;
    std::deque<std::shared_ptr<BNToast>> notifications_;
    std::vector<BNToastGestureRecognizer> recognizers_;
    std::function<void()> gravityAnimationCompletionBlock_;
    std::shared_ptr<platform::Timer> gravityTimer_;
    // Counts the falls stopped, so that a step knows when a completion it ran ended its fall.
    std::uint64_t gravityGeneration_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
