#include "screens/TQPlaceholderPage.h"

#include <utility>

#include "platform/ui/Controls.h"

TQPlaceholderPage::TQPlaceholderPage(std::string className, std::string scene)
    : Page(std::move(className)), scene_(std::move(scene)) {
    setName(scene_);
}

void TQPlaceholderPage::viewDidLoad() {
    setTitle(scene_);
    auto* label = new platform::ui::Label(&contentView());
    label->setName("placeholderLabel");
    label->setNumberOfLines(0);
    label->setTextAlignment(platform::ui::TextAlignment::center);
    label->setText(scene_ + "\nThis screen is not built yet.");
    label->setFrame({16, 16, 288, 120});
}
