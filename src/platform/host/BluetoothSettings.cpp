#include "platform/host/BluetoothSettings.h"

#include <array>
#include <utility>

#include "platform/foundation/LogSink.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/Text.h"

namespace platform {

namespace {

const std::array<SettingsPanel, 7>& panels() {
    static const std::array<SettingsPanel, 7> kPanels{{
        {"gnome-control-center", {"bluetooth"}},
        {"budgie-control-center", {"bluetooth"}},
        {"systemsettings", {"kcm_bluetooth"}},
        {"kcmshell6", {"kcm_bluetooth"}},
        {"kcmshell5", {"kcm_bluetooth"}},
        {"blueman-manager", {}},
        {"blueberry", {}},
    }};
    return kPanels;
}

}  // namespace

bool isBluetoothSettingsURL(std::string_view url) {
    return asciiLowercased(std::string(url)) == asciiLowercased(std::string(kBluetoothSettingsURL));
}

bool isSettingsURL(std::string_view url) {
    const std::string scheme = urlScheme(url);
    return scheme == "prefs" || scheme == kAppSettingsScheme;
}

std::span<const SettingsPanel> bluetoothPanels() {
    return panels();
}

DesktopBluetoothSettings::DesktopBluetoothSettings(Find find, SpawningURLOpener::Spawn spawn)
    : find_(find ? std::move(find) : Find(findProgram)),
      spawn_(spawn ? std::move(spawn) : SpawningURLOpener::Spawn(SpawningURLOpener::spawnDetached)) {}

std::optional<SettingsPanel> DesktopBluetoothSettings::installedPanel() const {
    for (const SettingsPanel& panel : bluetoothPanels()) {
        if (const auto path = find_(panel.program)) {
            return SettingsPanel{path->string(), panel.arguments};
        }
    }
    return std::nullopt;
}

bool DesktopBluetoothSettings::open() const {
    const auto panel = installedPanel();
    if (!panel) {
        PLATFORM_LOG_INFO("host: no Bluetooth settings panel is installed");
        return false;
    }
    std::vector<std::string> words{panel->program};
    words.insert(words.end(), panel->arguments.begin(), panel->arguments.end());
    if (!spawn_(words)) {
        PLATFORM_LOG_WARN("host: cannot start ", panel->program);
        return false;
    }
    PLATFORM_LOG_INFO("host: opened the Bluetooth settings with ", panel->program);
    return true;
}

}  // namespace platform
