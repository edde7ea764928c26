#pragma once

#include <QAbstractScrollArea>
#include <QProxyStyle>

namespace platform::ui {

// Scroll bars as a phone draws them: a thin rounded thumb laid over the content (the bar takes
// no room from it), no arrow buttons, shown while the content moves and faded out once it has
// rested for a moment (on the main run loop's clock, by the animator).
class PhoneScrollStyle final : public QProxyStyle {
public:
    static constexpr int kThickness = 6;
    static constexpr double kIdleSeconds = 1.0;
    static constexpr double kFadeSeconds = 0.3;

    PhoneScrollStyle();
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl part, const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;

    // How visible the bar's thumb is now, 0 to 1.
    [[nodiscard]] static double thumbOpacity(const QWidget& bar);
};

// Gives the area's scroll bars the phone's look; the style lives as long as the area.
void usePhoneScrollBars(QAbstractScrollArea& area);

}  // namespace platform::ui
