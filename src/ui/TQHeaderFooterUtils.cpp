#include "ui/TQHeaderFooterUtils.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "logging/LGLog.h"
#include "platform/host/AppHost.h"
#include "platform/ui/TextMetrics.h"

using platform::ui::Rect;
using platform::ui::Screen;
using platform::ui::TextMetrics;

namespace {

double scale() {
    return Screen::main().scaleFactor();
}

double measuredHeight(std::string_view text, double fontSize) {
    return TQHeaderFooterUtils::getSizeForText(text, static_cast<float>(fontSize)).height;
}

platform::ui::View* build(std::string_view text, double fontSize, double labelY, double extra,
                          double minimum) {
    const Rect measured = TQHeaderFooterUtils::getSizeForText(text, static_cast<float>(fontSize));
    const double viewWidth = Screen::main().bounds().width;
    const double viewHeight = std::max(measured.height + extra, minimum);
    auto* view = new platform::ui::View;
    view->setFrame({0, 0, viewWidth, viewHeight});
    // The label takes the measured box in whole points: a width rounded down by a fraction
    // would wrap the widest line's last word onto a line the height has no room for.
    const double labelWidth = std::ceil(measured.width);
    const double labelHeight = std::ceil(measured.height);
    auto* label = new platform::ui::Label(view);
    label->setName("sectionText");
    label->setFrame({16, labelY, labelWidth, labelHeight});
    label->setText(text);
    label->setFontSize(fontSize);
    label->setNumberOfLines(0);
    label->setTextAlignment(platform::ui::TextAlignment::left);
    label->setTextColor(TQHeaderFooterUtils::kTextColor);
    if (platform::AppHost::current().userInterfaceLayoutDirection() ==
        platform::LayoutDirection::rightToLeft) {
        const double lineWidth = TextMetrics::current().lineWidth(text, fontSize);
        const double x = viewWidth - lineWidth - 16;
        LG_VERBOSE("x position %f", x);
        if (x >= 0) {
            label->setFrame({x, labelY, labelWidth, labelHeight});
        } else {
            label->setFrame({0, labelY, viewWidth - 16, labelHeight});
        }
    }
    return view;
}

}  // namespace

Rect TQHeaderFooterUtils::getSizeForText(std::string_view text, float fontSize) {
    const auto size = TextMetrics::current().boundingSize(text, fontSize,
                                                          Screen::main().bounds().width - 24);
    return {0, 0, size.width, size.height};
}

platform::ui::View* TQHeaderFooterUtils::generateHeaderViewForText(std::string_view text) {
    return build(text, kHeaderFontSize, 4, 8, 0);
}

platform::ui::View* TQHeaderFooterUtils::generateFirstHeaderViewForText(std::string_view text) {
    return build(text, kHeaderFontSize, 34, 38, 0);
}

platform::ui::View* TQHeaderFooterUtils::generateFooterViewForText(std::string_view text) {
    return build(text, kFooterFontSize, 4, 8, 34 * scale());
}

float TQHeaderFooterUtils::getHeightForHeaderViewWithText(std::string_view text) {
    return static_cast<float>(measuredHeight(text, kHeaderFontSize) + 8);
}

float TQHeaderFooterUtils::getHeightForFirstHeaderViewWithText(std::string_view text) {
    return static_cast<float>(measuredHeight(text, kHeaderFontSize) + 38);
}

float TQHeaderFooterUtils::getHeightForFooterViewWithText(std::string_view text) {
    return static_cast<float>(std::max(measuredHeight(text, kFooterFontSize) + 8, 50 * scale()));
}

float TQHeaderFooterUtils::getHeightForFooterViewWithTextHomeScreen(std::string_view text) {
    return static_cast<float>(std::max(measuredHeight(text, kFooterFontSize) + 8, 45 * scale()));
}

float TQHeaderFooterUtils::getHeightForHeaderViewWithTextHomeScreen(std::string_view text) {
    return static_cast<float>(std::max(measuredHeight(text, kHeaderFontSize) + 8, 39 * scale()));
}
