#pragma once

#include <optional>

#include "platform/foundation/Replaceable.h"
#include "platform/ui/View.h"

namespace platform::ui {

// The look of every navigation bar and table cell, set once at launch instead of styling each
// screen: a bar takes it when it is made (bars made before a change keep theirs), a cell when
// it draws its selection.
class Appearance : public Replaceable<Appearance> {
public:
    struct NavigationBar {
        // Bars are opaque here: no page ever shows through one.
        Color barTintColor{0.97, 0.97, 0.97, 1};
        // The back button and the bar's other buttons.
        Color tintColor{0, 0.48, 1, 1};
        // The title's; the label's own when unset.
        std::optional<Color> titleColor;
    };

    NavigationBar navigationBar;
    // What a selected cell shows under its content; the plain grey when unset.
    std::optional<Color> selectedCellBackground;

    // The installed appearance, else the plain one.
    static Appearance& current();
};

}  // namespace platform::ui
