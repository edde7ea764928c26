#include "ui/BNToastManager.h"

#include <algorithm>

#include "logging/LGLog.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/Animator.h"
#include "ui/BNToastView.h"

namespace ui = platform::ui;

BNToastOptions BNToastOptionsFromBanner(const platform::Banner& banner) {
    BNToastOptions options{
        {std::string(kBNToastTextKey), banner.text},
        {std::string(kBNToastTextAlignmentKey), std::int64_t(banner.textAlignment)},
        {std::string(kBNToastAnimationInDirectionKey), std::int64_t(banner.animationInDirection)},
        {std::string(kBNToastAnimationOutDirectionKey), std::int64_t(banner.animationOutDirection)},
        {std::string(kBNToastTimeIntervalKey), banner.timeInterval},
        {std::string(kBNToastNotificationTypeKey), std::int64_t(banner.kind)},
        {std::string(kBNToastNotificationPresentationTypeKey), std::int64_t(banner.presentation)},
    };
    if (banner.backgroundColor) {
        const auto& c = *banner.backgroundColor;
        options[std::string(kBNToastBackgroundColorKey)] = ui::Color{c.red, c.green, c.blue, c.alpha};
    }
    if (!banner.interactionResponders.empty()) {
        BNToastResponders responders;
        for (const auto& r : banner.interactionResponders) {
            responders.push_back({r.interactionType, r.automaticallyDismiss, r.action});
        }
        options[std::string(kBNToastInteractionRespondersKey)] = std::move(responders);
    }
    return options;
}

BNToastManager::BNToastManager(ui::MainWindow& window, platform::RunLoop& loop)
    : window_(window), loop_(loop) {
    auto* container = new ui::View;
    container->setName("bannerContainer");
    window_.addOverlay(container, ui::Layer::banner, /*keepFrame=*/true);
    container->setFrame({0, 0, 0, 0});
    container->hide();
    container_ = container;
    new ui::GestureRecognizer(*container, [this](const ui::Gesture& g) { handleGesture(g); });
    window_.onSizeChange(*container, [this] { fitToWindow(); });
}

void BNToastManager::fitToWindow() {
    if (!container_ || container_->isHidden()) {
        return;
    }
    const double W = BNToastBannerWidth();
    const ui::Rect area = container_->frame();
    container_->setFrame({area.x, area.y, W, area.height});
    for (auto* child : container_->findChildren<ui::View*>(Qt::FindDirectChildrenOnly)) {
        const ui::Rect frame = child->frame();
        child->setFrame({frame.x, frame.y, W, frame.height});
    }
}

BNToastManager::~BNToastManager() {
    *alive_ = false;
    stopFalling();
    notifications_.clear();
    delete container_.data();
}

BNToastManager& BNToastManager::manager() { return platform::Replaceable<BNToastManager>::installedInstance("BNToastManager"); }

void BNToastManager::showNotificationWithOptions(BNToastOptions options,
                                                 std::function<void()> completion) {
    addNotification(BNToast::notificationWithOptions(std::move(options), {}, std::move(completion)));
}

void BNToastManager::showNotificationWithMessage(std::string_view message,
                                                 std::function<void()> completion) {
    showNotificationWithOptions(BNToastOptions{{std::string(kBNToastTextKey), std::string(message)}},
                                std::move(completion));
}

void BNToastManager::showNotificationWithOptions(BNToastOptions options,
                                                 std::function<void()> appearance,
                                                 std::function<void()> completion) {
    addNotification(BNToast::notificationWithOptions(std::move(options), std::move(appearance),
                                                    std::move(completion)));
}

void BNToastManager::showBanner(platform::Banner banner, std::function<void()> completion) {
    showNotificationWithOptions(BNToastOptionsFromBanner(banner), std::move(completion));
}

std::shared_ptr<BNToast> BNToastManager::notification() const {
    return notifications_.empty() ? nullptr : notifications_.front();
}

void BNToastManager::addNotification(std::shared_ptr<BNToast> toast) {
    const bool showing = showingNotification();
    notifications_.push_back(toast);
    if (!showing) {
        displayNotification(toast);
    }
}

