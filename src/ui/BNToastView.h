#pragma once

#include "platform/ui/Controls.h"
#include "platform/ui/View.h"

class BNToast;

// One banner drawn: background, optional image and activity indicator, the text and an
// optional subtitle, laid out inside the banner area from the banner's options.
class BNToastView : public platform::ui::View {
public:
    explicit BNToastView(QWidget* parent = nullptr);

    // Takes the banner's texts, fonts, colours, image and background; the banner owns the view.
    void setToast(const BNToast* toast);
    [[nodiscard]] const BNToast* toast() const { return toast_; }

    void layoutSubviews() override;

    [[nodiscard]] platform::ui::ImageView& imageView() { return *imageView_; }
    [[nodiscard]] platform::ui::Spinner& activityIndicator() { return *activityIndicator_; }
    [[nodiscard]] platform::ui::Label& label() { return *label_; }
    [[nodiscard]] platform::ui::Label& subtitleLabel() { return *subtitleLabel_; }
    [[nodiscard]] platform::ui::View* backgroundView() const { return backgroundView_.data(); }

private:
    const BNToast* toast_ = nullptr;
    platform::ui::ViewGuard<platform::ui::View> backgroundView_;
    platform::ui::ImageView* imageView_;
    platform::ui::Spinner* activityIndicator_;
    platform::ui::Label* label_;
    platform::ui::Label* subtitleLabel_;
};
