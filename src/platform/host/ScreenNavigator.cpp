#include "platform/host/ScreenNavigator.h"

#include <string>

#include "platform/host/HostDefaults.h"

namespace platform {

namespace {

class HeadlessScreenNavigator final : public ScreenNavigator {
public:
    bool isHomeScreenRoot() const override { return false; }
    std::optional<std::string> topNavigationScreen() const override { return std::nullopt; }
    bool pushScreen(std::string_view screen, bool /*animated*/) override {
        host_detail::writeHeadlessLine("cannot show", screen);
        return false;
    }
    bool performOnTopNavigationScreen(std::string_view /*screen*/, std::string_view /*operation*/,
                                      const Value& /*argument*/) override {
        return false;
    }
    bool isTopMostScreenAlert() const override { return false; }
    bool presentScene(std::string_view storyboard, std::string_view scene,
                      ModalTransitionStyle /*presenterStyle*/, bool /*animated*/) override {
        host_detail::writeHeadlessLine("cannot show",
                                       std::string(storyboard) + "/" + std::string(scene));
        return false;
    }
};

}  // namespace

ScreenNavigator& ScreenNavigator::current() {
    return installedOr([]() -> ScreenNavigator& {
        static HeadlessScreenNavigator headless;
        return headless;
    });
}

}  // namespace platform
