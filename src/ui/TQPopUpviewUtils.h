#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/host/AppHost.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Window.h"

// Alerts and the connecting dressing that several pages share. The builders only build; the
// caller shows what they return.
class TQPopUpviewUtils {
public:
    TQPopUpviewUtils() = delete;

    // The texts by key: the application's table, or another in tests.
    using Localizer = std::function<std::string(std::string_view key)>;

    // Asks the user to keep the phone application running; one "ok" button that only
    // dismisses.
    [[nodiscard]] static platform::Alert keepRunningKMAlert();
    [[nodiscard]] static platform::Alert keepRunningKMAlert(const Localizer& localized);
    // A watch software update is required; one "ok" button. Its texts are shown as they
    // stand, never read as formats.
    [[nodiscard]] static platform::Alert showUpdateKavoAlert();
    [[nodiscard]] static platform::Alert showUpdateKavoAlert(const Localizer& localized);

    // Asks to allow Bluetooth sharing (tag 11011): buttons "Don't allow" (the cancel button,
    // index 0) and "Settings" (index 1). Its message is a format, formatted safely with the
    // application's name.
    static constexpr int kBluetoothSharingRequestTag = 11011;
    [[nodiscard]] static platform::Alert bluetoothSharingRequestAlert();
    // What follows a "Don't allow" (tag 11021): sharing must be on; one "ok" button.
    static constexpr int kBluetoothSharingRequiredTag = 11021;
    [[nodiscard]] static platform::Alert bluetoothSharingRequiredAlert();

    // Adds a turning spinner and the wrapped text, side by side and centred on x = 135, to
    // the host view; for the device model and layout direction of this phone.
    static platform::ui::View& connectingView(platform::ui::View& host, std::string_view text);
    static platform::ui::View& connectingView(platform::ui::View& host, std::string_view text,
                                              int deviceModel, platform::LayoutDirection direction);
    // On an alert the pair goes into the alert's own box below its texts, never over them.
    static platform::ui::AlertView& connectingView(platform::ui::AlertView& alert,
                                                   std::string_view text);
};
