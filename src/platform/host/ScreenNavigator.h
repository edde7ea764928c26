#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Value.h"

namespace platform {

// How a presented screen comes onto the display; the phone platform's values.
enum class ModalTransitionStyle { coverVertical = 0, flipHorizontal = 1, crossDissolve = 2 };

// What core code asks of the screens: which one shows, and which to push or present. Screens
// are named by their class, and are made from the interface file or storyboard scene of that
// name. Only the host that carries the screens implements it. Called on the main thread.
class ScreenNavigator : public Replaceable<ScreenNavigator> {
public:
    virtual ~ScreenNavigator() = default;

    // Whether the home screen is the first screen of the application's main navigation, which
    // holds only once the set-up is over and the home screen was shown.
    [[nodiscard]] virtual bool isHomeScreenRoot() const = 0;

    // The class of the last screen of the navigation on top of the normal-level window;
    // nothing when no navigation is on top there.
    [[nodiscard]] virtual std::optional<std::string> topNavigationScreen() const = 0;
    // Makes a screen from its interface file and pushes it on that navigation; false when
    // there is no navigation to push on.
    virtual bool pushScreen(std::string_view screen, bool animated) = 0;
    // Runs one of the screen's own operations ("updateCityCell", "showErrorPopupWithType:")
    // when the last screen of that navigation is of class screen; false otherwise.
    virtual bool performOnTopNavigationScreen(std::string_view screen, std::string_view operation,
                                              const Value& argument) = 0;

    // Whether the top-most screen (the key window's root, then each screen it presents) is an
    // alert.
    [[nodiscard]] virtual bool isTopMostScreenAlert() const = 0;
    // Makes the scene of a storyboard and lets the top-most screen present it, after giving
    // that screen the transition style; false when nothing could present it.
    virtual bool presentScene(std::string_view storyboard, std::string_view scene,
                              ModalTransitionStyle presenterStyle, bool animated) = 0;

    // The installed navigator, else a headless one: no screens, so the home screen is not the
    // root, no navigation is on top and every request to show a screen is written to
    // standard error and refused.
    static ScreenNavigator& current();
};

// The navigator of an application without screens: no navigation is on top and every request
// to show a screen is written to standard error and refused. The home screen counts as the
// root once the application says so (after the set-up, as a real home screen would be).
class HeadlessScreenNavigator final : public ScreenNavigator {
public:
    void setHomeScreenRoot(bool isRoot) { homeScreenIsRoot_ = isRoot; }

    [[nodiscard]] bool isHomeScreenRoot() const override { return homeScreenIsRoot_; }
    [[nodiscard]] std::optional<std::string> topNavigationScreen() const override {
        return std::nullopt;
    }
    bool pushScreen(std::string_view screen, bool animated) override;
    bool performOnTopNavigationScreen(std::string_view /*screen*/, std::string_view /*operation*/,
                                      const Value& /*argument*/) override {
        return false;
    }
    [[nodiscard]] bool isTopMostScreenAlert() const override { return false; }
    bool presentScene(std::string_view storyboard, std::string_view scene,
                      ModalTransitionStyle presenterStyle, bool animated) override;

private:
    bool homeScreenIsRoot_ = false;
};

}  // namespace platform
