#pragma once

#include "platform/ui/Navigation.h"
#include "screens/TQScreenServices.h"

namespace platform::ui {
class Button;
class Label;
}  // namespace platform::ui

// The watch's name and identifier labels, which nothing fills, and a button that asks the
// watch to drop the link.
class TQKavoInfoViewController final : public platform::ui::Page {
public:
    static constexpr const char* kClassName = "TQKavoInfoViewController";

    explicit TQKavoInfoViewController(const TQScreenServices& services);

    void viewDidLoad() override;
    void layoutSubviews() override;

private:
    void onDisconnectClicked();

    // The facade is asked for at the press: the link may have gone and come back since.
    TQScreenServices services_;
    platform::ui::Label* deviceName_ = nullptr;
    platform::ui::Label* deviceId_ = nullptr;
    platform::ui::Button* disconnectButton_ = nullptr;
};
