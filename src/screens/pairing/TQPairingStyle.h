#pragma once

#include <string_view>

#include "platform/ui/Controls.h"
#include "platform/ui/View.h"

// The look the pairing pages share: the orange ground and the bordered orange button.
namespace pairing_style {

inline constexpr platform::ui::Color kGround{0.98, 0.66, 0.15, 1};
inline constexpr platform::ui::Color kButton{245 / 255.0, 165 / 255.0, 46 / 255.0, 1};
inline constexpr platform::ui::Color kButtonBorder{250 / 255.0, 222 / 255.0, 132 / 255.0, 1};
inline constexpr platform::ui::Color kButtonBorderPressed{248 / 255.0, 168 / 255.0, 38 / 255.0, 1};
inline constexpr platform::ui::Color kLink{255 / 255.0, 251 / 255.0, 144 / 255.0, 1};
inline constexpr platform::ui::Color kWhite{1, 1, 1, 1};
inline constexpr platform::ui::Color kBodyText{49 / 255.0, 49 / 255.0, 49 / 255.0, 1};
inline constexpr platform::ui::Color kPrimaryButtonTitle{77 / 255.0, 77 / 255.0, 77 / 255.0, 1};
inline constexpr platform::ui::Color kSecondaryButtonTitle{224 / 255.0, 151 / 255.0, 33 / 255.0,
                                                           1};
inline constexpr std::string_view kFont = "HelveticaNeue";
inline constexpr double kBorderWidth = 1.0;
inline constexpr double kCornerRadius = 3.0;

// The pages' scale: the longer screen side divided by 736.
[[nodiscard]] double scale();

// The height a text takes wrapped at width in the system font of fontSize (points), rounded
// up, with a little room below the last line.
[[nodiscard]] double wrappedHeight(std::string_view text, double fontSize, double width);

// The main button at the foot of a view of width × height: 235 × 44 units, centred, 41 units
// above the bottom (never wider than the view).
[[nodiscard]] platform::ui::Rect bottomButtonFrame(double width, double height, double scale);

// A view in the orange button's look: its border is the view's own ground showing 1 point
// around an inner orange view, both rounded by 3 points. inner() holds what it shows.
class BorderedBox : public platform::ui::View {
public:
    explicit BorderedBox(QWidget* parent = nullptr);
    [[nodiscard]] platform::ui::View& inner() { return *inner_; }
    void setBorderColor(const platform::ui::Color& color) { setBackgroundColor(color); }
    void layoutSubviews() override;

private:
    platform::ui::View* inner_;
};

}  // namespace pairing_style
