#include "platform/ui/View.h"

#include <QPainter>
#include <QPainterPath>

namespace platform::ui {

QColor toQColor(const Color& color) {
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                            static_cast<float>(color.blue), static_cast<float>(color.alpha));
}

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toStdString(const QString& text) {
    return text.toStdString();
}

View::View(QWidget* parent) : Framed<QWidget>(parent) {}

void View::setBackgroundColor(const Color& color) {
    background_ = color;
    update();
}

void View::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    View::resizeEvent(nullptr);
    update();
}

void View::resizeEvent(QResizeEvent* /*event*/) {
    if (cornerRadius_ <= 0) {
        clearMask();
    } else {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    }
    layoutSubviews();
    std::erase_if(sizeObservers_, [](const SizeObserver& o) { return o.owner.isNull(); });
    // A handler may add observers; those wait for the next change.
    const auto observers = sizeObservers_;
    for (const auto& observer : observers) {
        if (observer.owner) {
            observer.handler();
        }
    }
}

void View::onSizeChange(const QObject& owner, std::function<void()> handler) {
    sizeObservers_.push_back({QPointer<const QObject>(&owner), std::move(handler)});
}

void View::paintEvent(QPaintEvent* /*event*/) {
    if (!background_) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, cornerRadius_ > 0);
    if (cornerRadius_ > 0) {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
        painter.fillPath(path, toQColor(*background_));
    } else {
        painter.fillRect(rect(), toQColor(*background_));
    }
}

}  // namespace platform::ui
