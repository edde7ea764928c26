#include "ui/TQCustomTableViewCell.h"

using platform::ui::Color;
using platform::ui::TableCell;

TQCustomTableViewCell::TQCustomTableViewCell()
    : titleLabel_(new platform::ui::Label(&contentView())),
      descriptionLabel_(new platform::ui::Label(&contentView())),
      accessoryLabel_(new platform::ui::Label(&contentView())),
      switchButton_(new platform::ui::Switch(&contentView())),
      buttonImage_(new platform::ui::ImageView(&contentView())) {
    setName("TQCustomTableViewCell");
    titleLabel_->setName("titleLabel");
    titleLabel_->setFontSize(17);
    descriptionLabel_->setName("descriptionLabel");
    descriptionLabel_->setFontSize(13);
    descriptionLabel_->setTextColor(Color{0.43, 0.43, 0.45, 1});
    accessoryLabel_->setName("accessoryLabel");
    accessoryLabel_->setFontSize(15);
    accessoryLabel_->setTextColor(Color{0.56, 0.56, 0.58, 1});
    accessoryLabel_->setTextAlignment(platform::ui::TextAlignment::right);
    switchButton_->setName("switchButton");
    buttonImage_->setName("buttonImage");
    buttonImage_->setContentMode(platform::ui::ImageView::ContentMode::aspectFit);
    awakeFromNib();
}

void TQCustomTableViewCell::awakeFromNib() {
    indentSizeForEditMode = leftLayoutMargin() + 18;
    switchButton_->onValueChanged([this](bool) { switchDidChange(); });
}

void TQCustomTableViewCell::switchDidChange() {
    if (delegate != nullptr) {
        delegate->customTableViewCellSwitchDidChange(*this, *switchButton_);
    }
}

void TQCustomTableViewCell::setCellType(std::int32_t type) {
    switchButton_->hide();
    descriptionLabel_->hide();
    accessoryLabel_->hide();
    buttonImage_->hide();
    titleLeadingConstraint.constant = 0;
    descriptionLeadingConstraint.constant = 0;
    imageLeadingConstraint.constant = 12;
    const auto noSecondLine = [this] {
        titleLabelBVC.constant = 0;
        descriptionLabel_->setText("");
        descriptionHeightConstraint.constant = 0;
    };
    switch (type) {
        case 0:
            setAccessory(Accessory::disclosureIndicator);
            noSecondLine();
            break;
        case 1:
            noSecondLine();
            break;
        case 2:
            descriptionLabel_->show();
            setAccessory(Accessory::disclosureIndicator);
            break;
        case 3:
            switchButton_->show();
            setAccessory(Accessory::none);
            setSelectionStyle(SelectionStyle::none);
            noSecondLine();
            break;
        case 4:
            buttonImage_->show();
            setAccessory(Accessory::disclosureIndicator);
            noSecondLine();
            titleLeadingConstraint.constant = indentSizeForEditMode;
            descriptionLeadingConstraint.constant = indentSizeForEditMode;
            break;
        case 5:
            accessoryLabel_->show();
            setAccessory(Accessory::none);
            setSelectionStyle(SelectionStyle::none);
            noSecondLine();
            break;
        case 6:
            switchButton_->show();
            descriptionLabel_->show();
            setAccessory(Accessory::none);
            setSelectionStyle(SelectionStyle::none);
            titleLabelBVC.constant = 0;
            descriptionHeightConstraint.constant = 0;
            break;
        default:
            break;
    }
    layoutIfNeeded();
}

void TQCustomTableViewCell::setDimmed(bool dimmed) {
    dimmed_ = dimmed;
    if (dimmed) {
        setSelectionStyle(SelectionStyle::none);
        textLabel().setEnabled(false);
        contentView().setAlpha(0.2);
    } else {
        textLabel().setEnabled(true);
        contentView().setAlpha(1.0);
    }
    setUserInteractionEnabled(!dimmed);
}

void TQCustomTableViewCell::layoutSubviews() {
    TableCell::layoutSubviews();
    const double w = contentView().width();
    const double h = height();
    const double margin = leftLayoutMargin();
    double trailing = w - 16;
    if (!switchButton_->isHidden()) {
        switchButton_->setFrame({trailing - 51, (h - 31) / 2, 51, 31});
        trailing -= 51 + 8;
    }
    if (!accessoryLabel_->isHidden()) {
        accessoryLabel_->setFrame({trailing - 120, 0, 120, h});
        trailing -= 120 + 8;
    }
    buttonImage_->setFrame({imageLeadingConstraint.constant, (h - 29) / 2, 29, 29});
    const double titleX = margin + titleLeadingConstraint.constant;
    const bool secondLine = !descriptionLabel_->isHidden() && !descriptionLabel_->text().empty();
    if (!secondLine) {
        titleLabel_->setFrame({titleX, 0, std::max(0.0, trailing - titleX), h});
        descriptionLabel_->setFrame({margin + descriptionLeadingConstraint.constant, h, 0, 0});
        return;
    }
    const double descriptionHeight = std::max(descriptionHeightConstraint.constant, 18.0);
    const double titleHeight = 22;
    const double top = (h - titleHeight - titleLabelBVC.constant - descriptionHeight) / 2;
    titleLabel_->setFrame({titleX, top, std::max(0.0, trailing - titleX), titleHeight});
    const double descriptionX = margin + descriptionLeadingConstraint.constant;
    descriptionLabel_->setFrame({descriptionX, top + titleHeight + titleLabelBVC.constant,
                                 std::max(0.0, trailing - descriptionX), descriptionHeight});
}
