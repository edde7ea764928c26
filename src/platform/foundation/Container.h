#pragma once

#include <filesystem>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Result.h"

namespace platform {

// The application's identifier; names its preferences file and keychain service.
inline constexpr const char* kBundleIdentifier = "com.kavo.KavoManager";

// The application's container folder and the standard folders in it:
// Documents/ (database, per-watch folders, logs), Library/Preferences/ (user defaults),
// Library/Caches/ (image cache) and keychain/ (items, owner-only).
class Container : public Replaceable<const Container> {
public:
    explicit Container(std::filesystem::path root);

    // $KAVO_HOME, else $XDG_DATA_HOME/kavomanager, else $HOME/.local/share/kavomanager.
    static Container fromEnvironment();

    // The container in use: the installed one, else the one from the environment.
    static const Container& current();

    [[nodiscard]] const std::filesystem::path& root() const { return root_; }
    [[nodiscard]] std::filesystem::path documents() const { return root_ / "Documents"; }
    [[nodiscard]] std::filesystem::path preferences() const {
        return root_ / "Library" / "Preferences";
    }
    [[nodiscard]] std::filesystem::path caches() const { return root_ / "Library" / "Caches"; }
    [[nodiscard]] std::filesystem::path keychain() const { return root_ / "keychain"; }

    // Creates the standard folders that are missing; the keychain folder is owner-only.
    Result<void> createFolders() const;

private:
    std::filesystem::path root_;
};

}  // namespace platform
