#pragma once

#include <string>

#include "platform/foundation/Replaceable.h"
#include "platform/ui/EditMenu.h"
#include "platform/ui/View.h"

namespace platform::ui {

// What the controls need of the application's language: its direction and the few texts the
// layer shows of its own, on its controls and its own pages. The application installs one that
// reads its host and its texts.
class InterfaceLocale : public Replaceable<InterfaceLocale> {
public:
    virtual ~InterfaceLocale() = default;
    [[nodiscard]] virtual bool isRightToLeft() const { return false; }
    // The back button's title (the layer adds the chevron).
    [[nodiscard]] virtual std::string backTitle() const { return "Back"; }
    // The button that confirms deleting a table row.
    [[nodiscard]] virtual std::string deleteTitle() const { return "Delete"; }
    // A command of a text field's edit menu.
    [[nodiscard]] virtual std::string editMenuText(EditAction action) const;
    // The contact picker's title, its cancel button, its search field's placeholder, and the
    // row of a person the card names in no way.
    [[nodiscard]] virtual std::string contactsTitle() const { return "Contacts"; }
    [[nodiscard]] virtual std::string cancelTitle() const { return "Cancel"; }
    [[nodiscard]] virtual std::string searchPlaceholder() const { return "Search"; }
    [[nodiscard]] virtual std::string noNameTitle() const { return "No name"; }

    // The installed locale, else left-to-right with English texts.
    static const InterfaceLocale& current();
};

// A frame placed from the other edge of a container this wide when the layout is mirrored.
[[nodiscard]] inline Rect mirroredIf(bool mirrored, const Rect& frame, double containerWidth) {
    if (!mirrored) {
        return frame;
    }
    Rect out = frame;
    out.x = containerWidth - frame.x - frame.width;
    return out;
}

}  // namespace platform::ui
