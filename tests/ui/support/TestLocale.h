#pragma once

#include <string>

#include "platform/ui/InterfaceLocale.h"

namespace ui_test {

// A locale a test sets: direction and the layer's own texts.
class TestLocale : public platform::ui::InterfaceLocale {
public:
    [[nodiscard]] bool isRightToLeft() const override { return rightToLeft; }
    [[nodiscard]] std::string backTitle() const override { return back; }
    [[nodiscard]] std::string deleteTitle() const override { return remove; }

    bool rightToLeft = false;
    std::string back = "Back";
    std::string remove = "Delete";
};

}  // namespace ui_test
