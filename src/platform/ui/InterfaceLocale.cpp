#include "platform/ui/InterfaceLocale.h"

#include <array>
#include <string_view>

namespace platform::ui {

std::string InterfaceLocale::editMenuText(EditAction action) const {
    // In the order of EditAction.
    static constexpr std::array<std::string_view, 7> kEnglish = {
        "Undo", "Redo", "Cut", "Copy", "Paste", "Delete", "Select All",
    };
    const auto index = static_cast<std::size_t>(action);
    return index < kEnglish.size() ? std::string(kEnglish[index]) : std::string();
}

const InterfaceLocale& InterfaceLocale::current() {
    return installedOr([]() -> InterfaceLocale& {
        static InterfaceLocale english;
        return english;
    });
}

}  // namespace platform::ui
