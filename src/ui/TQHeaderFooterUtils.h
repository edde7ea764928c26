#pragma once

#include <string_view>

#include "platform/ui/Controls.h"

// The section headers and footers of the grouped tables, and their heights, so that every
// settings-like list shows its explanatory texts alike. Measures through the installed text
// metrics on the main screen.
class TQHeaderFooterUtils {
public:
    TQHeaderFooterUtils() = delete;

    // The text's bounding rectangle in the system font of the size, wrapped within the screen
    // width less 24.
    [[nodiscard]] static platform::ui::Rect getSizeForText(std::string_view text, float fontSize);

    // New views the caller owns.
    [[nodiscard]] static platform::ui::View* generateHeaderViewForText(std::string_view text);
    [[nodiscard]] static platform::ui::View* generateFirstHeaderViewForText(std::string_view text);
    [[nodiscard]] static platform::ui::View* generateFooterViewForText(std::string_view text);

    [[nodiscard]] static float getHeightForHeaderViewWithText(std::string_view text);
    [[nodiscard]] static float getHeightForFirstHeaderViewWithText(std::string_view text);
    [[nodiscard]] static float getHeightForFooterViewWithText(std::string_view text);
    [[nodiscard]] static float getHeightForFooterViewWithTextHomeScreen(std::string_view text);
    [[nodiscard]] static float getHeightForHeaderViewWithTextHomeScreen(std::string_view text);

    static constexpr double kHeaderFontSize = 15;
    static constexpr double kFooterFontSize = 14;
    static constexpr platform::ui::Color kTextColor{0.43, 0.43, 0.45, 1.0};
};