void BNToastManager::displayNotification(const std::shared_ptr<BNToast>& toast) {
    if (toast->appearance()) {
        toast->appearance()();
    }
    const double h = BNToastBannerHeight(toast->notificationType(), toast->preferredHeight(),
                                         BNToastScreenTraits::current().orientation) -
                     (toast->shouldKeepNavigationBarBorder() ? 1.0 : 0.0);
    const double W = BNToastBannerWidth();
    // The strip pictures the screen before the banner covers any of it.
    QWidget* screen = toast->displayUnderStatusBar() && window_.rootView() != nullptr
                          ? static_cast<QWidget*>(window_.rootView())
                          : static_cast<QWidget*>(&window_);
    ui::View& strip = toast->statusBarView(screen);

    container_->setFrame({0, 0, W, h});
    container_->show();
    container_->raise();

    strip.setParent(container_.data());
    strip.setFrame({0, 0, W, h});
    strip.setVisible(toast->presentationType() != BNToastPresentationCover);

    BNToastView& view = toast->notificationView();
    view.setParent(container_.data());
    view.setFrame(toast->notificationViewAnimationFrame1());
    view.show();
    view.raise();

    for (QWidget* child : container_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    }
    container_->setUserInteractionEnabled(true);
    recognizers_ = toast->gestureRecognizers();

    toast->setState(BNToastState::entering);
    showNotification(toast);

    const std::string text = toast->text();
    const std::string subtitle = toast->subtitleText().value_or("");
    if (!text.empty() || !subtitle.empty()) {
        loop_.postDelayed(0.5, [alive = std::weak_ptr<bool>(alive_), container = container_,
                                announcement = "Alert: " + text + ", " + subtitle] {
            if (!alive.expired() && container) {
                ui::Accessibility::current().announce(*container, announcement);
            }
        });
    }
}

void BNToastManager::showNotification(const std::shared_ptr<BNToast>& toast) {
    const auto done = [this, toast] { inwardCompletion(toast); };
    const ui::Rect bounds{0, 0, container_->frame().width, container_->frame().height};
    switch (toast->inAnimationType()) {
        case BNToastAnimationTypeLinear:
        case BNToastAnimationTypeSpring:
            slide(toast, toast->animateInTimeInterval(), toast->inAnimationType(), bounds,
                  toast->statusBarViewAnimationFrame1(), done);
            break;
        case BNToastAnimationTypeGravity:
            fall(toast, toast->inGravityDirection(), toast->inCollisionPoint1(), done);
            break;
        default:
            // Nothing moves, but the banner is still timed and completed.
            done();
            break;
    }
}

void BNToastManager::inwardCompletion(const std::shared_ptr<BNToast>& toast) {
    // A resize during the entry left the slide's end at the old width.
    fitToWindow();
    if (toast->timeInterval() == BNToastForever || toast->state() != BNToastState::entering) {
        return;
    }
    toast->setState(BNToastState::displaying);
    if (toast->forceUserInteraction()) {
        return;
    }
    loop_.postDelayed(toast->timeInterval(), [this, alive = std::weak_ptr<bool>(alive_),
                                              uuid = toast->uuid()] {
        if (alive.expired()) {
            return;
        }
        const auto head = notification();
        if (head && head->state() == BNToastState::displaying && head->uuid() == uuid) {
            gravityAnimationCompletionBlock_ = nullptr;
            outwardSetup();
        }
    });
}

void BNToastManager::outwardSetup() {
    const auto toast = notification();
    if (!toast) {
        return;
    }
    toast->setState(BNToastState::exiting);
    if (auto* strip = toast->existingStatusBarView()) {
        strip->setFrame(toast->statusBarViewAnimationFrame2());
    }
    for (auto& recognizer : recognizers_) {
        recognizer.enabled = false;
    }
    const auto done = [this, toast] { outwardCompletion(toast); };
    const ui::Rect bounds{0, 0, container_->frame().width, container_->frame().height};
    switch (toast->outAnimationType()) {
        case BNToastAnimationTypeLinear:
        case BNToastAnimationTypeSpring:
            stopFalling();
            slide(toast, toast->animateOutTimeInterval(), toast->outAnimationType(),
                  toast->notificationViewAnimationFrame2(), bounds, done);
            break;
        case BNToastAnimationTypeGravity:
            fall(toast, toast->outGravityDirection(), toast->outCollisionPoint1(), done);
            break;
        default:
            done();
            break;
    }
}

