#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "sim/Watch.h"
#include "sim/WatchFiles.h"
#include "sim/WatchState.h"

namespace kavowatch {

// One application or face on the watch.
struct InstalledApp {
    std::string appName;
    std::string packageName;
    std::string className;
    std::string version;
    bool preload = false;
    bool removable = true;

    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};

// What a package holds, as the watch reads its config.xml.
struct PackageInfo {
    std::string packageName;
    std::string appName;
    std::string className;
    std::string version;
    bool isClock = false;
};

// Reads a .wgt package: a zip archive whose config.xml names the package (the watch's
// application element), its name and version, and an icon that the archive holds. Entries are
// read in memory, each bounded; scratch is a folder where the archive is put for reading.
[[nodiscard]] platform::Result<PackageInfo> readPackage(std::span<const std::uint8_t> package,
                                                        const std::filesystem::path& scratch);

// The watch's side of application management: answers install requests by asking for the
// package (by data request), takes it by file transfer, reads and checks it and reports the
// result; answers uninstall requests; and keeps the application, face and order lists of the
// state (which the responder serves) in step with what is installed. The lists are read from
// the state when they are in the watch's list format, else they start from the defaults.
class WatchApps {
public:
    // Install return codes: 1 installed; the others refuse.
    static constexpr int kInstalled = 1;
    static constexpr int kBadPackage = 2;
    // Uninstall reasons: 1 removed, 2 not on the watch, 3 may not be removed.
    static constexpr int kRemoved = 1;
    static constexpr int kNotInstalled = 2;
    static constexpr int kNotRemovable = 3;

    // Both borrowed and outlive it; it installs its rules on the watch and hears its files.
    WatchApps(Watch& watch, WatchState& state, std::filesystem::path scratch);
    WatchApps(const WatchApps&) = delete;
    WatchApps& operator=(const WatchApps&) = delete;

    [[nodiscard]] const std::vector<InstalledApp>& apps() const { return apps_; }
    [[nodiscard]] const std::vector<InstalledApp>& faces() const { return faces_; }
    [[nodiscard]] const InstalledApp* find(std::string_view packageName) const;

    // Faults: the next install answers this code whatever the package; installs are asked for
    // their package but never answered.
    void failNextInstall(int code) { failNext_ = code; }
    void answerInstalls(bool answer) { answerInstalls_ = answer; }
    // Answers the oldest install kept unanswered, late; false when none is kept.
    bool answerHeldInstall();
    [[nodiscard]] std::size_t heldInstalls() const { return held_.size(); }

    // Install results sent, in order.
    [[nodiscard]] const std::vector<platform::Value>& results() const { return results_; }

    // The list documents as the watch sends them.
    [[nodiscard]] static std::string listXml(const char* root, const std::vector<InstalledApp>& items,
                                             bool faces);

private:
    struct Pending {
        std::string requestId;
        std::string fileName;
    };

    Watch::Replies install(const ReceivedMessage& request);
    Watch::Replies uninstall(const ReceivedMessage& request);
    void onFile(const ReceivedFile& file);
    void finishInstall(const Pending& pending, const ReceivedFile& file);
    void publish();

    Watch& watch_;
    WatchState& state_;
    std::filesystem::path scratch_;
    std::vector<InstalledApp> apps_;
    std::vector<InstalledApp> faces_;
    std::vector<Pending> pending_;
    std::vector<std::pair<Pending, ReceivedFile>> held_;
    std::vector<platform::Value> results_;
    std::optional<int> failNext_;
    bool answerInstalls_ = true;
    platform::WeakPtrFactory<WatchApps> weak_;
};

}  // namespace kavowatch
