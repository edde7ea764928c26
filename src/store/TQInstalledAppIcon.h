#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Keeps the icon of an application being installed on the watch: unpacks its package on a
// global queue while the file goes to the watch, and once the install succeeded saves the icon
// as PNG in Documents/<model number>/AppIcons/<package name>.png, within the bounds of the
// watch's icons (TQWatchAppIcons: file size, pixels, number). Each unpacking gets a folder
// of its own below Documents/<model number>/Extract, removed by it alone, since another install
// may be unpacking beside it. Used by the store's download operation and by the automatic
// updater, each with its own log lines. Main loop; only the unpacking runs elsewhere.
class TQInstalledAppIcon {
public:
    // The owner's log lines, formats taking what their names say.
    struct Lines {
        const char* iconFilePath;  // %@ the icon's path or "(null)"
        const char* iconPathNil;
        const char* createDirectoryError;  // %@ the error
        const char* saved;                 // %@ the file written
        const char* saveFailed;
        const char* folderRemoved;
    };

    explicit TQInstalledAppIcon(Lines lines);
    // A running unpacking removes its folder when it ends; a finished one's folder goes now.
    ~TQInstalledAppIcon();
    TQInstalledAppIcon(const TQInstalledAppIcon&) = delete;
    TQInstalledAppIcon& operator=(const TQInstalledAppIcon&) = delete;

    // Once per install: unpacks `package` into Extract/<folder>; `folder` and the model number
    // must be safe path components, else nothing is unpacked.
    void unpack(const std::filesystem::path& package, std::optional<std::string> modelNumber,
                std::string folder);
    [[nodiscard]] bool started() const;
    // Runs `then` on the main loop once the unpacking has ended, at once when none runs: the
    // steps after an install delete the package it reads.
    void whenUnpacked(std::function<void()> then);
    // Saves the unpacked icon under the package name (from the watch: used only when it is a
    // safe path component), then removes the unpacked folder.
    void save(const std::string& packageName);
    // Removes the unpacked folder, now or when the running unpacking ends.
    void discard();

private:
    struct State;
    Lines lines_;
    std::shared_ptr<State> state_;
};
