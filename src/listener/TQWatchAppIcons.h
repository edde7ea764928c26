#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "listener/handlers/TQWatchAppIconHandler.h"
#include "platform/foundation/Value.h"

// Keeps the icons the watch sends of its applications, one PNG file per package in the
// folder "AppIcons" of the current watch. The icon at position i belongs to the package at
// position i; a package name that is no safe file name is refused (logged, skipped). What the
// watch or a store package sends is bounded: icons of at most kMaxIconBytes, and at most
// kMaxIcons of them in the folder and in one message.
class TQWatchAppIcons final : public TQWatchAppIconHandler {
public:
    static constexpr const char* kFolder = "AppIcons";
    // A watch holds a few dozen applications; their icons are small pictures.
    static constexpr std::size_t kMaxIcons = 256;
    static constexpr std::size_t kMaxIconBytes = std::size_t{256} << 10;
    static constexpr std::int64_t kMaxIconPixels = std::int64_t{1024} * 1024;

    // What became of one icon given to writeIcon.
    struct Written {
        bool saved = false;
        // Why the folder could not be made, when it could not.
        std::optional<std::string> folderError;
        std::filesystem::path path;
    };

    void saveAppIcon(const platform::Value& message) override;

    // Base64 with every character outside its alphabet left out; nothing when the rest does
    // not decode or decodes to nothing.
    [[nodiscard]] static std::optional<platform::Bytes> decodeBase64ToImageData(
        std::string_view text);
    // Documents/<model number>/AppIcons of the current watch; nothing while no model is known.
    [[nodiscard]] static std::optional<std::filesystem::path> folder();
    // Writes png atomically as folder/<package>.png, making the folder (not its parents).
    // Refuses an icon past kMaxIconBytes, and a new package's once the folder holds kMaxIcons;
    // package must be a safe path component.
    [[nodiscard]] static Written writeIcon(const std::filesystem::path& folder,
                                           const std::string& package,
                                           std::span<const std::uint8_t> png);
};
