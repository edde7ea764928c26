#include "ui/TQLoadingView.h"

#include "logging/LGLog.h"
#include "platform/foundation/RunLoop.h"

TQLoadingViewController::TQLoadingViewController()
    : box_(new platform::ui::View(this)), spinner_(new platform::ui::Spinner(box_)) {
    setName("loadingView");
    setBackgroundColor(platform::ui::Color{0, 0, 0, 0.45});
    box_->setName("loadingBox");
    box_->setBackgroundColor(platform::ui::Color{0.2, 0.2, 0.2, 1});
    box_->setCornerRadius(12);
    spinner_->setName("loadingSpinner");
    spinner_->setColor(platform::ui::Color{1, 1, 1, 1});
    spinner_->startAnimating();
}

void TQLoadingViewController::layoutSubviews() {
    box_->setFrame({(width() - kBoxSide) / 2.0, (height() - kBoxSide) / 2.0, kBoxSide, kBoxSide});
    spinner_->setFrame({(kBoxSide - 37) / 2.0, (kBoxSide - 37) / 2.0, 37, 37});
}

TQLoadingView::TQLoadingView(platform::ui::MainWindow& window, platform::RunLoop& loop)
    : window_(window), loop_(loop) {}

TQLoadingView::~TQLoadingView() {
    if (timer_) {
        timer_->invalidate();
    }
    delete content_.data();
}

void TQLoadingView::setApplicationWindow(std::shared_ptr<platform::Window> window) {
    applicationWindow_ = std::move(window);
}

bool TQLoadingView::isShow() const {
    return shown_;
}

void TQLoadingView::showLoading() {
    LG_VERBOSE("%s", "-[TQLoadingView showLoading]");
    // Each show builds fresh content.
    delete content_.data();
    auto* content = new TQLoadingViewController;
    content_ = content;
    if (timer_) {
        timer_->invalidate();
    }
    window_.addOverlay(content, platform::ui::Layer::loading);
    window_.setKey(false);
    shown_ = true;
}

void TQLoadingView::showWithTimeout(double seconds) {
    LG_VERBOSE("%s interval: %f", "-[TQLoadingView showWithTimeout:]", seconds);
    showLoading();
    timer_ = loop_.scheduleTimer(seconds, false, [this] { timeout(); });
}

void TQLoadingView::hideLoading() {
    LG_VERBOSE("%s", "-[TQLoadingView hideLoading]");
    if (applicationWindow_) {
        applicationWindow_->makeKeyAndVisible();
    }
    delete content_.data();
    shown_ = false;
}

void TQLoadingView::timeout() {
    LG_WARN("%s", "-[TQLoadingView timeout]");
    hideLoading();
}
