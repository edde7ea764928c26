#include "ui/TQCustomTableViewCell.h"

using platform::ui::Color;
using platform::ui::TableCell;

namespace {

template <typename Part>
bool shows(const Part* part) {
    return part != nullptr && !part->isHidden();
}

template <typename Part>
void hideIfMade(Part* part) {
    if (part != nullptr) {
        part->hide();
    }
}

}  // namespace

TQCustomTableViewCell::TQCustomTableViewCell() : titleLabel_(new platform::ui::Label(&contentView())) {
    setName("TQCustomTableViewCell");
    titleLabel_->setName("titleLabel");
    titleLabel_->setFontSize(17);
    awakeFromNib();
}

platform::ui::Label& TQCustomTableViewCell::descriptionLabel() {
    if (descriptionLabel_ == nullptr) {
        descriptionLabel_ = new platform::ui::Label(&contentView());
        descriptionLabel_->hide();
        descriptionLabel_->setName("descriptionLabel");
        descriptionLabel_->setFontSize(13);
        descriptionLabel_->setTextColor(Color{0.43, 0.43, 0.45, 1});
    }
    return *descriptionLabel_;
}

platform::ui::Label& TQCustomTableViewCell::accessoryLabel() {
    if (accessoryLabel_ == nullptr) {
        accessoryLabel_ = new platform::ui::Label(&contentView());
        accessoryLabel_->hide();
        accessoryLabel_->setName("accessoryLabel");
        accessoryLabel_->setFontSize(15);
        accessoryLabel_->setTextColor(Color{0.56, 0.56, 0.58, 1});
        accessoryLabel_->setTextAlignment(platform::ui::TextAlignment::right);
    }
    return *accessoryLabel_;
}

platform::ui::Switch& TQCustomTableViewCell::switchButton() {
    if (switchButton_ == nullptr) {
        switchButton_ = new platform::ui::Switch(&contentView());
        switchButton_->hide();
        switchButton_->setName("switchButton");
        switchButton_->onValueChanged([this](bool) { switchDidChange(); });
    }
    return *switchButton_;
}

platform::ui::ImageView& TQCustomTableViewCell::buttonImage() {
    if (buttonImage_ == nullptr) {
        buttonImage_ = new platform::ui::ImageView(&contentView());
        buttonImage_->hide();
        buttonImage_->setName("buttonImage");
        buttonImage_->setContentMode(platform::ui::ImageView::ContentMode::aspectFit);
    }
    return *buttonImage_;
}

void TQCustomTableViewCell::awakeFromNib() {
    indentSizeForEditMode = leftLayoutMargin() + 18;
}

void TQCustomTableViewCell::switchDidChange() {
    if (delegate != nullptr) {
        delegate->customTableViewCellSwitchDidChange(*this, *switchButton_);
    }
}

void TQCustomTableViewCell::setCellType(std::int32_t type) {
    hideIfMade(switchButton_);
    hideIfMade(descriptionLabel_);
    hideIfMade(accessoryLabel_);
    hideIfMade(buttonImage_);
    titleLeadingConstraint.constant = 0;
    descriptionLeadingConstraint.constant = 0;
    imageLeadingConstraint.constant = 12;
    const auto noSecondLine = [this] {
        titleLabelBVC.constant = 0;
        if (descriptionLabel_ != nullptr) {
            descriptionLabel_->setText("");
        }
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
            descriptionLabel().show();
            setAccessory(Accessory::disclosureIndicator);
            break;
        case 3:
            switchButton().show();
            setAccessory(Accessory::none);
            setSelectionStyle(SelectionStyle::none);
            noSecondLine();
            break;
        case 4:
            buttonImage().show();
            setAccessory(Accessory::disclosureIndicator);
            noSecondLine();
            titleLeadingConstraint.constant = indentSizeForEditMode;
            descriptionLeadingConstraint.constant = indentSizeForEditMode;
            break;
        case 5:
            accessoryLabel().show();
            setAccessory(Accessory::none);
            setSelectionStyle(SelectionStyle::none);
            noSecondLine();
            break;
        case 6:
            switchButton().show();
            descriptionLabel().show();
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
        setTextLabelEnabled(false);
        contentView().setAlpha(0.2);
    } else {
        setTextLabelEnabled(true);
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
    if (shows(switchButton_)) {
        switchButton_->setFrame({trailing - 51, (h - 31) / 2, 51, 31});
        trailing -= 51 + 8;
    }
    if (shows(accessoryLabel_)) {
        accessoryLabel_->setFrame({trailing - 120, 0, 120, h});
        trailing -= 120 + 8;
    }
    if (buttonImage_ != nullptr) {
        buttonImage_->setFrame({imageLeadingConstraint.constant, (h - 29) / 2, 29, 29});
    }
    const double titleX = margin + titleLeadingConstraint.constant;
    const bool secondLine = shows(descriptionLabel_) && !descriptionLabel_->text().empty();
    if (!secondLine) {
        titleLabel_->setFrame({titleX, 0, std::max(0.0, trailing - titleX), h});
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
