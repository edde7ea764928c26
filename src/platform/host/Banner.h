#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Replaceable.h"

namespace platform {

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    friend bool operator==(const Color&, const Color&) = default;
};

// The platform's text alignment values.
enum class TextAlignment { left = 0, center = 1, right = 2, justified = 3, natural = 4 };

enum class BannerDirection { top = 0, bottom = 1, left = 2, right = 3 };

// How tall the banner is: the status bar's height, the navigation bar's, or its own.
enum class BannerKind { statusBar = 0, navigationBar = 1, customHeight = 2 };

// cover slides the banner over the content; push moves the content away.
enum class BannerPresentation { cover = 0, push = 1 };

// Interaction types: bits of single gestures, and their unions.
namespace banner_interaction {
inline constexpr int swipeUp = 1;
inline constexpr int swipeLeft = 2;
inline constexpr int swipeDown = 4;
inline constexpr int swipeRight = 8;
inline constexpr int swipeAnyDirection = 15;
inline constexpr int tapOnce = 16;
inline constexpr int tapTwice = 32;
inline constexpr int twoFingersTapOnce = 64;
inline constexpr int twoFingersTapTwice = 128;
inline constexpr int anyTap = 240;

// The display name of exactly the types above ("Swipe Up", ..., "Any Tap"), nothing for
// other values.
[[nodiscard]] std::optional<std::string_view> name(int interactionType);
}  // namespace banner_interaction

// A gesture a banner answers: action receives the type that happened.
struct BannerInteractionResponder {
    int interactionType = 0;
    bool automaticallyDismiss = false;
    std::function<void(int interactionType)> action;
};

// One banner. Fields start at the banner component's own defaults.
struct Banner {
    std::string text;
    TextAlignment textAlignment = TextAlignment::center;
    std::optional<Color> backgroundColor;  // none: the application's tint colour
    BannerDirection animationInDirection = BannerDirection::top;
    BannerDirection animationOutDirection = BannerDirection::bottom;
    double timeInterval = 2.0;  // seconds on screen
    BannerKind kind = BannerKind::statusBar;
    BannerPresentation presentation = BannerPresentation::push;
    std::vector<BannerInteractionResponder> interactionResponders;
};

// Shows short banners over the top of the screen, one after another. Called on the main
// thread.
class BannerPresenter : public Replaceable<BannerPresenter> {
public:
    virtual ~BannerPresenter() = default;

    // completion runs once the banner has gone.
    virtual void showBanner(Banner banner, std::function<void()> completion) = 0;

    // The installed presenter, else a headless one that writes the text to standard error
    // and completes at once.
    static BannerPresenter& current();
};

}  // namespace platform
