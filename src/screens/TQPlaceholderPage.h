#pragma once

#include <string>
#include <string_view>

#include "platform/ui/Navigation.h"

namespace platform::ui {
class Label;
}

// A scene whose screen is not built yet: it says so, under the screen's class and the scene's
// identifier, so that a road through it can already be walked.
class TQPlaceholderPage : public platform::ui::Page {
public:
    TQPlaceholderPage(std::string className, std::string scene);
    [[nodiscard]] const std::string& scene() const { return scene_; }

    void viewDidLoad() override;
    void layoutSubviews() override;

private:
    std::string scene_;
    platform::ui::Label* label_ = nullptr;
};
