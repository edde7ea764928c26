#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Process.h"
#include "platform/host/AppHost.h"
#include "platform/host/BluetoothSettings.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A program that writes its arguments, one a line, into the file named by $PANEL_RECORD.
void writeRecordingProgram(const fs::path& path) {
    std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$PANEL_RECORD\"\n";
    fs::permissions(path, fs::perms::owner_all);
}

std::vector<std::string> linesOf(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Started and waited for, so that the test reads what the program wrote.
bool runToEnd(std::span<const std::string> arguments) {
    const auto child = startProgram(arguments);
    return child && waitForExit(*child) == 0;
}

TEST(BluetoothSettingsTest, TheLinksOfThePhonesSettingsAreKnownInAnyCase) {
    EXPECT_TRUE(isBluetoothSettingsURL("prefs:root=Bluetooth"));
    EXPECT_TRUE(isBluetoothSettingsURL("PREFS:root=bluetooth"));
    EXPECT_FALSE(isBluetoothSettingsURL("prefs:root=General"));
    EXPECT_FALSE(isBluetoothSettingsURL("prefs:root=Bluetooth&path=x"));
    EXPECT_TRUE(isSettingsURL("prefs:root=General"));
    EXPECT_TRUE(isSettingsURL("app-settings:"));
    EXPECT_TRUE(isSettingsURL("App-Settings:x"));
    EXPECT_FALSE(isSettingsURL("https://example.com/prefs:root=Bluetooth"));
    EXPECT_FALSE(isSettingsURL("app-settings"));
}

TEST(BluetoothSettingsTest, APanelOnThePathIsStartedOnItsBluetoothPage) {
    testing_support::TempDir temp;
    writeRecordingProgram(temp.path() / "gnome-control-center");
    testing_support::ScopedEnvironment path("PATH", temp.path().string());
    testing_support::ScopedEnvironment record("PANEL_RECORD", (temp.path() / "args").string());

    const DesktopBluetoothSettings settings(nullptr, runToEnd);
    const auto panel = settings.installedPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->program, (temp.path() / "gnome-control-center").string());
    ASSERT_TRUE(settings.open());
    EXPECT_EQ(linesOf(temp.path() / "args"), std::vector<std::string>{"bluetooth"});
}

TEST(BluetoothSettingsTest, TheFirstPanelFoundWinsAndNoneMeansNothingStarts) {
    struct Case {
        const char* name;
        std::vector<std::string> installed;
        std::optional<SettingsPanel> expected;
    };
    const Case cases[] = {
        {"none", {}, std::nullopt},
        {"blueman alone", {"blueman-manager"}, SettingsPanel{"/bin/blueman-manager", {}}},
        {"KDE before blueman",
         {"blueman-manager", "systemsettings"},
         SettingsPanel{"/bin/systemsettings", {"kcm_bluetooth"}}},
        {"a newer KDE shell first",
         {"kcmshell5", "kcmshell6"},
         SettingsPanel{"/bin/kcmshell6", {"kcm_bluetooth"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int started = 0;
        const DesktopBluetoothSettings settings(
            [&](std::string_view program) -> std::optional<fs::path> {
                for (const auto& name : c.installed) {
                    if (name == program) {
                        return fs::path("/bin") / name;
                    }
                }
                return std::nullopt;
            },
            [&](std::span<const std::string>) {
                ++started;
                return true;
            });
        EXPECT_EQ(settings.installedPanel(), c.expected);
        EXPECT_EQ(settings.open(), c.expected.has_value());
        EXPECT_EQ(started, c.expected ? 1 : 0);
    }
}

TEST(BluetoothSettingsTest, AProgramThatCannotStartIsReported) {
    const DesktopBluetoothSettings settings(
        [](std::string_view program) -> std::optional<fs::path> {
            return fs::path("/nonexistent") / program;
        },
        runToEnd);
    EXPECT_FALSE(settings.open());
}

TEST(BluetoothSettingsTest, TheHeadlessHostRefusesThePhonesSettingsPages) {
    // An opener on the path that would take anything, so that a link handed to it would count
    // as opened.
    testing_support::TempDir temp;
    writeRecordingProgram(temp.path() / "xdg-open");
    testing_support::ScopedEnvironment path("PATH", temp.path().string());
    testing_support::ScopedEnvironment record("PANEL_RECORD", (temp.path() / "args").string());
    HeadlessAppHost headless;
    for (const char* url : {"prefs:root=Bluetooth", "app-settings:", "prefs:root=General"}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(headless.canOpenURL(url));
        EXPECT_FALSE(headless.openURL(url));
    }
    EXPECT_TRUE(headless.openURL("https://example.com"));  // while links go to the opener
}

}  // namespace
}  // namespace platform
