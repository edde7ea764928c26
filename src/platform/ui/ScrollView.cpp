#include "platform/ui/ScrollView.h"

#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "platform/ui/ScrollStyle.h"

namespace platform::ui {

ScrollView::ScrollView(QWidget* parent) : Framed<QScrollArea>(parent), content_(new View) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    usePhoneScrollBars(*this);
    setWidget(content_);
    setWidgetResizable(false);
    // What shows past the content is the page under the area, never the style's base colour.
    viewport()->setAutoFillBackground(false);
}

void ScrollView::setContentHeight(double height) {
    contentHeight_ = std::max(0.0, height);
    placeContent();
}

double ScrollView::contentOffset() const {
    return verticalScrollBar()->value();
}

void ScrollView::setContentOffset(double offset) {
    verticalScrollBar()->setValue(static_cast<int>(std::lround(offset)));
}

void ScrollView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    placeContent();
}

void ScrollView::placeContent() {
    // Resized only: the area keeps the content where it is scrolled to.
    const QSize area = viewport()->size();
    content_->resize(area.width(),
                     std::max(static_cast<int>(std::ceil(contentHeight_)), area.height()));
}

}  // namespace platform::ui
