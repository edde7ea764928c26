#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/View.h"

namespace platform::ui {

class MainWindow;

enum class ActionStyle { normal, cancel, destructive };

// A choice of actions that rises from the bottom of the window over a dimmed ground, in the
// window's alert layer: a box with the title, the message and the buttons, and the cancel
// button in a box of its own below. A button, or a touch on the ground when there is a cancel
// button, calls the handler with the button's index and the sheet goes.
class ActionSheet : public View {
public:
    static constexpr double kButtonHeight = 57;
    static constexpr double kMargin = 8;
    static constexpr double kDuration = 0.3;

    explicit ActionSheet(std::string_view title = {}, std::string_view message = {},
                         QWidget* parent = nullptr);
    // The button's index, counted in the order buttons are added. Only the first cancel
    // button is one; a later one shows as a normal button.
    std::size_t addButton(std::string_view title, ActionStyle style = ActionStyle::normal);
    [[nodiscard]] std::size_t buttonCount() const { return buttons_.size(); }
    [[nodiscard]] Button& button(std::size_t index) { return *buttons_.at(index); }
    [[nodiscard]] std::optional<std::size_t> cancelButtonIndex() const { return cancel_; }
    void setTag(int tag) { tag_ = tag; }
    [[nodiscard]] int tag() const { return tag_; }
    void onButton(std::function<void(std::size_t index)> pressed) { pressed_ = std::move(pressed); }

    // The window takes the sheet.
    void show(MainWindow& window, bool animated);
    // Goes without a button.
    void dismiss(bool animated);
    // The boxes' frame: from the top of the first box to the bottom of the cancel box.
    [[nodiscard]] Rect sheetFrame() const { return sheet_->frame(); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void press(std::size_t index);
    void layoutSheet();
    void setShown(double shown);
    [[nodiscard]] double sheetHeight() const;

    View* sheet_;
    View* group_;
    View* cancelBox_;
    Label* title_;
    Label* message_;
    std::vector<Button*> buttons_;
    std::optional<std::size_t> cancel_;
    int tag_ = 0;
    bool leaving_ = false;
    double shown_ = 1;
    std::function<void(std::size_t)> pressed_;
};

}  // namespace platform::ui
