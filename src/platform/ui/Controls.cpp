#include "platform/ui/Controls.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/foundation/RunLoop.h"
#include "platform/image/QtBridge.h"
#include "platform/ui/Animator.h"
#include "platform/ui/InterfaceLocale.h"
#include "platform/ui/ScrollStyle.h"
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
    lines_ = std::max(0, lines);
    setWordWrap(lines_ != 1);
    update();
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

Label::Layout Label::layoutText() const {
    Layout layout;
    const QString all = QLabel::text();
    const QRectF area = contentsRect();
    const QFontMetricsF metrics(font());
    // A fraction of a point is rounding, not text that does not fit.
    constexpr double slack = 0.5;
    if (!wordWrap()) {
        QString line = all;
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (metrics.horizontalAdvance(line) <= area.width() + slack) {
            layout.lines.push_back(line);
        } else {
            layout.lines.push_back(metrics.elidedText(line, Qt::ElideRight, area.width()));
            layout.truncated = true;
        }
        return layout;
    }
    QString text = all;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout lines(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    lines.setTextOption(option);
    struct Span {
        int start;
        int length;
        double bottom;
    };
    std::vector<Span> spans;
    lines.beginLayout();
    double y = 0;
    for (QTextLine line = lines.createLine(); line.isValid(); line = lines.createLine()) {
        line.setLineWidth(area.width());
        y += metrics.leading();
        line.setPosition(QPointF(0, y));
        y += line.height();
        spans.push_back({line.textStart(), line.textLength(), y});
    }
    lines.endLayout();
    std::size_t allowed = lines_ > 0 ? static_cast<std::size_t>(lines_) : spans.size();
    std::size_t fitting = 0;
    while (fitting < spans.size() && spans[fitting].bottom <= area.height() + slack) {
        ++fitting;
    }
    allowed = std::min(allowed, std::max<std::size_t>(1, fitting));
    const auto lineText = [&text](int start, int length) {
        QString part = text.mid(start, length);
        part.replace(QChar::LineSeparator, QLatin1Char(' '));
        return part.trimmed();
    };
    for (std::size_t i = 0; i < spans.size() && i < allowed; ++i) {
        if (i + 1 == allowed && allowed < spans.size()) {
            // The rest of the text on one line, cut at the width with the ellipsis.
            QString rest = lineText(spans[i].start, int(text.size()) - spans[i].start);
            rest.append(QChar(0x2026));
            layout.lines.push_back(metrics.elidedText(rest, Qt::ElideRight, area.width()));
            layout.truncated = true;
        } else {
            layout.lines.push_back(lineText(spans[i].start, spans[i].length));
        }
    }
    return layout;
}

std::vector<std::string> Label::shownLines() const {
    std::vector<std::string> shown;
    for (const QString& line : layoutText().lines) {
        shown.push_back(toStdString(line));
    }
    return shown;
}

bool Label::isTruncated() const {
    return layoutText().truncated;
}

void Label::paintEvent(QPaintEvent* event) {
    const Layout layout = layoutText();
    // Wrapped text is drawn as laid out here, so what shows is what shownLines says (Qt's own
    // wrapping lets a word longer than the line run out of the frame).
    if (!layout.truncated && !wordWrap()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   foregroundRole()));
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    const Qt::Alignment vertical = alignment() & Qt::AlignVertical_Mask;
    painter.drawText(QRectF(contentsRect()), int(horizontal | vertical),
                     layout.lines.join(QLatin1Char('\n')));
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
    connect(this, &QLineEdit::textEdited, this, [this](const QString&) {
        if (!quiet_) {
            edited();
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
    onEdited_.push_back(std::move(changed));
}

void TextField::edited() {
    for (const auto& changed : onEdited_) {
        changed();
    }
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

bool TextField::replace(Range range, const QString& replacement) {
    if (isReadOnly() || !allowed(range, replacement)) {
        return false;
    }
    quiet_ = true;
    setSelection(static_cast<int>(range.location), static_cast<int>(range.length));
    if (range.length == 0) {
        setCursorPosition(static_cast<int>(range.location));
    }
    insert(replacement);
    quiet_ = false;
    edited();
    return true;
}

bool TextField::stepHistory(bool undo) {
    if (isReadOnly() || !(undo ? isUndoAvailable() : isRedoAvailable())) {
        return false;
    }
    const QString before = QLineEdit::text();
    quiet_ = true;
    undo ? QLineEdit::undo() : QLineEdit::redo();
    quiet_ = false;
    const QString after = QLineEdit::text();
    if (after == before) {
        return false;
    }
    // The step's change as one replacement: what lies between the common ends.
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype head = 0;
    while (head < shorter && before[head] == after[head]) {
        ++head;
    }
    qsizetype tail = 0;
    while (tail < shorter - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
        ++tail;
    }
    const Range range{static_cast<std::size_t>(head),
                      static_cast<std::size_t>(before.size() - head - tail)};
    if (!allowed(range, after.mid(head, after.size() - head - tail))) {
        quiet_ = true;
        undo ? QLineEdit::redo() : QLineEdit::undo();
        quiet_ = false;
        return false;
    }
    edited();
    return true;
}

bool TextField::perform(EditAction action) {
    switch (action) {
        case EditAction::undo:
            return stepHistory(true);
        case EditAction::redo:
            return stepHistory(false);
        case EditAction::cut: {
            if (!hasSelectedText() || echoMode() != Normal) {
                return false;
            }
            const Range range = selectionOrCursor();
            if (isReadOnly() || !allowed(range, {})) {
                return false;
            }
            copy();
            return replace(range, {});
        }
        case EditAction::copy:
            copy();
            return false;
        case EditAction::paste: {
            const QString pasted = QApplication::clipboard()->text();
            if (pasted.isEmpty()) {
                return false;
            }
            return replace(selectionOrCursor(), pasted);
        }
        case EditAction::erase:
            return hasSelectedText() && replace(selectionOrCursor(), {});
        case EditAction::selectAll:
            selectAll();
            return false;
    }
    return false;
}

std::unique_ptr<QMenu> TextField::createEditMenu() {
    auto menu = std::make_unique<QMenu>();
    menu->setObjectName(QStringLiteral("editMenu"));
    const bool editable = !isReadOnly();
    const bool selected = hasSelectedText();
    const bool visible = echoMode() == Normal;
    const struct {
        EditAction action;
        bool enabled;
        bool separatorAfter;
    } entries[] = {
        {EditAction::undo, editable && isUndoAvailable(), false},
        {EditAction::redo, editable && isRedoAvailable(), true},
        {EditAction::cut, editable && selected && visible, false},
        {EditAction::copy, selected && visible, false},
        {EditAction::paste, editable && !QApplication::clipboard()->text().isEmpty(), false},
        {EditAction::erase, editable && selected, true},
        {EditAction::selectAll, !QLineEdit::text().isEmpty() &&
                                    selectedText().size() != QLineEdit::text().size(),
         false},
    };
    const InterfaceLocale& locale = InterfaceLocale::current();
    ViewGuard<TextField> self(this);
    for (const auto& entry : entries) {
        QAction* item = menu->addAction(toQString(locale.editMenuText(entry.action)));
        item->setData(static_cast<int>(entry.action));
        item->setEnabled(entry.enabled);
        QObject::connect(item, &QAction::triggered, this, [self, action = entry.action] {
            if (self) {
                self->perform(action);
            }
        });
        if (entry.separatorAfter) {
            menu->addSeparator();
        }
    }
    return menu;
}

void TextField::contextMenuEvent(QContextMenuEvent* event) {
    const std::unique_ptr<QMenu> menu = createEditMenu();
    menu->exec(event->globalPos());
    event->accept();
}

void TextField::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (onReturn_) {
            onReturn_();
        }
        event->accept();
        return;
    }
    const std::pair<QKeySequence::StandardKey, EditAction> commands[] = {
        {QKeySequence::Paste, EditAction::paste},
        {QKeySequence::Cut, EditAction::cut},
        {QKeySequence::Undo, EditAction::undo},
        {QKeySequence::Redo, EditAction::redo},
    };
    for (const auto& [keys, action] : commands) {
        if (event->matches(keys)) {
            perform(action);
            event->accept();
            return;
        }
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
    const QString commit = event->commitString();
    if (!commit.isEmpty() || event->replacementLength() > 0) {
        Range range = selectionOrCursor();
        if (event->replacementLength() > 0) {
            const qsizetype start = cursorPosition() + event->replacementStart();
            range = {static_cast<std::size_t>(std::max<qsizetype>(0, start)),
                     static_cast<std::size_t>(event->replacementLength())};
        }
        if (!allowed(range, commit)) {
            // The composition ends without its text, so nothing half-entered stays on show.
            QInputMethodEvent ended;
            QLineEdit::inputMethodEvent(&ended);
            event->accept();
            return;
        }
    }
    QLineEdit::inputMethodEvent(event);
}

void TextField::dragMoveEvent(QDragMoveEvent* event) {
    QLineEdit::dragMoveEvent(event);
    const QMimeData* data = event->mimeData();
    if (data != nullptr && data->hasText()) {
        const auto at = static_cast<std::size_t>(cursorPositionAt(event->position().toPoint()));
        if (!allowed({at, 0}, data->text())) {
            event->ignore();
        }
    }
}

void TextField::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    if (data == nullptr || !data->hasText() || event->source() == this) {
        // A move within the field is the field's own business: its length does not change.
        QLineEdit::dropEvent(event);
        return;
    }
    const auto at = static_cast<std::size_t>(cursorPositionAt(event->position().toPoint()));
    if (replace({at, 0}, data->text())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TextField::mouseReleaseEvent(QMouseEvent* event) {
    QClipboard* clipboard = QApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        // The desktop's selection paste, through the same question as every other paste.
        const QString pasted = clipboard->text(QClipboard::Selection);
        if (!pasted.isEmpty()) {
            replace({static_cast<std::size_t>(cursorPositionAt(event->position().toPoint())), 0},
                    pasted);
        }
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

// TextView

TextView::TextView(QWidget* parent) : Framed<QTextEdit>(parent) {
    setReadOnly(true);
    setCursorWidth(0);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFrameShape(QFrame::NoFrame);
    usePhoneScrollBars(*this);
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
