#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/URLOpener.h"

namespace platform {

// The link the screens open for the phone's Bluetooth settings, and the scheme of the one for
// the application's own settings page.
inline constexpr std::string_view kBluetoothSettingsURL = "prefs:root=Bluetooth";
inline constexpr std::string_view kAppSettingsScheme = "app-settings";

// Whether the text is the Bluetooth settings link (its scheme and key in any case); and whether
// it is a link to some settings page of the phone ("prefs:" or "app-settings:").
[[nodiscard]] bool isBluetoothSettingsURL(std::string_view url);
[[nodiscard]] bool isSettingsURL(std::string_view url);

// A desktop's Bluetooth panel: the program and the arguments that open it on Bluetooth.
struct SettingsPanel {
    std::string program;
    std::vector<std::string> arguments;
    friend bool operator==(const SettingsPanel&, const SettingsPanel&) = default;
};

// The usual panels, in the order they are looked for: the GNOME and Budgie control centres'
// Bluetooth pages, KDE's Bluetooth module (system settings, then the module shells), and the
// stand-alone managers (blueman, blueberry).
[[nodiscard]] std::span<const SettingsPanel> bluetoothPanels();

// Opens the desktop's Bluetooth panel where one is installed: the first of bluetoothPanels()
// whose program is found, started with an argument vector and not waited for.
class DesktopBluetoothSettings {
public:
    using Find = std::function<std::optional<std::filesystem::path>(std::string_view program)>;

    // By default programs are looked for on PATH and started detached.
    explicit DesktopBluetoothSettings(Find find = nullptr, SpawningURLOpener::Spawn spawn = nullptr);

    // The panel that open() would start, with its program's path; nothing when none is here.
    [[nodiscard]] std::optional<SettingsPanel> installedPanel() const;
    // Whether a panel started.
    bool open() const;

private:
    Find find_;
    SpawningURLOpener::Spawn spawn_;
};

}  // namespace platform
