#include "platform/ui/PermissionsPage.h"

#include <algorithm>
#include <utility>

namespace platform::ui {

namespace {

constexpr Color kGround{0.94, 0.94, 0.96, 1};
constexpr Color kTint{0, 0.48, 1, 1};
constexpr double kSide = 16;
constexpr double kGroupTop = 35;

std::size_t indexOf(Feature feature) {
    for (std::size_t i = 0; i < kAllFeatures.size(); ++i) {
        if (kAllFeatures[i] == feature) {
            return i;
        }
    }
    return 0;
}

}  // namespace

PermissionsPage::PermissionsPage(Permissions& permissions, Texts texts, QWidget* parent)
    : View(parent),
      permissions_(permissions),
      bar_(new View(this)),
      title_(new Label(bar_)),
      close_(new Button(bar_)) {
    setName("permissionsPage");
    setBackgroundColor(kGround);
    bar_->setBackgroundColor(Color{0.97, 0.97, 0.97, 1});
    title_->setName("permissionsTitle");
    title_->setText(texts.title);
    title_->setBold(true);
    title_->setTextAlignment(TextAlignment::center);
    close_->setName("permissionsClose");
    close_->setTitle(texts.close);
    close_->setTitleColor(kTint);
    close_->onAction([this] { close(); });
    for (std::size_t i = 0; i < kAllFeatures.size(); ++i) {
        const Feature feature = kAllFeatures[i];
        const std::string name(featureName(feature));
        Row& row = rows_[i];
        row.view = new View(this);
        row.view->setBackgroundColor(Color{1, 1, 1, 1});
        row.label = new Label(row.view);
        row.label->setName("permissionLabel." + name);
        row.label->setText(texts.feature ? texts.feature(feature) : name);
        row.toggle = new Switch(row.view);
        row.toggle->setName("permissionSwitch." + name);
        row.toggle->onValueChanged([this, feature](bool on) {
            if (!permissions_.setDecision(feature, on ? Decision::granted : Decision::denied)) {
                showDecision(feature);  // nothing to decide after all: back as it stands
            }
        });
        showDecision(feature);
    }
}

Switch& PermissionsPage::toggle(Feature feature) {
    return *rows_[indexOf(feature)].toggle;
}

void PermissionsPage::showDecision(Feature feature) {
    const Decision decision = permissions_.decision(feature);
    Switch& toggle = *rows_[indexOf(feature)].toggle;
    toggle.setOn(decision == Decision::granted);
    toggle.setEnabled(decision != Decision::restricted);
}

void PermissionsPage::close() {
    hide();
    deleteLater();
    if (auto closed = std::move(closed_)) {
        closed();
    }
}

void PermissionsPage::layoutSubviews() {
    const double width = frame().width;
    bar_->setFrame(Rect{0, 0, width, kBarHeight});
    const double barContent = kBarHeight - 44;  // below the status bar
    const QSize closeSize = close_->sizeHint();
    const double closeWidth = std::max(60.0, double(closeSize.width()));
    close_->setFrame(Rect{width - closeWidth - 8, barContent, closeWidth, 44});
    title_->setFrame(Rect{closeWidth + 8, barContent, std::max(0.0, width - 2 * (closeWidth + 8)), 44});
    double y = kBarHeight + kGroupTop;
    for (Row& row : rows_) {
        row.view->setFrame(Rect{0, y, width, kRowHeight - 0.5});
        const QSize toggleSize = row.toggle->sizeHint();
        row.toggle->setFrame(Rect{width - kSide - toggleSize.width(),
                                  (kRowHeight - toggleSize.height()) / 2,
                                  double(toggleSize.width()), double(toggleSize.height())});
        row.label->setFrame(
            Rect{kSide, 0, std::max(0.0, width - 3 * kSide - toggleSize.width()), kRowHeight});
        y += kRowHeight;
    }
}

}  // namespace platform::ui
