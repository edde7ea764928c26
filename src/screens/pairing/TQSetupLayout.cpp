#include "screens/pairing/TQSetupLayout.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/TextMetrics.h"

namespace setup_layout {

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

}  // namespace setup_layout
