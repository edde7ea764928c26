#pragma once

#include <string_view>

#include "platform/ui/View.h"

// What the pages of the setup road share of their look: the colours of their texts and
// buttons, and the pieces of layout they repeat. Sizes are in points; the pages scale units by
// the longer screen side / 736 before they ask.
namespace setup_layout {

inline constexpr platform::ui::Color kBodyText{49 / 255.0, 49 / 255.0, 49 / 255.0, 1};
inline constexpr platform::ui::Color kLinkText{224 / 255.0, 191 / 255.0, 33 / 255.0, 1};
inline constexpr platform::ui::Color kSecondaryButtonTitle{224 / 255.0, 151 / 255.0, 33 / 255.0,
                                                           1};
inline constexpr platform::ui::Color kPrimaryButtonTitle{77 / 255.0, 77 / 255.0, 77 / 255.0, 1};
// The orange of the setup pages' grounds.
inline constexpr platform::ui::Color kSetupBackground{0.98, 0.66, 0.15, 1};
// The orange of their buttons.
inline constexpr platform::ui::Color kButtonBackground{245 / 255.0, 165 / 255.0, 46 / 255.0, 1};

// The height a text takes wrapped at width in the system font of fontSize, rounded up, with a
// little room below the last line.
[[nodiscard]] double wrappedHeight(std::string_view text, double fontSize, double width);

// The main button at the foot of a view of width × height: 235 × 44 units, centred, 41 units
// above the bottom (never wider than the view).
[[nodiscard]] platform::ui::Rect bottomButtonFrame(double width, double height, double scale);

}  // namespace setup_layout
