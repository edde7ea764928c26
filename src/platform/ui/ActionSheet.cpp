#include "platform/ui/ActionSheet.h"

#include <QMouseEvent>
#include <algorithm>

#include "platform/ui/Animator.h"
#include "platform/ui/Window.h"

namespace platform::ui {

namespace {
constexpr double kDim = 0.4;
constexpr double kTextSide = 16;
constexpr Color kDestructive{1, 0.23, 0.19, 1};
constexpr Color kTint{0, 0.48, 1, 1};
constexpr Color kSecondaryText{0.56, 0.56, 0.58, 1};

double labelHeight(Label& label, double width) {
    return label.text().empty() ? 0.0 : double(label.heightForWidth(static_cast<int>(width)));
}
}  // namespace

ActionSheet::ActionSheet(std::string_view title, std::string_view message, QWidget* parent)
    : View(parent),
      sheet_(new View(this)),
      group_(new View(sheet_)),
      cancelBox_(new View(sheet_)),
      title_(new Label(group_)),
      message_(new Label(group_)) {
    setName("actionSheet");
    for (View* box : {group_, cancelBox_}) {
        box->setBackgroundColor(Color{0.97, 0.97, 0.97, 1});
        box->setCornerRadius(13);
    }
    cancelBox_->hide();
    title_->setName("actionSheetTitle");
    title_->setText(title);
    title_->setFontSize(13);
    title_->setBold(true);
    message_->setName("actionSheetMessage");
    message_->setText(message);
    message_->setFontSize(13);
    for (Label* label : {title_, message_}) {
        label->setTextColor(kSecondaryText);
        label->setNumberOfLines(0);
        label->setTextAlignment(TextAlignment::center);
    }
    setShown(1);
}

std::size_t ActionSheet::addButton(std::string_view title, ActionStyle style) {
    const std::size_t index = buttons_.size();
    const bool cancel = style == ActionStyle::cancel && !cancel_;
    auto* button = new Button(cancel ? cancelBox_ : group_);
    button->setName("actionSheetButton" + std::to_string(index));
    button->setTitle(title);
    button->setFont("", 20);
    button->setTitleColor(style == ActionStyle::destructive ? kDestructive : kTint);
    if (cancel) {
        cancel_ = index;
        QFont bold = button->font();
        bold.setBold(true);
        button->QWidget::setFont(bold);
        cancelBox_->show();
    }
    button->onAction([this, index] { press(index); });
    button->show();
    buttons_.push_back(button);
    layoutSheet();
    return index;
}

void ActionSheet::press(std::size_t index) {
    if (leaving_) {
        return;
    }
    auto pressed = pressed_;
    dismiss(true);
    if (pressed) {
        pressed(index);
    }
}

double ActionSheet::sheetHeight() const {
    return sheet_->frame().height;
}

void ActionSheet::layoutSheet() {
    const double width = std::max(0.0, double(this->width()) - 2 * kMargin);
    const double inner = std::max(0.0, width - 2 * kTextSide);
    const double titleHeight = labelHeight(*title_, inner);
    const double messageHeight = labelHeight(*message_, inner);
    double y = 0;
    if (titleHeight + messageHeight > 0) {
        y = 14;
        title_->setFrame({kTextSide, y, inner, titleHeight});
        y += titleHeight + (titleHeight > 0 && messageHeight > 0 ? 4 : 0);
        message_->setFrame({kTextSide, y, inner, messageHeight});
        y += messageHeight + 14;
    }
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        if (cancel_ == i) {
            buttons_[i]->setFrame({0, 0, width, kButtonHeight});
            continue;
        }
        buttons_[i]->setFrame({0, y, width, kButtonHeight});
        y += kButtonHeight;
    }
    group_->setFrame({0, 0, width, y});
    group_->setVisible(y > 0);
    double height = y;
    if (cancel_) {
        const double top = y > 0 ? y + kMargin : 0;
        cancelBox_->setFrame({0, top, width, kButtonHeight});
        height = top + kButtonHeight;
    }
    const double rest = double(this->height()) - kMargin - height;
    sheet_->setFrame({kMargin, rest + (1 - shown_) * (height + kMargin), width, height});
}

void ActionSheet::setShown(double shown) {
    shown_ = shown;
    setBackgroundColor(Color{0, 0, 0, kDim * shown});
    layoutSheet();
}

void ActionSheet::show(MainWindow& window, bool animated) {
    window.addOverlay(this, Layer::alert);
    View::show();
    if (!animated) {
        setShown(1);
        return;
    }
    setShown(0);
    ViewGuard<ActionSheet> self(this);
    Animator::current().animate(Animation{kDuration, Curve::easeOut,
                                          [self](double value) {
                                              if (self) {
                                                  self->setShown(value);
                                              }
                                          },
                                          {},
                                          {}});
}

void ActionSheet::dismiss(bool animated) {
    if (leaving_) {
        return;
    }
    leaving_ = true;
    setUserInteractionEnabled(false);
    ViewGuard<ActionSheet> self(this);
    const auto gone = [self](bool) {
        if (self) {
            self->hide();
            self->setParent(nullptr);
            self->deleteLater();
        }
    };
    if (!animated) {
        gone(true);
        return;
    }
    const double from = shown_;
    Animator::current().animate(Animation{kDuration, Curve::easeIn,
                                          [self, from](double value) {
                                              if (self) {
                                                  self->setShown(from * (1 - value));
                                              }
                                          },
                                          gone,
                                          {}});
}

void ActionSheet::resizeEvent(QResizeEvent* event) {
    View::resizeEvent(event);
    layoutSheet();
}

void ActionSheet::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (cancel_ && !sheet_->geometry().contains(event->position().toPoint())) {
        press(*cancel_);
    }
}

}  // namespace platform::ui
