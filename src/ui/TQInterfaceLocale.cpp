#include "ui/TQInterfaceLocale.h"

#include <array>
#include <string_view>

#include "platform/host/AppHost.h"
#include "utils/TQLocalization.h"

bool TQInterfaceLocale::isRightToLeft() const {
    return platform::AppHost::current().userInterfaceLayoutDirection() ==
           platform::LayoutDirection::rightToLeft;
}

// The table has no entry of its own for it yet: a missing key shows as itself, English.
std::string TQInterfaceLocale::backTitle() const {
    return TQLocalization::localizedString("Back");
}

// The same word as the edit menu's, so a row's delete and a text's delete never differ.
std::string TQInterfaceLocale::deleteTitle() const {
    return editMenuText(platform::ui::EditAction::erase);
}

std::string TQInterfaceLocale::editMenuText(platform::ui::EditAction action) const {
    // In the order of EditAction.
    static constexpr std::array<std::string_view, 7> kKeys = {
        "IDS_COM_OPT_UNDO",  "IDS_COM_OPT_REDO",   "IDS_COM_OPT_CUT",       "IDS_COM_OPT_COPY",
        "IDS_COM_OPT_PASTE", "IDS_COM_OPT_DELETE", "IDS_COM_OPT_SELECT_ALL",
    };
    const auto index = static_cast<std::size_t>(action);
    return index < kKeys.size() ? TQLocalization::localizedString(kKeys[index]) : std::string();
}

std::string TQInterfaceLocale::contactsTitle() const {
    return TQLocalization::localizedString("WDS_WMGR_POP_CONTACTS");
}

std::string TQInterfaceLocale::cancelTitle() const {
    return TQLocalization::localizedString("IDS_COM_SK_CANCEL");
}

std::string TQInterfaceLocale::searchPlaceholder() const {
    return TQLocalization::localizedString("IDS_COM_BODY_SEARCH");
}

std::string TQInterfaceLocale::noNameTitle() const {
    return TQLocalization::localizedString("IDS_COM_BODY_NO_NAME");
}
