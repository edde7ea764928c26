#include "ui/TQEditMenuTexts.h"

#include <array>
#include <string_view>

#include "utils/TQLocalization.h"

std::string TQEditMenuTexts::text(platform::ui::EditAction action) const {
    // In the order of EditAction.
    static constexpr std::array<std::string_view, 7> kKeys = {
        "IDS_COM_OPT_UNDO",  "IDS_COM_OPT_REDO",   "IDS_COM_OPT_CUT",       "IDS_COM_OPT_COPY",
        "IDS_COM_OPT_PASTE", "IDS_COM_OPT_DELETE", "IDS_COM_OPT_SELECT_ALL",
    };
    const auto index = static_cast<std::size_t>(action);
    return index < kKeys.size() ? TQLocalization::localizedString(kKeys[index]) : std::string();
}
