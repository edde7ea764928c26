#include "screens/pairing/TQPairingStyle.h"

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

}  // namespace pairing_style
