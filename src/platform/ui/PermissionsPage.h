#pragma once

#include <array>
#include <functional>
#include <string>

#include "platform/permissions/Permissions.h"
#include "platform/ui/Controls.h"
#include "platform/ui/View.h"

namespace platform::ui {

// The application's own page of settings, shown inside the window where the phone would show
// the application's page in its settings: a bar with the title and a button that closes the
// page, and a row per feature (kAllFeatures) with a switch the user turns on (granted) or off
// (denied). A feature with nothing to decide (restricted: no such service here) shows its
// switch off and disabled. The page shows the decisions as they stand when it is made.
class PermissionsPage : public View {
public:
    struct Texts {
        std::string title;
        std::string close;
        std::function<std::string(Feature)> feature;
    };

    static constexpr double kBarHeight = 64;
    static constexpr double kRowHeight = 44;

    // The permissions outlive the page.
    PermissionsPage(Permissions& permissions, Texts texts, QWidget* parent = nullptr);

    // Called once the user closed the page, which then goes.
    void onClose(std::function<void()> closed) { closed_ = std::move(closed); }
    [[nodiscard]] Switch& toggle(Feature feature);
    [[nodiscard]] Button& closeButton() { return *close_; }

    void layoutSubviews() override;

private:
    struct Row {
        View* view;
        Label* label;
        Switch* toggle;
    };

    void showDecision(Feature feature);
    void close();

    Permissions& permissions_;
    View* bar_;
    Label* title_;
    Button* close_;
    std::array<Row, kAllFeatures.size()> rows_{};
    std::function<void()> closed_;
};

}  // namespace platform::ui
