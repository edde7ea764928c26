#include "platform/ui/ViewEffect.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <vector>

namespace platform::ui {

namespace {

// One box pass along a line of `count` values `stride` apart; values past the ends count as 0.
void boxPass(std::uint8_t* line, int count, std::ptrdiff_t stride, int halfWidth,
             std::vector<std::uint8_t>& scratch) {
    scratch.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        scratch[static_cast<std::size_t>(i)] = line[i * stride];
    }
    const int window = 2 * halfWidth + 1;
    int sum = 0;
    for (int i = 0; i < std::min(halfWidth, count); ++i) {
        sum += scratch[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < count; ++i) {
        const int entering = i + halfWidth;
        const int leaving = i - halfWidth - 1;
        if (entering < count) {
            sum += scratch[static_cast<std::size_t>(entering)];
        }
        if (leaving >= 0) {
            sum -= scratch[static_cast<std::size_t>(leaving)];
        }
        line[i * stride] = static_cast<std::uint8_t>((sum + window / 2) / window);
    }
}

}  // namespace

int blurHalfWidth(double radius) {
    // A style may hold any number; beyond this the blur only costs memory and time.
    constexpr double kLargestRadius = 100;
    return radius > 0 ? static_cast<int>(std::lround(std::min(radius, kLargestRadius) / 2)) : 0;
}

int blurSpread(double radius) { return 3 * blurHalfWidth(radius); }

void boxBlur(std::span<std::uint8_t> plane, int width, int height, int halfWidth) {
    if (halfWidth <= 0 || width <= 0 || height <= 0 ||
        plane.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        return;
    }
    std::vector<std::uint8_t> scratch;
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y) {
            boxPass(plane.data() + static_cast<std::ptrdiff_t>(y) * width, width, 1, halfWidth,
                    scratch);
        }
    }
    for (int pass = 0; pass < 3; ++pass) {
        for (int x = 0; x < width; ++x) {
            boxPass(plane.data() + x, height, width, halfWidth, scratch);
        }
    }
}

void ViewEffect::setOpacity(double opacity) {
    if (opacity != opacity_) {
        opacity_ = opacity;
        update();
    }
}

void ViewEffect::setShadow(const std::optional<Shadow>& shadow) {
    if (shadow != shadow_) {
        shadow_ = shadow;
        updateBoundingRect();
        update();
    }
}

QRectF ViewEffect::boundingRectFor(const QRectF& rect) const {
    if (!shadow_) {
        return rect;
    }
    // Drawn at a pixel ratio d the blur spreads 3 round(r d / 2) / d, which the rounding can
    // take up to 1.5 past 1.5 r: the bound holds at every ratio.
    const double r = std::min(std::max(shadow_->radius, 0.0), 100.0);
    const double spread = r > 0 ? std::ceil(1.5 * r + 1.5) : 0;
    const QRectF cast = rect.translated(shadow_->offset.width, shadow_->offset.height)
                            .adjusted(-spread, -spread, spread, spread);
    return rect.united(cast);
}

void ViewEffect::draw(QPainter* painter) {
    if (!shadow_ && opacity_ >= 1.0) {
        drawSource(painter);
        return;
    }
    QPoint origin;
    const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &origin, NoPad);
    if (source.isNull()) {
        return;
    }
    painter->save();
    painter->setOpacity(painter->opacity() * opacity_);
    if (shadow_) {
        const double scale = source.devicePixelRatio();
        const int spread = blurSpread(shadow_->radius * scale);
        const QImage shape = source.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const int width = shape.width() + 2 * spread;
        const int height = shape.height() + 2 * spread;
        std::vector<std::uint8_t> mask(static_cast<std::size_t>(width) *
                                       static_cast<std::size_t>(height));
        for (int y = 0; y < shape.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(shape.constScanLine(y));
            std::uint8_t* out = mask.data() + static_cast<std::ptrdiff_t>(y + spread) * width + spread;
            for (int x = 0; x < shape.width(); ++x) {
                out[x] = static_cast<std::uint8_t>(qAlpha(row[x]));
            }
        }
        boxBlur(mask, width, height, blurHalfWidth(shadow_->radius * scale));

        // Colours and opacities come from options: anything outside 0 to 1 (or not a number)
        // is brought within it.
        const auto unit = [](double v) { return v >= 0 ? std::min(v, 1.0) : 0.0; };
        const Color c{unit(shadow_->color.red), unit(shadow_->color.green),
                      unit(shadow_->color.blue), unit(shadow_->color.alpha)};
        const double strength = unit(c.alpha * unit(shadow_->opacity));
        QImage cast(width, height, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<QRgb*>(cast.scanLine(y));
            const std::uint8_t* in = mask.data() + static_cast<std::ptrdiff_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                const double a = in[x] * strength;
                row[x] = qRgba(static_cast<int>(std::lround(c.red * a)),
                               static_cast<int>(std::lround(c.green * a)),
                               static_cast<int>(std::lround(c.blue * a)),
                               static_cast<int>(std::lround(a)));
            }
        }
        cast.setDevicePixelRatio(scale);
        painter->drawImage(QPointF(origin) + QPointF(shadow_->offset.width - spread / scale,
                                                     shadow_->offset.height - spread / scale),
                           cast);
    }
    painter->drawPixmap(origin, source);
    painter->restore();
}

void applyViewEffect(QWidget& widget, double alpha, const std::optional<Shadow>& shadow) {
    if (alpha >= 1.0 && !shadow) {
        widget.setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = dynamic_cast<ViewEffect*>(widget.graphicsEffect());
    if (effect == nullptr) {
        effect = new ViewEffect(&widget);
        widget.setGraphicsEffect(effect);
    }
    effect->setOpacity(std::min(alpha, 1.0));
    effect->setShadow(shadow);
}

}  // namespace platform::ui
