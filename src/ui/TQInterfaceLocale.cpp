#include "ui/TQInterfaceLocale.h"

#include "platform/host/AppHost.h"
#include "utils/TQLocalization.h"

bool TQInterfaceLocale::isRightToLeft() const {
    return platform::AppHost::current().userInterfaceLayoutDirection() ==
           platform::LayoutDirection::rightToLeft;
}

// The table has no entries of its own for these yet: a missing key shows as itself, English.
std::string TQInterfaceLocale::backTitle() const {
    return TQLocalization::localizedString("Back");
}

std::string TQInterfaceLocale::deleteTitle() const {
    return TQLocalization::localizedString("Delete");
}
