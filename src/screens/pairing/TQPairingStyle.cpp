#include "screens/pairing/TQPairingStyle.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/TextMetrics.h"

namespace pairing_style {

double scale() {
    return platform::ui::Screen::main().scaleFactor();
}

BorderedBox::BorderedBox(QWidget* parent) : View(parent), inner_(new platform::ui::View(this)) {
    setBackgroundColor(kButtonBorder);
    setCornerRadius(kCornerRadius);
    inner_->setBackgroundColor(kButton);
    inner_->setCornerRadius(kCornerRadius - kBorderWidth / 2);
}

void BorderedBox::layoutSubviews() {
    const platform::ui::Rect bounds = frame();
    inner_->setFrame({kBorderWidth, kBorderWidth, bounds.width - 2 * kBorderWidth,
                      bounds.height - 2 * kBorderWidth});
}

namespace {
constexpr double kButtonWidth = 235;
constexpr double kButtonHeight = 44;
constexpr double kButtonBottom = 41;
constexpr double kDescent = 2;
}  // namespace

double wrappedHeight(std::string_view text, double fontSize, double width) {
    return std::ceil(platform::ui::TextMetrics::current().boundingSize(text, fontSize, width).height) +
           kDescent;
}

platform::ui::Rect bottomButtonFrame(double width, double height, double scale) {
    const double buttonWidth = std::min(kButtonWidth * scale, width);
    return {(width - buttonWidth) / 2, height - (kButtonBottom + kButtonHeight) * scale,
            buttonWidth, kButtonHeight * scale};
}

}  // namespace pairing_style
