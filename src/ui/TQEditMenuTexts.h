#pragma once

#include <string>

#include "platform/ui/EditMenu.h"

// The text fields' edit menu in the application's localised words.
class TQEditMenuTexts final : public platform::ui::EditMenuTexts {
public:
    [[nodiscard]] std::string text(platform::ui::EditAction action) const override;
};
