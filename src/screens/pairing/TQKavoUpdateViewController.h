#pragma once

#include <string>

#include "platform/ui/Navigation.h"

namespace platform::ui {
class Button;
class Label;
class LinkLabel;
class ScrollView;
}  // namespace platform::ui

// The help page for a scan that found no watch: five numbered steps that make a watch
// visible, a link to the phone's Bluetooth settings and a button that closes the page to scan
// again. The scan list presents it; it sends nothing to the watch and leaves the link alone.
class TQKavoUpdateViewController final : public platform::ui::Page {
public:
    static constexpr const char* kClassName = "TQKavoUpdateViewController";

    TQKavoUpdateViewController();

    // The interface file the page is made from: its class name.
    [[nodiscard]] static const char* nibName() { return kClassName; }
    // Presents a new help page over presenter (fading in) through the storyboard that made
    // presenter, unless one is already over it or on its way there: a second empty scan while
    // the page stands never stacks another. Whether one was presented now.
    static bool presentOver(platform::ui::Page& presenter);

    void viewDidLoad() override;
    void layoutSubviews() override;

    // The user followed the Bluetooth-settings link and has not come back yet.
    [[nodiscard]] bool isGoToSettings() const { return isGoToSettings_; }

private:
    void scanAgain();
    void openBluetoothSettings();
    // Coming back to the application after the link was followed closes the page.
    void applicationWillEnterForeground();
    void showDeviceTablePage();
    void prepareClickableString();

    bool isGoToSettings_ = false;
    platform::ui::ScrollView* scrollveiw_ = nullptr;
    platform::ui::Label* noKavoDeviceFound_ = nullptr;
    platform::ui::Label* firstHeadLabel_ = nullptr;
    platform::ui::LinkLabel* textViewiPhoneSettings_ = nullptr;
    platform::ui::Label* secondLabel_ = nullptr;
    platform::ui::Label* thirdLabel_ = nullptr;
    platform::ui::Label* fourthLabel_ = nullptr;
    platform::ui::Label* fifthLabel_ = nullptr;
    platform::ui::Button* scanAgainOutlet_ = nullptr;
};
