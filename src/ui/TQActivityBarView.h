#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ui/Controls.h"
#include "platform/ui/Navigation.h"

// The 44-point bar at the bottom of the root navigation that shows a watch application's
// download or installation with a cancel button. Its cancel button posts
// "ACTIVITY_BAR_CANCEL"; the bar itself changes nothing on cancel.
class TQActivityBarView : public platform::ui::View {
public:
    static constexpr double kHeight = 44;

    TQActivityBarView();

    void updateProgress(float progress, std::string_view appName, std::int32_t type);
    void cancelButtonTouched();

    [[nodiscard]] std::int32_t progressType() const { return progressType_; }
    [[nodiscard]] platform::ui::ProgressBar& progressBar() { return *progressBar_; }
    [[nodiscard]] platform::ui::Label& progressLabel() { return *progressLabel_; }
    [[nodiscard]] platform::ui::Button& cancelButton() { return *cancelButton_; }

    // The constants the bar sets from the screen's scale.
    platform::ui::LayoutConstraint downloadTextLeft{"downloadTextLeft", 0};
    platform::ui::LayoutConstraint downloadTextRight{"downloadTextRight", 0};
    platform::ui::LayoutConstraint cancelButtonWidth{"cancelButtonWidth", 0};
    platform::ui::LayoutConstraint cancelButtonHeight{"cancelButtonHeight", 0};
    platform::ui::LayoutConstraint cancelButtonRight{"cancelButtonRight", 0};

    void layoutSubviews() override;

private:
    void awakeFromNib();

    std::int32_t progressType_ = 0;
    platform::ui::Label* progressLabel_;
    platform::ui::ProgressBar* progressBar_;
    platform::ui::Button* cancelButton_;
};
