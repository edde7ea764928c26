#include "ui/TQCustomAlertOverlay.h"

#include <string>
#include <vector>

#include "platform/ui/TextMetrics.h"
#include "platform/ui/Window.h"
#include "utils/TQLocalization.h"

using platform::ui::Color;

TQCustomAlertOverlay::TQCustomAlertOverlay(TQCustomAlertView& alarm, const TQImageNamed& images)
    : box_(new platform::ui::View(this)),
      stopButton_(new platform::ui::Button(box_)),
      illustration_(new platform::ui::ImageView(box_)),
      animation_(new platform::ui::ImageView(box_)),
      alarm_(alarm) {
    setName("findMyPhoneOverlay");
    setBackgroundColor(Color{0, 0, 0, 0.5});
    box_->setName("findMyPhoneBox");
    box_->setBackgroundColor(Color{1, 1, 1, 1});
    box_->setCornerRadius(6);

    stopButton_->setName("stopButton");
    stopButton_->setBackgroundColor(Color{1.0, 127.0 / 255, 0, 1.0});
    stopButton_->setTitle(TQLocalization::localizedString("new_circle_stop"));
    stopButton_->setFont("Helvetica Neue", 15);
    stopButton_->setTitleColor(Color{1, 1, 1, 1});
    stopButton_->setActionOnTouchDown(true);
    stopButton_->onAction([this] { okButtonPressed(); });

    illustration_->setName("illustration");
    illustration_->setImage(images("kavomanager_help_image02.png"));
    illustration_->setContentMode(platform::ui::ImageView::ContentMode::aspectFit);

    std::vector<platform::image::Image> frames;
    for (int i = 30; i <= 41; ++i) {
        frames.push_back(images("loading_" + std::to_string(i) + ".png"));
    }
    animation_->setName("findMyPhoneAnimation");
    animation_->setAnimationImages(std::move(frames));
    animation_->setAnimationDuration(0.9);
    animation_->setAnimationRepeatCount(0);
    animation_->startAnimating();

    const auto bounds = platform::ui::Screen::main().bounds();
    setFrame({0, 0, bounds.width, bounds.height});
    layoutSubviews();
}

void TQCustomAlertOverlay::layoutSubviews() {
    // The covered area is the screen at first and the window as it is resized after.
    const double W = frame().width;
    const double H = frame().height;
    const double w = 0.8 * W;
    const double h = 0.4 * H;
    box_->setFrame({(W - w) / 2, (H - h) / 2, w, h});
    stopButton_->setFrame({0, 0.8 * h + 10, w, 0.2 * h - 10});
    illustration_->setFrame({10, 45, w - 20, 0.5 * h});
    const auto drawing = illustration_->frame();
    animation_->setFrame({0.37 * drawing.width, 0.85 * drawing.height, 80, 10});
}

void TQCustomAlertOverlay::okButtonPressed() {
    alarm_.okButtonPressed();
}

void TQCustomAlertOverlay::stopFindMyDevice() {
    alarm_.stopFindMyDevice();
}

void TQCustomAlertOverlay::removeFromSuperview() {
    animation_->stopAnimating();
    hide();
    setParent(nullptr);
    deleteLater();
}

TQFindMyPhoneWindowPresenter::TQFindMyPhoneWindowPresenter(platform::ui::MainWindow& window,
                                                           TQImageNamed images)
    : window_(window), images_(std::move(images)) {}

TQFindMyPhoneWindowPresenter::~TQFindMyPhoneWindowPresenter() {
    delete overlay_.data();
}

void TQFindMyPhoneWindowPresenter::present(TQCustomAlertView& alarm) {
    remove();
    auto* overlay = new TQCustomAlertOverlay(alarm, images_);
    overlay_ = overlay;
    window_.addOverlay(overlay, platform::ui::Layer::pageOverlay);
}

void TQFindMyPhoneWindowPresenter::remove() {
    if (overlay_) {
        overlay_->removeFromSuperview();
    }
    overlay_.clear();
}
