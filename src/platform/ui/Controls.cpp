#include "platform/ui/Controls.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/foundation/RunLoop.h"
#include "platform/image/QtBridge.h"
#include "platform/ui/Animator.h"
#include "platform/ui/TextMetrics.h"

namespace platform::ui {

namespace {

QImage shownPixels(const image::Image& image) {
    const QImage& pixels = image::qImageOf(image.bitmap());
    if (pixels.isNull() || image.orientation() == image::Orientation::up) {
        return pixels;
    }
    return image::qImageOf(image.bitmap().oriented(image.orientation()));
}

QFont namedFont(std::string_view family, double size) {
    QFont font = systemFont(size);
    const QString name = toQString(family);
    if (QFontInfo(QFont(name)).family() == name) {
        font.setFamily(name);
    }
    return font;
}

}  // namespace

// Label

Label::Label(QWidget* parent) : Framed<QLabel>(parent) {
    QLabel::setFont(systemFont(17));
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void Label::setText(std::string_view text) {
    QLabel::setText(toQString(text));
}

std::string Label::text() const {
    return toStdString(QLabel::text());
}

void Label::setFontSize(double size) {
    QLabel::setFont(systemFont(size));
}

void Label::setFont(std::string_view family, double size) {
    QLabel::setFont(namedFont(family, size));
}

void Label::setTextColor(const Color& color) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, toQColor(color));
    setPalette(p);
}

void Label::setBold(bool bold) {
    QFont font = QLabel::font();
    font.setBold(bold);
    QLabel::setFont(font);
}

void Label::setNumberOfLines(int lines) {
    setWordWrap(lines != 1);
}

void Label::setTextAlignment(TextAlignment alignment) {
    const Qt::Alignment vertical = alignment == TextAlignment::left && wordWrap()
                                       ? Qt::AlignTop
                                       : Qt::AlignVCenter;
    switch (alignment) {
        case TextAlignment::left:
            setAlignment(Qt::AlignLeft | vertical);
            break;
        case TextAlignment::center:
            setAlignment(Qt::AlignHCenter | vertical);
            break;
        case TextAlignment::right:
            setAlignment(Qt::AlignRight | vertical);
            break;
    }
}

void Label::setEnabled(bool enabled) {
    QLabel::setEnabled(enabled);
}

// Button

Button::Button(QWidget* parent) : Framed<QAbstractButton>(parent) {
    QAbstractButton::setFont(systemFont(17));
    QObject::connect(this, &QAbstractButton::pressed, this, [this] {
        if (onTouchDown_ && action_) {
            action_();
        }
    });
    QObject::connect(this, &QAbstractButton::clicked, this, [this] {
        if (!onTouchDown_ && action_) {
            action_();
        }
    });
}

void Button::setTitle(std::string_view title) {
    setText(toQString(title));
}

std::string Button::title() const {
    return toStdString(text());
}

void Button::setTitleColor(const Color& color) {
    titleColor_ = color;
    update();
}

void Button::setFont(std::string_view family, double size) {
    QAbstractButton::setFont(namedFont(family, size));
}

void Button::setBackgroundColor(const Color& color) {
    background_ = color;
    update();
}

void Button::setImage(State state, image::Image image) {
    images_[static_cast<std::size_t>(state)] = std::move(image);
    update();
}

Button::State Button::state() const {
    if (!isEnabled()) {
        return State::disabled;
    }
    if (isDown()) {
        return State::highlighted;
    }
    return selected_ ? State::selected : State::normal;
}

const image::Image& Button::currentImage() const {
    const image::Image& own = images_[static_cast<std::size_t>(state())];
    return own.isNull() ? images_[0] : own;
}

void Button::setSelectedState(bool selected) {
    selected_ = selected;
    update();
}

void Button::setActionOnTouchDown(bool onTouchDown) {
    onTouchDown_ = onTouchDown;
}

void Button::onAction(std::function<void()> action) {
    action_ = std::move(action);
}

void Button::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (background_) {
        painter.fillRect(rect(), toQColor(*background_));
    }
    const QImage pixels = shownPixels(currentImage());
    if (!pixels.isNull()) {
        const QSize size = pixels.size().scaled(this->size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                           size);
        painter.drawImage(target, pixels);
    }
    if (!text().isEmpty()) {
        Color color = titleColor_;
        if (state() == State::highlighted || state() == State::disabled) {
            color.alpha *= 0.4;
        }
        painter.setPen(toQColor(color));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
}

