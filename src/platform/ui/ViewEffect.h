#pragma once

#include <QGraphicsEffect>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/ui/View.h"

namespace platform::ui {

// Draws a widget at an opacity and, when asked, with a shadow beneath it (see Shadow).
class ViewEffect final : public QGraphicsEffect {
public:
    explicit ViewEffect(QObject* parent = nullptr) : QGraphicsEffect(parent) {}

    void setOpacity(double opacity);
    [[nodiscard]] double opacity() const { return opacity_; }
    void setShadow(const std::optional<Shadow>& shadow);
    [[nodiscard]] const std::optional<Shadow>& shadow() const { return shadow_; }

    [[nodiscard]] QRectF boundingRectFor(const QRectF& rect) const override;

protected:
    void draw(QPainter* painter) override;

private:
    std::optional<Shadow> shadow_;
    double opacity_ = 1.0;
};

// How far a blur of this radius spreads past the shape: three box passes of half-width
// radius / 2, which together come close to a Gaussian of deviation radius / 2. No radius, or
// none that is a number, is crisp; a radius above 100 blurs as 100.
[[nodiscard]] int blurHalfWidth(double radius);
[[nodiscard]] int blurSpread(double radius);

// Three horizontal, then three vertical box passes of the half-width over a width × height
// plane of values; the plane is blurred in place and its edges read as empty.
void boxBlur(std::span<std::uint8_t> plane, int width, int height, int halfWidth);

}  // namespace platform::ui
