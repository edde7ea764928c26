#include "platform/ui/LinkLabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <utility>
#include <algorithm>

#include "platform/ui/InterfaceLocale.h"
#include "platform/ui/TextMetrics.h"

namespace platform::ui {

struct LinkLabel::Layout {
    QString text;
    std::vector<std::size_t> runStarts;  // UTF-16 offset of each run
    QTextLayout layout;
    double height = 0;
    double top = 0;
};

namespace {

QFont fontOf(const TextRun& run) {
    QFont font = systemFont(run.size);
    if (!run.family.empty()) {
        // The system font stands in for a family the machine lacks.
        font.setFamilies({toQString(run.family), font.family()});
    }
    font.setBold(run.bold);
    return font;
}

// Lays the text out in lines of the width; gives the height.
double layOut(QTextLayout& layout, double width) {
    double y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1.0, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

}  // namespace

LinkLabel::LinkLabel(QWidget* parent) : View(parent), layout_(std::make_unique<Layout>()) {
    setName("linkLabel");
}

LinkLabel::~LinkLabel() = default;

void LinkLabel::setRuns(std::vector<TextRun> runs) {
    runs_ = std::move(runs);
    pressedRun_.reset();
    relayout();
}

std::string LinkLabel::text() const {
    std::string all;
    for (const TextRun& run : runs_) {
        all += run.text;
    }
    return all;
}

void LinkLabel::setTextAlignment(TextAlignment alignment) {
    alignment_ = alignment;
    relayout();
}

void LinkLabel::relayout() {
    auto fresh = std::make_unique<Layout>();
    QList<QTextLayout::FormatRange> formats;
    for (const TextRun& run : runs_) {
        fresh->runStarts.push_back(static_cast<std::size_t>(fresh->text.size()));
        const QString part = toQString(run.text);
        QTextLayout::FormatRange range;
        range.start = static_cast<int>(fresh->text.size());
        range.length = static_cast<int>(part.size());
        range.format.setFont(fontOf(run));
        range.format.setForeground(toQColor(run.color));
        range.format.setFontUnderline(run.underline);
        formats.append(range);
        fresh->text += part;
    }
    const bool rightToLeft = InterfaceLocale::current().isRightToLeft();
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    Qt::Alignment horizontal = rightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    if (alignment_ == TextAlignment::center) {
        horizontal = Qt::AlignHCenter;
    } else if (alignment_ == TextAlignment::left) {
        horizontal = Qt::AlignLeft;
    } else if (alignment_ == TextAlignment::right) {
        horizontal = Qt::AlignRight;
    }
    option.setAlignment(horizontal | Qt::AlignAbsolute);
    fresh->layout.setText(fresh->text);
    fresh->layout.setFont(runs_.empty() ? systemFont(17) : fontOf(runs_.front()));
    fresh->layout.setTextOption(option);
    fresh->layout.setFormats(formats);
    fresh->height = layOut(fresh->layout, width());
    fresh->top = std::max(0.0, (height() - fresh->height) / 2);
    layout_ = std::move(fresh);
    update();
}

double LinkLabel::heightForWidth(double width) const {
    QTextLayout copy(layout_->text, layout_->layout.font());
    copy.setTextOption(layout_->layout.textOption());
    copy.setFormats(layout_->layout.formats());
    return layOut(copy, width);
}

std::optional<std::size_t> LinkLabel::characterIndexAt(Point point) const {
    const QTextLayout& layout = layout_->layout;
    const double y = point.y - layout_->top;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (y < line.y() || y >= line.y() + line.height()) {
            continue;
        }
        const QRectF drawn = line.naturalTextRect();
        if (point.x < drawn.left() || point.x >= drawn.right()) {
            return std::nullopt;
        }
        const int cursor = line.xToCursor(point.x, QTextLine::CursorOnCharacter);
        if (cursor < line.textStart() || cursor >= line.textStart() + line.textLength()) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(cursor);
    }
    return std::nullopt;
}

std::optional<std::size_t> LinkLabel::runAt(std::size_t characterIndex) const {
    const auto& starts = layout_->runStarts;
    for (std::size_t i = starts.size(); i-- > 0;) {
        const std::size_t length = static_cast<std::size_t>(toQString(runs_[i].text).size());
        if (characterIndex >= starts[i] && characterIndex < starts[i] + length) {
            return i;
        }
    }
    return std::nullopt;
}

void LinkLabel::paintEvent(QPaintEvent* event) {
    View::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    layout_->layout.draw(&painter, QPointF(0, layout_->top));
}

void LinkLabel::resizeEvent(QResizeEvent* event) {
    View::resizeEvent(event);
    relayout();
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
    const auto index = characterIndexAt({event->position().x(), event->position().y()});
    pressedRun_ = index ? runAt(*index) : std::nullopt;
    event->accept();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    const auto pressed = std::exchange(pressedRun_, std::nullopt);
    const auto index = characterIndexAt({event->position().x(), event->position().y()});
    // A link runs when the touch begins and ends on it.
    if (!pressed || !index || runAt(*index) != pressed) {
        return;
    }
    auto action = runs_[*pressed].action;
    if (action) {
        action();
    }
    event->accept();
}

}  // namespace platform::ui
