#include "screens/TQPlaceholderPage.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/ui/Controls.h"
#include "utils/TQLocalization.h"

namespace {
constexpr const char* kNotBuiltKey = "screen_not_built_yet";
constexpr double kMargin = 16;

// The class without its prefix and controller suffix, short enough for the bar.
std::string barTitle(std::string_view className) {
    if (className.starts_with("TQ")) {
        className.remove_prefix(2);
    }
    for (std::string_view suffix : {"TableViewController", "ViewController", "Controller"}) {
        if (className.size() > suffix.size() && className.ends_with(suffix)) {
            className.remove_suffix(suffix.size());
            break;
        }
    }
    return std::string(className);
}

}  // namespace

TQPlaceholderPage::TQPlaceholderPage(std::string className, std::string scene)
    : Page(std::move(className)), scene_(std::move(scene)) {
    setName(scene_);
    setTitle(barTitle(this->className()));
}

void TQPlaceholderPage::viewDidLoad() {
    label_ = new platform::ui::Label(&contentView());
    label_->setName("placeholderLabel");
    label_->setNumberOfLines(0);
    label_->setTextAlignment(platform::ui::TextAlignment::center);
    std::string text = className();
    if (scene_ != className()) {
        text += "\n\"" + scene_ + "\"";
    }
    label_->setText(text + "\n\n" + TQLocalization::localizedString(kNotBuiltKey));
    layoutSubviews();
}

void TQPlaceholderPage::layoutSubviews() {
    if (label_ != nullptr) {
        label_->setFrame({kMargin, kMargin, std::max(0.0, width() - 2 * kMargin), 160});
    }
}
