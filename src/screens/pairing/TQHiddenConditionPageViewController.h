#pragma once

#include <optional>

#include "platform/ui/Navigation.h"

namespace platform::ui {
class Button;
class Label;
class NavigationBar;
}  // namespace platform::ui

// Tells the user the watch needs an additional firmware update (the watch's advertisement
// said so: "hiddenConditionBitSet"). It has no way back: only its OK leaves it, and then asks
// the user to keep the application running.
class TQHiddenConditionPageViewController final : public platform::ui::Page {
public:
    static constexpr const char* kClassName = "TQHiddenConditionPageViewController";

    TQHiddenConditionPageViewController();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void layoutSubviews() override;
    // The back button is hidden and a swipe back is refused as well.
    std::optional<bool> shouldPopViewController() override { return false; }

private:
    void okAction();

    // The page's own bar, for when it is presented outside a navigation.
    platform::ui::NavigationBar* navBar_ = nullptr;
    platform::ui::Label* kavoUpdateLabel_ = nullptr;
    platform::ui::Button* okButton_ = nullptr;
};