void BNToastManager::outwardCompletion(const std::shared_ptr<BNToast>& toast) {
    // A late animation end for a banner that a call already completed must not remove the
    // banner after it.
    if (toast->state() == BNToastState::completed || notification() != toast) {
        return;
    }
    stopFalling();
    if (toast->showActivityIndicator()) {
        toast->notificationView().activityIndicator().stopAnimating();
    }
    recognizers_.clear();
    toast->setState(BNToastState::completed);
    if (toast->completion()) {
        toast->completion()();
    }
    notifications_.pop_front();
    toast->notificationView().hide();
    toast->notificationView().setParent(nullptr);
    if (auto* strip = toast->existingStatusBarView()) {
        strip->hide();
        strip->setParent(nullptr);
    }
    // Its gravity completion has done its work; kept, it would only hold the banner's views.
    gravityAnimationCompletionBlock_ = nullptr;
    if (!notifications_.empty()) {
        displayNotification(notifications_.front());
    } else {
        container_->hide();
    }
}

void BNToastManager::slide(const std::shared_ptr<BNToast>& toast, double duration, int kind,
                           ui::Rect bannerTo, ui::Rect stripTo, std::function<void()> done) {
    ui::ViewGuard<ui::View> banner = &toast->notificationView();
    ui::ViewGuard<ui::View> strip = toast->existingStatusBarView();
    const ui::Rect bannerFrom = banner->frame();
    const ui::Rect stripFrom = strip ? strip->frame() : ui::Rect{};
    const auto lerp = [](const ui::Rect& a, const ui::Rect& b, double v) {
        return ui::Rect{a.x + (b.x - a.x) * v, a.y + (b.y - a.y) * v,
                        a.width + (b.width - a.width) * v, a.height + (b.height - a.height) * v};
    };
    ui::Animation animation;
    animation.duration = duration;
    animation.curve = kind == BNToastAnimationTypeSpring ? ui::Curve::spring : ui::Curve::easeInOut;
    animation.spring = {toast->animationSpringDamping(), toast->animationSpringInitialVelocity()};
    animation.step = [=](double v) {
        if (banner) {
            banner->setFrame(lerp(bannerFrom, bannerTo, v));
        }
        if (strip) {
            strip->setFrame(lerp(stripFrom, stripTo, v));
        }
    };
    animation.completion = [alive = std::weak_ptr<bool>(alive_), done = std::move(done)](bool) {
        if (!alive.expired()) {
            done();
        }
    };
    ui::Animator::current().animate(std::move(animation));
}

