#include "platform/ui/InterfaceLocale.h"

namespace platform::ui {

const InterfaceLocale& InterfaceLocale::current() {
    return installedOr([]() -> InterfaceLocale& {
        static InterfaceLocale english;
        return english;
    });
}

}  // namespace platform::ui
