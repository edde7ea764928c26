#include "platform/host/ScreenNavigator.h"

#include <string>

#include "platform/host/HostDefaults.h"

namespace platform {

bool HeadlessScreenNavigator::pushScreen(std::string_view screen, bool /*animated*/) {
    host_detail::writeHeadlessLine("cannot show", screen);
    return false;
}

bool HeadlessScreenNavigator::presentScene(std::string_view storyboard, std::string_view scene,
                                           ModalTransitionStyle /*presenterStyle*/,
                                           bool /*animated*/) {
    host_detail::writeHeadlessLine("cannot show",
                                   std::string(storyboard) + "/" + std::string(scene));
    return false;
}

ScreenNavigator& ScreenNavigator::current() {
    return installedOr([]() -> ScreenNavigator& {
        static HeadlessScreenNavigator headless;
        return headless;
    });
}

}  // namespace platform
