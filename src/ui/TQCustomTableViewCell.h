#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/Navigation.h"
#include "platform/ui/Table.h"

struct TQIndexPath {
    std::size_t section = 0;
    std::size_t row = 0;
};

class TQCustomTableViewCell;

class TQCustomTableViewCellDelegate {
public:
    virtual ~TQCustomTableViewCellDelegate() = default;
    virtual void customTableViewCellSwitchDidChange(TQCustomTableViewCell& /*cell*/,
                                                    platform::ui::Switch& /*switchButton*/) {}
};

// The generic row of the menu-like pages; a cell type (0-6) chooses which parts show.
class TQCustomTableViewCell : public platform::ui::TableCell {
public:
    TQCustomTableViewCell();
    [[nodiscard]] static const char* reuseIdentifier() { return "TQCustomTableViewCell"; }

    void setCellType(std::int32_t type);
    void setDimmed(bool dimmed);
    [[nodiscard]] bool dimmed() const { return dimmed_; }

    TQCustomTableViewCellDelegate* delegate = nullptr;  // not owned
    TQIndexPath indexPath;
    std::int32_t identifier = 0;

    [[nodiscard]] platform::ui::Label& titleLabel() { return *titleLabel_; }
    // The parts a type may show are made when first asked for, hidden until a type shows them.
    [[nodiscard]] platform::ui::Label& descriptionLabel();
    [[nodiscard]] platform::ui::Label& accessoryLabel();
    [[nodiscard]] platform::ui::Switch& switchButton();
    [[nodiscard]] platform::ui::ImageView& buttonImage();

    platform::ui::LayoutConstraint titleLabelBVC{"titleLabelBVC", 4};
    platform::ui::LayoutConstraint titleLeadingConstraint{"titleLeadingConstraint", 0};
    platform::ui::LayoutConstraint descriptionLeadingConstraint{"descriptionLeadingConstraint", 0};
    platform::ui::LayoutConstraint imageLeadingConstraint{"imageLeadingConstraint", 12};
    platform::ui::LayoutConstraint descriptionHeightConstraint{"descriptionHeightConstraint", 18};
    double indentSizeForEditMode = 0;

    void layoutSubviews() override;

private:
    void awakeFromNib();
    void switchDidChange();

    platform::ui::Label* titleLabel_;
    platform::ui::Label* descriptionLabel_ = nullptr;
    platform::ui::Label* accessoryLabel_ = nullptr;
    platform::ui::Switch* switchButton_ = nullptr;
    platform::ui::ImageView* buttonImage_ = nullptr;
    bool dimmed_ = false;
};