// Switch

Switch::Switch(QWidget* parent) : Framed<QAbstractButton>(parent) {
    setCheckable(true);
    resize(sizeHint());
}

void Switch::onValueChanged(std::function<void(bool on)> changed) {
    QObject::connect(this, &QAbstractButton::clicked, this,
                     [changed = std::move(changed)](bool on) { changed(on); });
}

void Switch::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double radius = track.height() / 2;
    const QColor on = isEnabled() ? QColor(76, 217, 100) : QColor(160, 220, 170);
    painter.setPen(isChecked() ? Qt::NoPen : QPen(QColor(229, 229, 234), 1.5));
    painter.setBrush(isChecked() ? on : QColor(255, 255, 255));
    painter.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 2;
    const double x = isChecked() ? track.right() - knob - 1 : track.left() + 1;
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 1, knob, knob));
}

// TextField

TextField::TextField(QWidget* parent) : Framed<QLineEdit>(parent) {
    QLineEdit::setFont(systemFont(17));
    QLineEdit::setFrame(false);
    connect(this, &QLineEdit::returnPressed, this, [this] {
        if (onReturn_) {
            onReturn_();
        }
    });
}

void TextField::setText(std::string_view text) {
    QLineEdit::setText(toQString(text));
}

std::string TextField::text() const {
    return toStdString(QLineEdit::text());
}

std::size_t TextField::length() const {
    return static_cast<std::size_t>(QLineEdit::text().size());
}

void TextField::setPlaceholder(std::string_view text) {
    setPlaceholderText(toQString(text));
}

void TextField::setFontSize(double size) {
    QLineEdit::setFont(systemFont(size));
}

void TextField::onEditingChanged(std::function<void()> changed) {
    connect(this, &QLineEdit::textEdited, this,
            [changed = std::move(changed)](const QString&) { changed(); });
}

TextField::Range TextField::selectionOrCursor() const {
    if (hasSelectedText()) {
        return {static_cast<std::size_t>(selectionStart()),
                static_cast<std::size_t>(selectedText().size())};
    }
    return {static_cast<std::size_t>(cursorPosition()), 0};
}

bool TextField::allowed(Range range, const QString& replacement) const {
    return !shouldChange_ || shouldChange_(range, toStdString(replacement));
}

void TextField::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (onReturn_) {
            onReturn_();
        }
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        insertFromPaste();
        event->accept();
        return;
    }
    Range range = selectionOrCursor();
    const bool backspace = event->key() == Qt::Key_Backspace;
    const bool erase = event->key() == Qt::Key_Delete;
    if ((backspace || erase) && range.length == 0) {
        const std::size_t size = length();
        if (backspace && range.location > 0) {
            range = {range.location - 1, 1};
        } else if (erase && range.location < size) {
            range = {range.location, 1};
        }
    }
    const QString typed = event->text();
    const bool inserts = !typed.isEmpty() && typed.at(0).isPrint();
    if ((inserts && !allowed(range, typed)) ||
        ((backspace || erase) && range.length > 0 && !allowed(range, {}))) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TextField::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty() &&
        !allowed(selectionOrCursor(), event->commitString())) {
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

void TextField::insertFromPaste() {
    const QString pasted = QApplication::clipboard()->text();
    if (pasted.isEmpty() || !allowed(selectionOrCursor(), pasted)) {
        return;
    }
    insert(pasted);
    emit textEdited(QLineEdit::text());
}

// TextView

TextView::TextView(QWidget* parent) : Framed<QTextEdit>(parent) {
    setReadOnly(true);
    setCursorWidth(0);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFrameShape(QFrame::NoFrame);
    QTextEdit::setFont(systemFont(15));
}

void TextView::setText(std::string_view text) {
    setPlainText(toQString(text));
}

std::string TextView::text() const {
    return toStdString(toPlainText());
}

void TextView::setFontSize(double size) {
    QTextEdit::setFont(systemFont(size));
}

// ProgressBar

ProgressBar::ProgressBar(QWidget* parent) : View(parent) {}

ProgressBar::~ProgressBar() = default;

void ProgressBar::setProgress(double progress, bool animated) {
    progress_ = std::clamp(progress, 0.0, 1.0);
    const int generation = ++generation_;
    if (!animated) {
        shown_ = progress_;
        update();
        return;
    }
    const double from = shown_;
    const double to = progress_;
    ViewGuard<ProgressBar> self(this);
    Animator::current().animate(Animation{
        0.25, Curve::easeOut,
        [self, from, to, generation](double value) {
            if (self && self->generation_ == generation) {
                self->shown_ = from + (to - from) * value;
                self->update();
            }
        },
        {},
        {}});
}

void ProgressBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF all = rect();
    const double radius = std::min(all.height() / 2, 2.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(toQColor(track_));
    painter.drawRoundedRect(all, radius, radius);
    if (shown_ > 0) {
        QRectF done = all;
        done.setWidth(all.width() * shown_);
        if (layoutDirection() == Qt::RightToLeft) {
            done.moveRight(all.right());
        }
        painter.setBrush(toQColor(fill_));
        painter.drawRoundedRect(done, radius, radius);
    }
}

// Spinner

Spinner::Spinner(QWidget* parent) : View(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setVisible(false);
}

Spinner::~Spinner() {
    stopAnimating();
}

void Spinner::setColor(const Color& color) {
    color_ = color;
    update();
}

void Spinner::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!isAnimating()) {
        setVisible(!hides);
    }
}

