#include "ui/BNToastView.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "platform/ui/TextMetrics.h"
#include "ui/BNToast.h"

namespace ui = platform::ui;

namespace {

ui::TextAlignment alignmentOf(int value) {
    switch (value) {
        case 1: return ui::TextAlignment::center;
        case 2: return ui::TextAlignment::right;
        default: return ui::TextAlignment::left;
    }
}

ui::ImageView::ContentMode contentModeOf(int value) {
    switch (value) {
        case 0: return ui::ImageView::ContentMode::scaleToFill;
        case 1: return ui::ImageView::ContentMode::aspectFit;
        case 2: return ui::ImageView::ContentMode::aspectFill;
        default: return ui::ImageView::ContentMode::center;
    }
}

// The text's shadow is a crisp copy in the shadow colour at the offset; no colour, no shadow.
void dress(ui::Label& label, std::string_view text, const BNToastFont& font,
           const ui::Color& colour, int alignment, int lines,
           const std::optional<ui::Color>& shadowColour, ui::Size shadowOffset) {
    label.setText(text);
    if (font.family.empty()) {
        label.setFontSize(font.size);
    } else {
        label.setFont(font.family, font.size);
    }
    label.setTextColor(colour);
    label.setTextAlignment(alignmentOf(alignment));
    label.setNumberOfLines(lines);
    if (shadowColour) {
        label.setShadow(ui::Shadow{*shadowColour, 1, 0, shadowOffset});
    } else {
        label.setShadow(std::nullopt);
    }
}

// The platform's indicator styles: 0 large white, 1 white, 2 grey; others draw as white.
void dressIndicator(ui::Spinner& spinner, int style) {
    const double side = style == 0 ? 37 : 20;
    spinner.setColor(style == 2 ? ui::Color{0.5, 0.5, 0.5, 1} : ui::Color{1, 1, 1, 1});
    spinner.setFrame({spinner.frame().x, spinner.frame().y, side, side});
}

}  // namespace

BNToastView::BNToastView(QWidget* parent) : View(parent) {
    setName("BNToastView");
    setAccessibleName("BNToastView");
    imageView_ = new ui::ImageView(this);
    imageView_->setName("bannerImage");
    imageView_->setUserInteractionEnabled(false);
    imageView_->setContentMode(ui::ImageView::ContentMode::center);
    imageView_->setFrame({0, 0, 0, 0});
    activityIndicator_ = new ui::Spinner(this);
    activityIndicator_->setName("bannerActivity");
    activityIndicator_->setUserInteractionEnabled(false);
    activityIndicator_->setColor({1, 1, 1, 1});
    activityIndicator_->setHidesWhenStopped(true);
    activityIndicator_->setFrame({0, 0, 20, 20});
    label_ = new ui::Label(this);
    label_->setName("bannerText");
    label_->setUserInteractionEnabled(false);
    subtitleLabel_ = new ui::Label(this);
    subtitleLabel_->setName("bannerSubtitle");
    subtitleLabel_->setUserInteractionEnabled(false);
}

void BNToastView::setToast(const BNToast* toast) {
    toast_ = toast;
    if (toast == nullptr) {
        return;
    }
    dress(*label_, toast->text(), toast->font(), toast->textColor(), toast->textAlignment(),
          toast->textMaxNumberOfLines(), toast->textShadowColor(), toast->textShadowOffset());
    if (const auto subtitle = toast->subtitleText()) {
        dress(*subtitleLabel_, *subtitle, toast->subtitleFont(), toast->subtitleTextColor(),
              toast->subtitleTextAlignment(), toast->subtitleTextMaxNumberOfLines(),
              toast->subtitleTextShadowColor(), toast->subtitleTextShadowOffset());
    }
    if (auto image = toast->image()) {
        imageView_->setImage(std::move(*image));
    }
    imageView_->setContentMode(contentModeOf(toast->imageContentMode()));
    dressIndicator(*activityIndicator_, toast->activityIndicatorViewStyle());
    setBackgroundColor(toast->backgroundColor());
    if (auto* background = toast->backgroundView()) {
        backgroundView_ = background;
        if (background->parentWidget() == nullptr) {
            background->setParent(this);
            background->lower();
            background->show();
        }
    }
    layoutSubviews();
}

void BNToastView::layoutSubviews() {
    if (toast_ == nullptr) {
        return;
    }
    const ui::Rect bounds{0, 0, frame().width, frame().height};
    const double W = bounds.width;
    const double y0 = toast_->displayUnderStatusBar()
                          ? BNToastScreenTraits::current().statusBarHeight - 5
                          : 0;
    const double H = bounds.height - y0;
    if (backgroundView_) {
        backgroundView_->setFrame(bounds);
    }

    const auto image = toast_->image();
    const double iw = image ? image->size().width : 0;
    const double ih = image ? image->size().height : 0;
    const int imageAlignment = toast_->imageAlignment();
    const double imageX = imageAlignment == BNToastAlignmentRight    ? W - H
                          : imageAlignment == BNToastAlignmentCenter ? W / 2 - H / 2
                                                                     : 0;
    imageView_->setFrame({imageX, y0, iw != 0 ? H : 0, ih != 0 ? H : 0});
    double x = 10;
    if (iw != 0 && imageAlignment == BNToastAlignmentLeft) {
        x = imageView_->frame().x + imageView_->frame().width;
    }

    const bool indicator = toast_->showActivityIndicator();
    const int indicatorAlignment = toast_->activityViewAlignment();
    if (indicator) {
        const double cx = indicatorAlignment == BNToastAlignmentLeft     ? H / 2
                          : indicatorAlignment == BNToastAlignmentCenter ? W / 2
                          : indicatorAlignment == BNToastAlignmentRight  ? W - H / 2
                                                                         : 0;
        activityIndicator_->setCenter({cx, y0 + H / 2});
        activityIndicator_->startAnimating();
        activityIndicator_->raise();
        const double own =
            indicatorAlignment == BNToastAlignmentLeft ? (H == 0 ? 10 : H) : 10;
        x = std::max(x, own);
    }

    double wt = W;
    const bool imageShown = iw > 0;
    if (imageShown && imageAlignment != BNToastAlignmentCenter) {
        wt -= H;
    }
    if (indicator && indicatorAlignment != BNToastAlignmentCenter) {
        wt -= H;
    }
    if (!imageShown && !indicator) {
        wt -= 20;
    }
    // An image and the indicator on the same side share one square: the text keeps the rest.
    if (imageShown && indicator && imageAlignment == indicatorAlignment &&
        imageAlignment != BNToastAlignmentCenter) {
        wt += H;
    }

    const auto subtitle = toast_->subtitleText();
    subtitleLabel_->setVisible(subtitle.has_value());
    if (!subtitle) {
        label_->setFrame({x, y0, wt, H});
        return;
    }
    const auto& metrics = ui::TextMetrics::current();
    const double th =
        std::min(H, metrics.boundingSize(toast_->text(), toast_->font().size, wt).height);
    double sh = metrics.boundingSize(*subtitle, toast_->subtitleFont().size, wt).height;
    if (H - (th + sh) < 5) {
        sh = H - th - 10;
    }
    const double offset = (H - (th + sh)) / 2;
    label_->setFrame({x, y0 + offset, W - x - 10, th});
    subtitleLabel_->setFrame({x, y0 + offset + th, W - x - 10, sh});
}
