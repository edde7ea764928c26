#include "platform/ui/Accessibility.h"

#include <QAccessible>
#include <QPainter>

namespace platform::ui {

Accessibility& Accessibility::current() {
    return installedOr([]() -> Accessibility& {
        static QtAccessibility accessibility;
        return accessibility;
    });
}

void QtAccessibility::announce(QWidget& source, std::string_view text) {
    source.setAccessibleDescription(toQString(text));
    QAccessibleEvent event(&source, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}

SnapshotView::SnapshotView(QWidget* source, QWidget* parent) : View(parent) {
    if (source != nullptr) {
        picture_ = source->grab();
    }
}

void SnapshotView::paintEvent(QPaintEvent* event) {
    View::paintEvent(event);
    if (!picture_.isNull()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, picture_);
    }
}

}  // namespace platform::ui
