#include "platform/ui/ScrollStyle.h"

#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOptionSlider>
#include <algorithm>
#include <memory>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Animator.h"

namespace platform::ui {

namespace {

constexpr const char* kOpacity = "kavoThumbOpacity";
constexpr int kMinimumThumb = 24;

// Shows a bar while its content moves and fades it once the content rests.
class ScrollBarFader final : public QObject {
public:
    explicit ScrollBarFader(QScrollBar& bar) : QObject(&bar), bar_(&bar) {
        bar.setProperty(kOpacity, 0.0);
        connect(&bar, &QScrollBar::valueChanged, this, [this] { wake(); });
        connect(&bar, &QScrollBar::rangeChanged, this, [this] { wake(); });
    }
    ~ScrollBarFader() override {
        if (idle_) {
            idle_->invalidate();
        }
    }

private:
    void wake() {
        ++generation_;
        set(1.0);
        if (idle_) {
            idle_->invalidate();
        }
        QPointer<ScrollBarFader> self(this);
        idle_ = RunLoop::main().scheduleTimer(PhoneScrollStyle::kIdleSeconds, false, [self] {
            if (self) {
                self->fade();
            }
        });
    }

    void fade() {
        idle_.reset();
        const int generation = ++generation_;
        QPointer<ScrollBarFader> self(this);
        Animator::current().animate(Animation{
            PhoneScrollStyle::kFadeSeconds, Curve::easeOut,
            [self, generation](double value) {
                if (self && self->generation_ == generation) {
                    self->set(1.0 - value);
                }
            },
            {},
            {}});
    }

    void set(double opacity) {
        if (bar_) {
            bar_->setProperty(kOpacity, opacity);
            bar_->update();
        }
    }

    QPointer<QScrollBar> bar_;
    std::shared_ptr<Timer> idle_;
    int generation_ = 0;
};

}  // namespace

PhoneScrollStyle::PhoneScrollStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

int PhoneScrollStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                QStyleHintReturn* returnData) const {
    if (hint == SH_ScrollBar_Transient) {
        // Transient bars lie over the viewport instead of beside it.
        return 1;
    }
    if (hint == SH_ScrollBar_ContextMenu) {
        return 0;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

int PhoneScrollStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                  const QWidget* widget) const {
    switch (metric) {
        case PM_ScrollBarExtent:
            return kThickness;
        case PM_ScrollBarSliderMin:
            return kMinimumThumb;
        case PM_ScrollView_ScrollBarOverlap:
            return kThickness;
        case PM_ScrollView_ScrollBarSpacing:
            return 0;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

QRect PhoneScrollStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                       SubControl part, const QWidget* widget) const {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || slider == nullptr) {
        return QProxyStyle::subControlRect(control, option, part, widget);
    }
    const bool horizontal = slider->orientation == Qt::Horizontal;
    const QRect all = slider->rect;
    const int length = horizontal ? all.width() : all.height();
    const int range = slider->maximum - slider->minimum;
    int thumb = length;
    if (range > 0) {
        const long long share = static_cast<long long>(length) * slider->pageStep /
                                (static_cast<long long>(range) + slider->pageStep);
        thumb = std::clamp(static_cast<int>(share), std::min(kMinimumThumb, length), length);
    }
    const int start = sliderPositionFromValue(slider->minimum, slider->maximum,
                                              slider->sliderPosition, length - thumb,
                                              slider->upsideDown);
    const auto along = [&](int from, int size) {
        return horizontal ? QRect(all.x() + from, all.y(), size, all.height())
                          : QRect(all.x(), all.y() + from, all.width(), size);
    };
    switch (part) {
        case SC_ScrollBarAddLine:
        case SC_ScrollBarSubLine:
            return {};
        case SC_ScrollBarGroove:
            return all;
        case SC_ScrollBarSlider:
            return along(start, thumb);
        case SC_ScrollBarSubPage:
            return along(0, start);
        case SC_ScrollBarAddPage:
            return along(start + thumb, length - start - thumb);
        default:
            return {};
    }
}

void PhoneScrollStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                          QPainter* painter, const QWidget* widget) const {
    if (control != CC_ScrollBar) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const double opacity = widget != nullptr ? thumbOpacity(*widget) : 1.0;
    if (opacity <= 0) {
        return;
    }
    const QRectF thumb =
        QRectF(subControlRect(control, option, SC_ScrollBarSlider, widget)).adjusted(1, 1, -1, -1);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor::fromRgbF(0, 0, 0, static_cast<float>(0.35 * opacity)));
    const double radius = std::min(thumb.width(), thumb.height()) / 2;
    painter->drawRoundedRect(thumb, radius, radius);
    painter->restore();
}

double PhoneScrollStyle::thumbOpacity(const QWidget& bar) {
    const QVariant value = bar.property(kOpacity);
    return value.isValid() ? value.toDouble() : 1.0;
}

void usePhoneScrollBars(QAbstractScrollArea& area) {
    auto* style = new PhoneScrollStyle;
    style->setParent(&area);
    for (QScrollBar* bar : {area.verticalScrollBar(), area.horizontalScrollBar()}) {
        bar->setStyle(style);
        new ScrollBarFader(*bar);
    }
    // The area asks its own style how to place the bars.
    area.setStyle(style);
}

}  // namespace platform::ui