void BNToastManager::fall(const std::shared_ptr<BNToast>& toast, ui::Point direction,
                          std::optional<ui::Point> boundary, std::function<void()> done) {
    stopFalling();
    gravityAnimationCompletionBlock_ = std::move(done);
    ui::ViewGuard<ui::View> banner = &toast->notificationView();
    ui::ViewGuard<ui::View> strip = toast->existingStatusBarView();
    // The banner and the strip both fall; the strip collides only when it is pushed.
    std::vector<BNGravityBody> bodies{{banner->frame(), true}};
    if (strip) {
        bodies.push_back({strip->frame(), toast->presentationType() == BNToastPresentationPush});
    }
    auto world = std::make_shared<BNGravityWorld>(
        BNGravityStart(bodies, direction, boundary.value_or(ui::Point{}),
                       toast->animationGravityMagnitude()));
    if (!boundary || !BNGravityReachesBoundary(*world)) {
        // Nothing would ever meet the line, so no contact would ever end the animation and
        // the queue would wait for ever: it ends now, where it stands.
        runGravityCompletion(true);
        return;
    }
    const BNGravityWorld start = *world;
    gravityTimer_ = loop_.scheduleTimer(kBNGravityStep, true, [=, this,
                                                               alive = std::weak_ptr<bool>(alive_)] {
        auto [next, events] = BNGravityAdvance(*world, kBNGravityStep);
        *world = std::move(next);
        const ui::ViewGuard<ui::View> views[] = {banner, strip};
        for (std::size_t i = 0; i < world->items.size(); ++i) {
            if (views[i]) {
                views[i]->setFrame(
                    BNGravityFrame(bodies[i].frame, start.items[i], world->items[i], direction));
            }
        }
        const bool settled = world->settled;
        // The completion may end this fall (and this timer) or start the next banner's.
        // A completion may also end the manager (a banner's completion may drop it).
        const auto generation = gravityGeneration_;
        const auto falling = [&] { return !alive.expired() && generation == gravityGeneration_; };
        for (std::size_t i = 0; i < events.leftBoundary.size() && falling(); ++i) {
            runGravityCompletion(false);
        }
        for (std::size_t i = 0; i < events.parted.size() && falling(); ++i) {
            runGravityCompletion(true);
        }
        if (settled && falling()) {
            stopFalling();
            // Come to rest in contact: no contact ends any more, so the fall ends here.
            runGravityCompletion(true);
        }
    });
}

void BNToastManager::runGravityCompletion(bool clear) {
    auto block = clear ? std::exchange(gravityAnimationCompletionBlock_, nullptr)
                       : gravityAnimationCompletionBlock_;
    if (block) {
        block();
    }
}

void BNToastManager::stopFalling() {
    ++gravityGeneration_;
    if (gravityTimer_) {
        gravityTimer_->invalidate();
        gravityTimer_.reset();
    }
}

void BNToastManager::dismissNotification(bool animated) {
    const auto head = notification();
    if (!head) {
        return;
    }
    // Already leaving: its own exit completes it.
    if (head->state() == BNToastState::exiting) {
        return;
    }
    if (animated &&
        (head->state() == BNToastState::entering || head->state() == BNToastState::displaying)) {
        outwardSetup();
    } else {
        outwardCompletion(head);
    }
}

void BNToastManager::dismissAllNotifications(bool animated) {
    // The waiting banners go first, so that completing the head shows none of them.
    if (notifications_.size() > 1) {
        notifications_.erase(notifications_.begin() + 1, notifications_.end());
    }
    dismissNotification(animated);
}

void BNToastManager::dismissAllNotificationsWithIdentifier(std::string_view identifier,
                                                           bool animated) {
    if (notifications_.empty()) {
        return;
    }
    const auto sameIdentifier = [&](const std::shared_ptr<BNToast>& toast) {
        const auto id = toast->identifier();
        return id && *id == identifier;
    };
    notifications_.erase(
        std::remove_if(notifications_.begin() + 1, notifications_.end(), sameIdentifier),
        notifications_.end());
    if (sameIdentifier(notifications_.front())) {
        dismissNotification(animated);
    }
}

std::vector<std::string> BNToastManager::notificationIdentifiersInQueue() const {
    std::vector<std::string> identifiers;
    for (const auto& toast : notifications_) {
        if (auto id = toast->identifier()) {
            identifiers.push_back(std::move(*id));
        }
    }
    return identifiers;
}

void BNToastManager::handleGesture(const ui::Gesture& gesture) {
    // All recognisers that match fire for the one gesture, as simultaneous recognisers do.
    std::vector<BNToastGestureRecognizer> fired;
    for (const auto& recognizer : recognizers_) {
        if (recognizer.enabled && recognizer.matches(gesture)) {
            fired.push_back(recognizer);
        }
    }
    for (const auto& recognizer : fired) {
        if (recognizer.automaticallyDismiss) {
            dismissNotification(true);
        }
        if (recognizer.block) {
            recognizer.block(recognizer.interactionType);
        }
    }
}