void Spinner::startAnimating() {
    setVisible(true);
    if (timer_) {
        return;
    }
    ViewGuard<Spinner> self(this);
    timer_ = RunLoop::main().scheduleTimer(1.0 / 12, true, [self] {
        if (self) {
            self->phase_ = (self->phase_ + 1) % 12;
            self->update();
        }
    });
}

void Spinner::stopAnimating() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    if (hidesWhenStopped_) {
        setVisible(false);
    }
}

void Spinner::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    const double inner = side * 0.22;
    const double outer = side * 0.45;
    QPen pen;
    pen.setCapStyle(Qt::RoundCap);
    pen.setWidthF(std::max(1.5, side * 0.08));
    for (int spoke = 0; spoke < 12; ++spoke) {
        const int age = (phase_ - spoke + 12) % 12;
        QColor color = toQColor(color_);
        color.setAlphaF(static_cast<float>(color_.alpha * (1.0 - age / 13.0)));
        pen.setColor(color);
        painter.setPen(pen);
        const double angle = spoke * std::numbers::pi / 6;
        painter.drawLine(QPointF(std::sin(angle) * inner, -std::cos(angle) * inner),
                         QPointF(std::sin(angle) * outer, -std::cos(angle) * outer));
    }
}

// ImageView

ImageView::ImageView(QWidget* parent) : View(parent) {}

ImageView::~ImageView() {
    stopAnimating();
}

void ImageView::setImage(image::Image image) {
    image_ = std::move(image);
    update();
}

void ImageView::setContentMode(ContentMode mode) {
    mode_ = mode;
    update();
}

void ImageView::setAnimationImages(std::vector<image::Image> frames) {
    stopAnimating();
    frames_ = std::move(frames);
}

void ImageView::startAnimating() {
    if (timer_ || frames_.empty() || duration_ <= 0) {
        return;
    }
    frame_ = 0;
    rounds_ = 0;
    update();
    ViewGuard<ImageView> self(this);
    timer_ = RunLoop::main().scheduleTimer(duration_ / static_cast<double>(frames_.size()), true,
                                           [self] {
                                               if (self) {
                                                   self->advance();
                                               }
                                           });
}

void ImageView::stopAnimating() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    frame_ = 0;
    update();
}

void ImageView::advance() {
    frame_ = (frame_ + 1) % frames_.size();
    if (frame_ == 0 && repeatCount_ > 0 && ++rounds_ >= repeatCount_) {
        stopAnimating();
        return;
    }
    update();
}

void ImageView::paintEvent(QPaintEvent* event) {
    View::paintEvent(event);
    const image::Image& shown = timer_ ? frames_[frame_] : image_;
    const QImage pixels = shownPixels(shown);
    if (pixels.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(rect());
    transformContent(painter);
    QRectF target = rect();
    if (mode_ != ContentMode::scaleToFill) {
        QSizeF size = pixels.size();
        if (mode_ == ContentMode::aspectFit) {
            size.scale(this->size(), Qt::KeepAspectRatio);
        } else if (mode_ == ContentMode::aspectFill) {
            size.scale(this->size(), Qt::KeepAspectRatioByExpanding);
        }
        target = QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2),
                        size);
    }
    painter.drawImage(target, pixels);
}

}  // namespace platform::ui
