#pragma once

#include <string>

#include "platform/ui/InterfaceLocale.h"

// What the interface layer asks of the application's language: the host's layout direction
// and the texts of the back and delete buttons, of the text fields' edit menu and of the
// contact picker from the application's table.
class TQInterfaceLocale final : public platform::ui::InterfaceLocale {
public:
    [[nodiscard]] bool isRightToLeft() const override;
    [[nodiscard]] std::string backTitle() const override;
    [[nodiscard]] std::string deleteTitle() const override;
    [[nodiscard]] std::string editMenuText(platform::ui::EditAction action) const override;
    [[nodiscard]] std::string contactsTitle() const override;
    [[nodiscard]] std::string cancelTitle() const override;
    [[nodiscard]] std::string searchPlaceholder() const override;
    [[nodiscard]] std::string noNameTitle() const override;
};
