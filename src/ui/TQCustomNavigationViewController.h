#pragma once

#include <memory>

#include "platform/foundation/Value.h"
#include "platform/ui/Navigation.h"
#include "ui/TQActivityBarView.h"

// The root navigation of the application: a navigation with the download-and-install activity
// bar pinned to its bottom edge, driven only by the activity-bar notifications, and the veto
// of the back button through each page's shouldPopViewController.
class TQCustomNavigationViewController : public platform::ui::NavigationController {
public:
    explicit TQCustomNavigationViewController(std::unique_ptr<platform::ui::Page> root);
    ~TQCustomNavigationViewController() override;

    [[nodiscard]] TQActivityBarView& activityBar() { return *activityBar_; }
    // Whether the bar is shown (it fades over 0.3 s; this is its state at once).
    [[nodiscard]] bool isActivityBarShown() const { return barShown_; }
    [[nodiscard]] platform::ui::Page* rootView() const { return rootView_; }
    [[nodiscard]] const platform::Dictionary& metrics() const { return metrics_; }

    void showActivityBar();
    void hideActivityBar();
    void updateValue(const platform::Value& userInfo);
    void showActivityBarCancel();
    void hideActivityBarCancel();
    void updateLayoutForViewController(platform::ui::Page& page);

protected:
    bool navigationBarShouldPopItem() override;

private:
    void updateAutoLayout();
    void fadeBar(bool in);

    TQActivityBarView* activityBar_;
    platform::ui::Page* rootView_ = nullptr;
    platform::Dictionary metrics_;
    bool barShown_ = false;
    int fadeGeneration_ = 0;
};
