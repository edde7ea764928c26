#include "ui/TQCustomNavigationViewController.h"

#include "logging/LGLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Animator.h"
#include "store/TQActivityBar.h"

using platform::ui::Page;

namespace {
constexpr double kBarFade = 0.3;
}

TQCustomNavigationViewController::TQCustomNavigationViewController(std::unique_ptr<Page> root)
    : NavigationController(nullptr), activityBar_(new TQActivityBarView) {
    setName("rootNavigation");
    onDidShowPage([this](Page& page, bool /*animated*/) {
        LG_VERBOSE("%s %@", "-[TQCustomNavigationViewController navigationController:didShowViewController:animated:]",
                   page.className());
        updateLayoutForViewController(page);
    });
    activityBar_->progressLabel().setText("");
    activityBar_->progressBar().setProgress(0, false);
    updateAutoLayout();
    hideActivityBar();
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto observe = [this, &center](const char* name, void (TQCustomNavigationViewController::*handler)()) {
        center.addObserver(name, [this, handler](const platform::Notification&) { (this->*handler)(); },
                           this);
    };
    observe(TQActivityBar::kShow, &TQCustomNavigationViewController::showActivityBar);
    observe(TQActivityBar::kHide, &TQCustomNavigationViewController::hideActivityBar);
    center.addObserver(
        TQActivityBar::kProgress,
        [this](const platform::Notification& notification) { updateValue(notification.userInfo); },
        this);
    observe(TQActivityBar::kHideCancelButton, &TQCustomNavigationViewController::hideActivityBarCancel);
    observe(TQActivityBar::kShowCancelButton, &TQCustomNavigationViewController::showActivityBarCancel);
    if (root) {
        pushPage(std::move(root), false);
    }
}

TQCustomNavigationViewController::~TQCustomNavigationViewController() {
    platform::NotificationCenter::defaultCenter().removeAll(this);
}

void TQCustomNavigationViewController::updateAutoLayout() {
    metrics_ = platform::Dictionary{{"activityBarHeight", 44.0}};
    setBottomBar(activityBar_, TQActivityBarView::kHeight);
}

void TQCustomNavigationViewController::updateLayoutForViewController(Page& page) {
    rootView_ = &page;
    platform::ui::LayoutConstraint* bottom = nullptr;
    for (auto& constraint : page.constraints()) {
        if (constraint.identifier == "verticalSpaceBottom") {
            bottom = &constraint;
            break;
        }
    }
    if (bottom == nullptr) {
        return;
    }
    const double wanted = barShown_ ? double(activityBar_->height()) : 0.0;
    if (bottom->constant != wanted) {
        LG_DEBUG("Update verticalSpaceBottom constraint constant...");
        bottom->constant = wanted;
        page.layoutIfNeeded();
    }
}

void TQCustomNavigationViewController::fadeBar(bool in) {
    const int generation = ++fadeGeneration_;
    if (in && activityBar_->isHidden()) {
        activityBar_->setAlpha(0.0);
    }
    if (in) {
        activityBar_->show();
        activityBar_->raise();
    }
    // Each fade starts where the bar stands, so one that turns back midway (a hide during the
    // fade-in) never jumps to full opacity first.
    const double from = activityBar_->alpha();
    const double to = in ? 1.0 : 0.0;
    platform::ui::ViewGuard<TQCustomNavigationViewController> self(this);
    platform::ui::Animator::current().animate(platform::ui::Animation{
        kBarFade, platform::ui::Curve::easeInOut,
        [self, from, to, generation](double value) {
            if (self && self->fadeGeneration_ == generation) {
                self->activityBar_->setAlpha(from + (to - from) * value);
            }
        },
        [self, in, generation](bool) {
            if (self && self->fadeGeneration_ == generation) {
                self->activityBar_->setAlpha(1.0);
                self->activityBar_->setVisible(in);
            }
        },
        {}});
}

void TQCustomNavigationViewController::showActivityBar() {
    barShown_ = true;
    fadeBar(true);
    if (Page* page = topPage()) {
        updateLayoutForViewController(*page);
    }
}

void TQCustomNavigationViewController::hideActivityBar() {
    activityBar_->progressBar().setProgress(0, false);
    activityBar_->progressLabel().setText("");
    hideActivityBarCancel();
    barShown_ = false;
    if (activityBar_->isVisible()) {
        fadeBar(false);
    } else {
        activityBar_->hide();
    }
    if (Page* page = topPage()) {
        updateLayoutForViewController(*page);
    }
}

void TQCustomNavigationViewController::updateValue(const platform::Value& userInfo) {
    const auto type = userInfo[TQActivityBar::kProgressTypeKey].intValue().value_or(0);
    const auto value = userInfo[TQActivityBar::kProgressValueKey].doubleValue().value_or(0.0);
    const std::string name = userInfo[TQActivityBar::kAppNameKey].stringValue().value_or("");
    activityBar_->updateProgress(static_cast<float>(value), name, static_cast<std::int32_t>(type));
}

void TQCustomNavigationViewController::showActivityBarCancel() {
    activityBar_->cancelButton().setEnabled(true);
    activityBar_->cancelButton().show();
}

void TQCustomNavigationViewController::hideActivityBarCancel() {
    activityBar_->cancelButton().setEnabled(false);
    activityBar_->cancelButton().hide();
}

bool TQCustomNavigationViewController::navigationBarShouldPopItem() {
    if (pages().size() < navigationBar().itemCount()) {
        return true;
    }
    Page* top = topPage();
    const std::optional<bool> answer = top != nullptr ? top->shouldPopViewController() : std::nullopt;
    if (answer.has_value() && !*answer) {
        navigationBar().setSubviewsAlpha(1.0);
        return false;
    }
    platform::ui::ViewGuard<TQCustomNavigationViewController> self(this);
    platform::RunLoop::main().post([self] {
        if (self) {
            self->popPage(true);
        }
    });
    return false;
}
