#include "platform/ui/Table.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "platform/ui/Appearance.h"
#include "platform/ui/ScrollStyle.h"

namespace platform::ui {

namespace {
constexpr Color kGroupedBackground{0.937, 0.937, 0.957, 1};
constexpr Color kSeparator{0.78, 0.78, 0.8, 1};
constexpr double kAccessoryWidth = 34;
}  // namespace

TableCell::TableCell(QWidget* parent)
    : View(parent), content_(new View(this)) {
    setBackgroundColor(Color{1, 1, 1, 1});
    resize(320, 44);
}

Label& TableCell::textLabel() {
    if (textLabel_ == nullptr) {
        textLabel_ = new Label(this);
        textLabel_->setFontSize(17);
        textLabel_->setEnabled(textLabelEnabled_);
        layoutSubviews();
        if (isVisible()) {
            textLabel_->show();
        }
    }
    return *textLabel_;
}

void TableCell::setTextLabelEnabled(bool enabled) {
    textLabelEnabled_ = enabled;
    if (textLabel_ != nullptr) {
        textLabel_->setEnabled(enabled);
    }
}

void TableCell::setAccessory(Accessory accessory) {
    accessory_ = accessory;
    layoutSubviews();
    update();
}

double TableCell::accessoryWidth() const {
    return accessory_ == Accessory::none ? 0 : kAccessoryWidth;
}

void TableCell::layoutSubviews() {
    content_->setFrame({0, 0, width() - accessoryWidth(), double(height())});
    if (textLabel_ != nullptr) {
        textLabel_->setFrame({leftLayoutMargin(), 0,
                              width() - accessoryWidth() - leftLayoutMargin(), double(height())});
    }
}

void TableCell::paintEvent(QPaintEvent* event) {
    View::paintEvent(event);
    QPainter painter(this);
    if (highlighted_ && selectionStyle_ != SelectionStyle::none) {
        const auto& selected = selectedBackground_ ? selectedBackground_
                                                   : Appearance::current().selectedCellBackground;
        painter.fillRect(rect(), selected ? toQColor(*selected) : QColor(217, 217, 217));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    const double right = width() - 16;
    const double middle = height() / 2.0;
    if (accessory_ == Accessory::disclosureIndicator) {
        painter.setPen(QPen(QColor(199, 199, 204), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(QPolygonF({QPointF(right - 6, middle - 6.5), QPointF(right, middle),
                                        QPointF(right - 6, middle + 6.5)}));
    } else if (accessory_ == Accessory::checkmark) {
        painter.setPen(QPen(QColor(0, 122, 255), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(QPolygonF({QPointF(right - 12, middle), QPointF(right - 7, middle + 5),
                                        QPointF(right + 1, middle - 6)}));
    }
    painter.setPen(QPen(toQColor(separator_.value_or(kSeparator)), 0.5));
    painter.drawLine(QPointF(leftLayoutMargin(), height() - 0.5),
                     QPointF(width(), height() - 0.5));
}

void TableCell::mousePressEvent(QMouseEvent* event) {
    highlighted_ = true;
    update();
    event->accept();
}

void TableCell::mouseReleaseEvent(QMouseEvent* event) {
    highlighted_ = false;
    update();
    if (rect().contains(event->position().toPoint()) && touched_) {
        touched_();
    }
}

TableView::TableView(QWidget* parent) : Framed<QScrollArea>(parent), canvas_(new View) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    usePhoneScrollBars(*this);
    canvas_->setBackgroundColor(kGroupedBackground);
    setWidget(canvas_);
    setWidgetResizable(false);
}

void TableView::setSections(std::vector<TableSection> sections) {
    for (const auto& section : sections_) {
        delete section.header;
        delete section.footer;
        for (TableCell* cell : section.cells) {
            delete cell;
        }
    }
    sections_ = std::move(sections);
    for (const auto& section : sections_) {
        for (View* view : {section.header, section.footer}) {
            if (view != nullptr) {
                view->setParent(canvas_);
                view->show();
            }
        }
        for (TableCell* cell : section.cells) {
            cell->setParent(canvas_);
            cell->show();
        }
    }
    layoutNow();
}

TableCell* TableView::cell(std::size_t section, std::size_t row) const {
    if (section >= sections_.size() || row >= sections_[section].cells.size()) {
        return nullptr;
    }
    return sections_[section].cells[row];
}

void TableView::layoutNow() {
    const double width = viewport()->width();
    double y = 0;
    for (const auto& section : sections_) {
        if (section.header != nullptr) {
            section.header->setFrame({0, y, width, section.headerHeight});
        }
        y += section.headerHeight;
        for (TableCell* cell : section.cells) {
            cell->setFrame({0, y, width, cell->rowHeight()});
            y += cell->rowHeight();
        }
        if (section.footer != nullptr) {
            section.footer->setFrame({0, y, width, section.footerHeight});
        }
        y += section.footerHeight;
    }
    contentHeight_ = y;
    canvas_->setFrame({0, 0, width, std::max(y, double(viewport()->height()))});
}

void TableView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    layoutNow();
}

}  // namespace platform::ui
