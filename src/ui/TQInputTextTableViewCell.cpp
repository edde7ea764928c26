#include "ui/TQInputTextTableViewCell.h"

#include "logging/LGFormat.h"

using platform::ui::Color;

TQInputTextTableViewCell::TQInputTextTableViewCell()
    : titleLabel_(new platform::ui::Label(&contentView())),
      titleInput_(new platform::ui::TextField(&contentView())),
      countingLabel_(new platform::ui::Label(&contentView())),
      iconImage_(new platform::ui::ImageView(&contentView())) {
    setName("TQInputTextTableViewCell");
    titleLabel_->setName("titleLabel");
    titleInput_->setName("titleInput");
    titleInput_->setFontSize(17);
    countingLabel_->setName("countingLabel");
    countingLabel_->setFontSize(12);
    countingLabel_->setTextColor(Color{0.56, 0.56, 0.58, 1});
    countingLabel_->setTextAlignment(platform::ui::TextAlignment::right);
    iconImage_->setName("iconImage");
    iconImage_->setContentMode(platform::ui::ImageView::ContentMode::aspectFit);
    // awakeFromNib: the cell answers its field's questions.
    titleInput_->onEditingChanged([this] { textFieldDidChange(); });
    titleInput_->setShouldChange(
        [this](platform::ui::TextField::Range range, std::string_view replacement) {
            return shouldChangeCharacters(range, replacement);
        });
    titleInput_->onReturn([this] { textFieldShouldReturn(); });
}

void TQInputTextTableViewCell::setInputCellType(std::int32_t type) {
    setAccessory(Accessory::none);
    titleLabelConstraint.constant = 14;
    switch (type) {
        case 0:
            titleInput_->hide();
            countingLabel_->hide();
            titleLabel_->show();
            iconImage_->hide();
            break;
        case 1:
            titleInput_->show();
            countingLabel_->show();
            titleLabel_->hide();
            iconImage_->hide();
            break;
        case 2:
            titleInput_->hide();
            countingLabel_->hide();
            titleLabel_->show();
            iconImage_->show();
            titleLabelConstraint.constant = 52;
            break;
        default:
            break;
    }
    layoutIfNeeded();
}

void TQInputTextTableViewCell::textFieldDidChange() {
    countingLabel_->setText(lg::format("(%lu/200)", titleInput_->length()));
}

bool TQInputTextTableViewCell::shouldChangeCharacters(platform::ui::TextField::Range range,
                                                      std::string_view /*replacement*/) const {
    return !(titleInput_->length() >= kLimit && range.length == 0);
}

bool TQInputTextTableViewCell::textFieldShouldReturn() {
    if (delegate != nullptr) {
        delegate->doneButtonTouched();
    }
    return false;
}

void TQInputTextTableViewCell::layoutSubviews() {
    TableCell::layoutSubviews();
    const double w = contentView().width();
    const double h = height();
    iconImage_->setFrame({leadingIconConstraint.constant, (h - 28) / 2, 28, 28});
    titleLabel_->setFrame({titleLabelConstraint.constant, 0,
                           std::max(0.0, w - titleLabelConstraint.constant - 16), h});
    countingLabel_->setFrame({w - 16 - 72, 0, 72, h});
    titleInput_->setFrame({titleLabelConstraint.constant, 0,
                           std::max(0.0, w - titleLabelConstraint.constant - 16 - 80), h});
}

TQCollectionViewCell::TQCollectionViewCell()
    : appIcon_(new platform::ui::ImageView(this)),
      appName_(new platform::ui::Label(this)),
      appCon_(new platform::ui::Label(this)) {
    setName("TQCollectionViewCell");
    appIcon_->setName("appIcon");
    appIcon_->setContentMode(platform::ui::ImageView::ContentMode::aspectFit);
    appName_->setName("appName");
    appName_->setFontSize(12);
    appName_->setTextAlignment(platform::ui::TextAlignment::center);
    appCon_->setName("appCon");
    appCon_->setFontSize(10);
    appCon_->setTextColor(Color{0.56, 0.56, 0.58, 1});
    appCon_->setTextAlignment(platform::ui::TextAlignment::center);
}

void TQCollectionViewCell::layoutSubviews() {
    const double w = width();
    const double icon = std::min(w - 16, 60.0);
    appIcon_->setFrame({(w - icon) / 2, 6, icon, icon});
    appName_->setFrame({0, 10 + icon, w, 16});
    appCon_->setFrame({0, 28 + icon, w, 14});
}
