#pragma once

namespace platform::ui {

// The commands of a text field's edit menu, in the menu's order. Their words come from the
// installed InterfaceLocale.
enum class EditAction { undo, redo, cut, copy, paste, erase, selectAll };

}  // namespace platform::ui
