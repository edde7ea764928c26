#include "platform/ui/EditMenu.h"

#include <array>
#include <string_view>

namespace platform::ui {

std::string EditMenuTexts::text(EditAction action) const {
    // In the order of EditAction.
    static constexpr std::array<std::string_view, 7> kEnglish = {
        "Undo", "Redo", "Cut", "Copy", "Paste", "Delete", "Select All",
    };
    const auto index = static_cast<std::size_t>(action);
    return index < kEnglish.size() ? std::string(kEnglish[index]) : std::string();
}

EditMenuTexts& EditMenuTexts::current() {
    return installedOr([]() -> EditMenuTexts& {
        static EditMenuTexts english;
        return english;
    });
}

}  // namespace platform::ui
