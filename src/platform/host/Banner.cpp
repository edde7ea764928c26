#include "platform/host/Banner.h"

#include <utility>

#include "platform/host/HostDefaults.h"

namespace platform {

namespace banner_interaction {

std::optional<std::string_view> name(int interactionType) {
    switch (interactionType) {
        case swipeUp:
            return "Swipe Up";
        case swipeLeft:
            return "Swipe Left";
        case swipeDown:
            return "Swipe Down";
        case swipeRight:
            return "Swipe Right";
        case swipeAnyDirection:
            return "Swipe Any Direction";
        case tapOnce:
            return "Tap Once";
        case tapTwice:
            return "Tap Twice";
        case twoFingersTapOnce:
            return "Two Fingers Tap Once";
        case twoFingersTapTwice:
            return "Two Fingers Tap Twice";
        case anyTap:
            return "Any Tap";
        default:
            return std::nullopt;
    }
}

}  // namespace banner_interaction

namespace {

class HeadlessBannerPresenter final : public BannerPresenter {
public:
    void showBanner(Banner banner, std::function<void()> completion) override {
        host_detail::writeHeadlessLine("banner", banner.text);
        if (completion) {
            completion();
        }
    }
};

}  // namespace

BannerPresenter& BannerPresenter::current() {
    return installedOr([]() -> BannerPresenter& {
        static HeadlessBannerPresenter headless;
        return headless;
    });
}

}  // namespace platform
