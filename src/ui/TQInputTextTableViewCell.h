#pragma once

#include <cstdint>

#include "platform/ui/Navigation.h"
#include "platform/ui/Table.h"
#include "ui/TQCustomTableViewCell.h"

class TQInputTextTableViewCellDelegate {
public:
    virtual ~TQInputTextTableViewCellDelegate() = default;
    virtual void doneButtonTouched() = 0;
};

// The row for entering or adding a text template, with a live count of the UTF-16 units
// entered against the limit of 200.
class TQInputTextTableViewCell : public platform::ui::TableCell {
public:
    static constexpr std::size_t kLimit = 200;

    TQInputTextTableViewCell();
    [[nodiscard]] static const char* reuseIdentifier() { return "TQInputTextTableViewCell"; }

    // 0 label row, 1 input row, 2 add row.
    void setInputCellType(std::int32_t type);

    // The field's questions and events.
    void textFieldDidChange();
    [[nodiscard]] bool shouldChangeCharacters(platform::ui::TextField::Range range,
                                              std::string_view replacement) const;
    bool textFieldShouldReturn();

    TQInputTextTableViewCellDelegate* delegate = nullptr;  // not owned
    TQIndexPath indexPath;
    platform::ui::LayoutConstraint titleLabelConstraint{"titleLabelConstraint", 14};
    platform::ui::LayoutConstraint leadingIconConstraint{"leadingIconConstraint", 14};

    [[nodiscard]] platform::ui::Label& titleLabel() { return *titleLabel_; }
    [[nodiscard]] platform::ui::TextField& titleInput() { return *titleInput_; }
    [[nodiscard]] platform::ui::Label& countingLabel() { return *countingLabel_; }
    [[nodiscard]] platform::ui::ImageView& iconImage() { return *iconImage_; }

    void layoutSubviews() override;

private:
    platform::ui::Label* titleLabel_;
    platform::ui::TextField* titleInput_;
    platform::ui::Label* countingLabel_;
    platform::ui::ImageView* iconImage_;
};

// A collection cell with an application icon and two labels; no behaviour of its own.
class TQCollectionViewCell : public platform::ui::View {
public:
    TQCollectionViewCell();
    [[nodiscard]] platform::ui::ImageView& appIcon() { return *appIcon_; }
    [[nodiscard]] platform::ui::Label& appName() { return *appName_; }
    [[nodiscard]] platform::ui::Label& appCon() { return *appCon_; }
    void layoutSubviews() override;

private:
    platform::ui::ImageView* appIcon_;
    platform::ui::Label* appName_;
    platform::ui::Label* appCon_;
};

// Fixed explanatory text: no caret and no copy, select or paste menu.
class TQTextView : public platform::ui::TextView {
public:
    TQTextView() { setName("TQTextView"); }
    [[nodiscard]] static bool canPerformAction(std::string_view /*action*/) { return false; }
    [[nodiscard]] static platform::ui::Rect caretRectForPosition(std::size_t /*position*/) {
        return {};
    }
};
