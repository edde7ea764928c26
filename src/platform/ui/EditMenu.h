#pragma once

#include <string>

#include "platform/foundation/Replaceable.h"

namespace platform::ui {

// The commands of a text field's edit menu, in the menu's order.
enum class EditAction { undo, redo, cut, copy, paste, erase, selectAll };

// The words the edit menu shows. The layer has no table of texts of its own: the application
// installs its localised words, and until it does the English ones stand.
class EditMenuTexts : public Replaceable<EditMenuTexts> {
public:
    virtual ~EditMenuTexts() = default;
    [[nodiscard]] virtual std::string text(EditAction action) const;

    // The installed texts, else the English words.
    static EditMenuTexts& current();
};

}  // namespace platform::ui
