#include "platform/ui/Appearance.h"

namespace platform::ui {

Appearance& Appearance::current() {
    return installedOr([]() -> Appearance& {
        static Appearance plain;
        return plain;
    });
}

}  // namespace platform::ui
